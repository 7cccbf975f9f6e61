#pragma once

#include <functional>

#include <QString>

// Opens a file, folder or address with the desktop's default handler (the file manager for
// smb://, the browser for the help page). The result is judged by the handler program's exit
// status, because the desktop may have no handler for an address at all.
class IShellOpener
{
public:
    using Done = std::function<void(bool bOpened)>;
    virtual ~IShellOpener() = default;
    // Returns at once; done (may be empty) runs later on the user interface thread.
    virtual void Open(const QString& sUrl, Done done) = 0;
};
