#pragma once

#include <QObject>
#include <QString>

#include "desktop/IShellOpener.h"

// Opens files, folders and addresses with the desktop's default handler by running xdg-open as a
// child process and judging its exit status: 0 is success, any other status or a program that
// cannot be started is failure. A handler that is still running after a while (a browser that
// keeps xdg-open waiting) counts as success. Use on the user interface thread.
class CShellOpener final : public QObject, public IShellOpener
{
    Q_OBJECT

public:
    static constexpr int kDefaultStillRunningMs = 5000;

    explicit CShellOpener(QString sProgram = QStringLiteral("xdg-open"), int nStillRunningMs = kDefaultStillRunningMs,
                          QObject* pParent = nullptr);

    void Open(const QString& sUrl, Done done) override;

private:
    QString m_sProgram;
    int m_nStillRunningMs;
};
