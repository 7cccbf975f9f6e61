#pragma once

#include <QString>

class QWidget;

// The desktop's folder dialog, behind a seam so tests answer it without a window.
class IFolderPicker
{
public:
    virtual ~IFolderPicker() = default;
    // Shows the folder dialog modally over pOwner with the title and returns the chosen folder's
    // local path; empty when the user cancelled or chose something without a local path.
    virtual QString PickFolder(QWidget* pOwner, const QString& sTitle) = 0;
};
