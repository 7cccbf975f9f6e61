#include "desktop/FolderPicker.h"

#include <QFileDialog>

QString CFolderPicker::PickFolder(QWidget* pOwner, const QString& sTitle)
{
    // No start folder: the dialog opens where the desktop's dialog last was, with the whole file
    // system reachable. A result without a local path (a network location of the desktop's
    // dialog) counts as no choice.
    const QUrl url = QFileDialog::getExistingDirectoryUrl(pOwner, sTitle, QUrl(), QFileDialog::ShowDirsOnly,
                                                          QStringList{QStringLiteral("file")});
    return url.isLocalFile() ? url.toLocalFile() : QString();
}
