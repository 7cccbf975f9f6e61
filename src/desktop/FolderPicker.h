#pragma once

#include "desktop/IFolderPicker.h"

// The folder dialog of the desktop (the platform's own where Qt has one), starting at the whole
// file system and offering folders only.
class CFolderPicker final : public IFolderPicker
{
public:
    QString PickFolder(QWidget* pOwner, const QString& sTitle) override;
};
