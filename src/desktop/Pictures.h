#pragma once

#include <QIcon>
#include <QPixmap>
#include <QSize>

// The program's pictures and icons by resource id (107 application, 186 default device picture,
// 210 to 219 tray icons, 239/242/243 the IP-address help), drawn from their SVG sources, so they
// are crisp at every size and scale.

// The picture nId drawn into logicalSize (its own size when empty) at the given device pixel
// ratio, kept in proportion and centred on a transparent background; a null pixmap for an id
// the program does not have.
QPixmap LoadPicture(unsigned nId, QSize logicalSize = QSize(), qreal devicePixelRatio = 1.0);
// The picture's own size in logical pixels; empty for an unknown id.
QSize PictureSize(unsigned nId);
// An icon with the usual sizes at scales 1 and 2; a null icon for an unknown id. Each call draws
// afresh, so callers that change icons often (the tray's animation) load theirs once and keep them.
QIcon LoadIcon(unsigned nId);
