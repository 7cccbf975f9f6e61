#pragma once

#include <functional>
#include <memory>

#include <QStringList>

class IInputActivityMonitor;
class IMessagePresenter;
class ITrayPresence;
class IShellOpener;
class ISingleInstance;
class ITimerService;
class QTranslator;
class CTolvaMusicTransferDlg;

// The services start-up works through; the program passes the real ones, tests doubles.
struct SStartupServices
{
    IMessagePresenter& presenter;
    ITimerService& timers;
    IShellOpener& shell;
    ISingleInstance& singleInstance;
    // The signed-in user is a guest (tests replace the account check).
    std::function<bool()> isGuest;
    // The automatic transfer's input watch and the notification area (null in tests: none).
    IInputActivityMonitor* pActivity = nullptr;
    ITrayPresence* pTrayPresence = nullptr;
};

enum EStartResult
{
    START_RUNNING,              // the main window exists; Run() runs the program
    START_GUEST_REFUSED,        // a guest account: string 202 was shown, nothing else was created
    START_SECOND_INSTANCE,      // another instance runs and was asked to show itself
    START_INSTANCE_UNREACHABLE, // another instance holds the lock but could not be reached
};

// The application: everything from process start to the end of the program. InitInstance runs
// the start-up steps in order (guest check, the delay of a start at logon, language, single
// instance, application data folder, setup announcement, main window); Run() runs the program
// until it quits; the destructor ends the main window with its managers and workers.
class CTolvaMusicTransferApp
{
public:
    explicit CTolvaMusicTransferApp(SStartupServices services);
    ~CTolvaMusicTransferApp();
    CTolvaMusicTransferApp(const CTolvaMusicTransferApp&) = delete;
    CTolvaMusicTransferApp& operator=(const CTolvaMusicTransferApp&) = delete;

    // arguments: the program's command line (program name first).
    EStartResult InitInstance(const QStringList& arguments);
    // Runs the event loop until the program quits; returns its exit code.
    int Run();
    CTolvaMusicTransferDlg* MainWindow() const { return m_pMainWnd.get(); }

    // The delay of a start at logon (" -auto" in the command line), in ms.
    static constexpr int kAutoStartDelayMs = 15000;
    // The command line asks for the start at logon: " -auto" anywhere in it.
    static bool IsAutoStart(const QStringList& arguments);
    // Selects the string table of a language (the English one, with a log line, when the program
    // has none for it) and installs Qt's own translations for it. Returns the language in use.
    unsigned SetUpLanguage(unsigned nLanguageId);
    // The language of Qt's own translations ("de", "zh_CN"); empty for English.
    static QString QtLanguageName(unsigned nLanguageId);

private:
    SStartupServices m_services;
    std::unique_ptr<QTranslator> m_pQtTranslator;
    std::unique_ptr<CTolvaMusicTransferDlg> m_pMainWnd;
};
