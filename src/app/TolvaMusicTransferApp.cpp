#include "app/TolvaMusicTransferApp.h"

#include <cstdio>

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include "app/TolvaMusicTransferDlg.h"
#include "desktop/IMessagePresenter.h"
#include "desktop/ISingleInstance.h"
#include "foundation/Environment.h"
#include "foundation/Log.h"
#include "foundation/Paths.h"
#include "foundation/Settings.h"
#include "foundation/StringTable.h"
#include "platform/Clock.h"

CTolvaMusicTransferApp::CTolvaMusicTransferApp(SStartupServices services) : m_services(std::move(services))
{
    if (!m_services.isGuest)
        m_services.isGuest = [] { return IsGuestUser(); };
}

CTolvaMusicTransferApp::~CTolvaMusicTransferApp()
{
    // The main window ends its common manager, which stops and joins every worker.
    m_pMainWnd.reset();
    if (m_pQtTranslator)
        QCoreApplication::removeTranslator(m_pQtTranslator.get());
}

bool CTolvaMusicTransferApp::IsAutoStart(const QStringList& arguments)
{
    // The design's test is on the whole command line: the switch after a blank, anywhere.
    return arguments.join(' ').contains(QLatin1String(" -auto"));
}

QString CTolvaMusicTransferApp::QtLanguageName(unsigned nLanguageId)
{
    switch (nLanguageId) {
    case LANG_ID_GERMAN: return "de";
    case LANG_ID_FRENCH: return "fr";
    case LANG_ID_SPANISH_MODERN: return "es";
    case LANG_ID_JAPANESE: return "ja";
    case LANG_ID_CHINESE_SIMPLIFIED: return "zh_CN";
    default: return QString();
    }
}

unsigned CTolvaMusicTransferApp::SetUpLanguage(unsigned nLanguageId)
{
    unsigned nLanguage = nLanguageId;
    if (!SetStringLanguage(nLanguage)) {
        WriteLogF("Language %u has no string table; using 2057.", nLanguage);
        std::fprintf(stderr, "tolva-music-transfer: no texts for language %u, using English\n", nLanguage);
        nLanguage = LANG_ID_ENGLISH_UK;
    }
    // Qt's own texts (standard buttons, the folder dialog) in the same language.
    if (m_pQtTranslator) {
        QCoreApplication::removeTranslator(m_pQtTranslator.get());
        m_pQtTranslator.reset();
    }
    const QString sQtLanguage = QtLanguageName(nLanguage);
    if (!sQtLanguage.isEmpty()) {
        auto pTranslator = std::make_unique<QTranslator>();
        const QString sDir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
        if (pTranslator->load("qtbase_" + sQtLanguage, sDir)) {
            QCoreApplication::installTranslator(pTranslator.get());
            m_pQtTranslator = std::move(pTranslator);
        } else {
            WriteLog("Qt translations qtbase_" + sQtLanguage + " not found in " + sDir +
                     "; standard buttons stay English.");
        }
    }
    return nLanguage;
}

EStartResult CTolvaMusicTransferApp::InitInstance(const QStringList& arguments)
{
    // The common controls, window class, message filter, shell manager, registry key for the
    // framework and Windows Sockets of the Windows program have no counterpart here: Qt's
    // widgets, the single-instance channel and the POSIX sockets need no set-up. The log needs
    // no lock object either (the log keeps its own).

    // The language is chosen before the guest check so that its message is in the user's
    // language, as the system's own resources would be.
    SetUpLanguage(ChooseLanguage());

    if (m_services.isGuest()) {
        SMessageBox box;
        box.nTextId = 202;
        m_services.presenter.Show(nullptr, box);
        return START_GUEST_REFUSED;
    }

    // A start at logon waits before anything else, so a second instance started at logon waits
    // too; the wait goes through the clock so tests run it in virtual time.
    if (IsAutoStart(arguments))
        Clock().Sleep(kAutoStartDelayMs);

    switch (m_services.singleInstance.TryBecomePrimary()) {
    case SINGLE_INSTANCE_PRIMARY: break;
    case SINGLE_INSTANCE_FORWARDED: return START_SECOND_INSTANCE;
    case SINGLE_INSTANCE_FAILED:
        WriteLog("Another instance holds the lock but did not take ActiveApp.");
        std::fprintf(stderr, "tolva-music-transfer: another instance is running but does not answer\n");
        return START_INSTANCE_UNREACHABLE;
    }

    // "ActiveApp" from a later start: the window comes to the front; before it exists (the setup
    // announcement is still open) the open box does.
    m_services.singleInstance.SetActivateHandler([this](const QString&) {
        if (m_pMainWnd) {
            m_pMainWnd->OnActiveApp();
        } else if (QWidget* pModal = QApplication::activeModalWidget()) {
            pModal->raise();
            pModal->activateWindow();
        }
    });

    if (!CreateAppDataFolder()) {
        // The program still runs (settings, the window); what needs the folder fails later
        // with its own message.
        WriteLog("The application data folder could not be created: " + AppDataFolder());
        std::fprintf(stderr, "tolva-music-transfer: cannot create the application data folder %s\n",
                     qUtf8Printable(AppDataFolder()));
    }

    if (!CTolvaMusicTransferDlg::IsSettingsFileUnreadable() && IsFirstRunPending()) {
        SMessageBox box;
        box.nTextId = 162;
        m_services.presenter.Show(nullptr, box);
    }

    m_pMainWnd = std::make_unique<CTolvaMusicTransferDlg>(SMainWindowServices{
        m_services.presenter, m_services.timers, m_services.shell, nullptr, m_services.pActivity, m_services.pTrayPresence});
    m_pMainWnd->Start();
    m_pMainWnd->show(); // stays hidden when started at logon
    return START_RUNNING;
}

int CTolvaMusicTransferApp::Run()
{
    if (!m_pMainWnd)
        return 1;
    if (m_pMainWnd->IsQuitRequested())
        return 0;
    m_pMainWnd->CommonManager().StartDeviceSearch();
    return QApplication::exec();
}
