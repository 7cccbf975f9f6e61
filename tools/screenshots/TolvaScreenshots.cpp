// Renders the desktop program's windows in each language to PNG files, at the scale of the
// environment (QT_SCALE_FACTOR), and lists every text that does not fit its control:
//   tolva-screenshots <output folder>
// writes <output folder>/<language>/<scale>/<window>.png and exits with 1 when a text is cut off.

#include <cstdio>
#include <functional>

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include "TextFitCheck.h"
#include "app/AboutDlg.h"
#include "app/RescanDlg.h"
#include "app/ResourceIds.h"
#include "app/TolvaMusicTransferApp.h"
#include "app/TolvaMusicTransferDlg.h"
#include "app/TransferOutcome.h"
#include "app/WaitDlg.h"
#include "app/WizardEndDlg.h"
#include "controls/ConnectionView.h"
#include "controls/CustomListCtrl.h"
#include "desktop/MessagePresenter.h"
#include "desktop/ShellOpener.h"
#include "desktop/SingleInstance.h"
#include "desktop/TimerService.h"
#include "device/DeviceInfo.h"
#include "foundation/Environment.h"
#include "foundation/MessageIds.h"
#include "foundation/Paths.h"
#include "foundation/Settings.h"
#include "pages/DetailDialog.h"
#include "pages/PropertyTreePageConnection.h"
#include "pages/PropertyTreePageContentsSettings.h"
#include "pages/PropertyTreePageSyncSettings.h"
#include "sync/TransferHistory.h"

namespace {

struct SLanguage
{
    unsigned nId;
    const char* pszFolder;
};
constexpr SLanguage kLanguages[] = {{LANG_ID_ENGLISH_UK, "en"}, {LANG_ID_GERMAN, "de"},
                                    {LANG_ID_FRENCH, "fr"},     {LANG_ID_SPANISH_MODERN, "es"},
                                    {LANG_ID_JAPANESE, "ja"},   {LANG_ID_CHINESE_SIMPLIFIED, "zh"}};

class CShooter
{
public:
    CShooter(QString sFolder, const char* pszLanguage) : m_sFolder(std::move(sFolder)), m_pszLanguage(pszLanguage)
    {
        QDir().mkpath(m_sFolder);
    }

    void Shoot(QWidget* pWindow, const QString& sName)
    {
        QApplication::processEvents();
        const QString sPath = m_sFolder + "/" + sName + ".png";
        if (!pWindow->grab().save(sPath)) {
            m_offenders << sPath + ": could not be written";
            return;
        }
        for (const QString& sOffender : FindCutOffTexts(pWindow))
            m_offenders << QString("%1/%2: %3").arg(m_pszLanguage, sName, sOffender);
    }

    // Shows a message box as the program does and photographs it while it is open.
    void ShootBox(IMessagePresenter& presenter, unsigned nTextId, EMessageButtons eButtons, EMessageIcon eIcon,
                  const QString& sName)
    {
        SMessageBox box;
        box.nTextId = nTextId;
        box.eButtons = eButtons;
        box.eIcon = eIcon;
        box.nDefault = eButtons == MSG_BUTTONS_YESNO ? IDNO : IDOK;
        ShootBox(presenter, box, sName);
    }
    void ShootBox(IMessagePresenter& presenter, const SMessageBox& box, const QString& sName)
    {
        QTimer::singleShot(0, [&, sName] {
            if (QWidget* pBox = QApplication::activeModalWidget())
                Shoot(pBox, sName);
            else
                m_offenders << sName + ": the message box did not open";
            presenter.CloseOpen();
        });
        presenter.Show(nullptr, box);
    }

    const QStringList& Offenders() const { return m_offenders; }

private:
    QString m_sFolder;
    const char* m_pszLanguage;
    QStringList m_offenders;
};

// A fresh profile per language, so each start is a first start or a plain console start.
void UseHome(const QString& sHome)
{
    qputenv("HOME", QFile::encodeName(sHome));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(sHome + "/.config"));
    qputenv("XDG_DATA_HOME", QFile::encodeName(sHome + "/.local/share"));
    qputenv("XDG_MUSIC_DIR", QFile::encodeName(sHome + "/Music"));
}

// This PC's network as a documentation address, so the pictures never show the machine's own.
void UseDocumentationNetwork(CTolvaMusicTransferDlg& wnd)
{
    wnd.ConnectionPage().SetNetworkWatchEnabled(false);
    wnd.ConnectionPage().SetAdapterSource([] { return std::vector<SLocalAdapter>{{"192.0.2.7", "255.255.255.0"}}; });
}

// The Contents Settings page with the lists a player may bring: none, a few (one unticked, one
// selected), a folder with a long path, and the full hundred scrolled to the end; the type list
// all ticked, none ticked and mixed.
void ShootContents(CShooter& shooter, CTolvaMusicTransferDlg& wnd, const QString& sUuid)
{
    CPropertyTreePageContentsSettings& page = wnd.ContentsPage();
    const QStringList types = {"mp3", "wma", "aac", "m4a", "flac", "wav", "aiff", "dsf", "dff", "alac", "ogg"};
    auto typesTicked = [&](const std::function<bool(int)>& ticked) {
        QStringList entries;
        for (int i = 0; i < types.size(); ++i)
            entries << types[i] + (ticked(i) ? "|1" : "|0");
        return entries;
    };
    page.LoadContentsPage(sUuid, {}, {});
    shooter.Shoot(&wnd, "console-contents");
    page.LoadContentsPage(sUuid,
                          {"/home/ann/Music/|1", "/home/ann/Music/Live recordings/|0", "/media/ann/USB/Albums/|1"},
                          typesTicked([](int) { return true; }));
    CCustomListCtrl& folders = page.FolderListCtrl();
    folders.setCurrentItem(folders.topLevelItem(2));
    page.DelButton()->setEnabled(true);
    shooter.Shoot(&wnd, "console-contents-three-folders");
    page.LoadContentsPage(sUuid,
                          {"/home/ann/Music/|1",
                           "/media/ann/Archive drive with a long name/Collections/Jazz and blues from the fifties and "
                           "sixties/Remastered editions (2019)/Disc 1/|1"},
                          typesTicked([](int) { return false; }));
    shooter.Shoot(&wnd, "console-contents-long-path");
    QStringList hundred;
    for (int i = 1; i <= 100; ++i)
        hundred << QString("/home/ann/Music/Artist %1/|%2").arg(i, 3, 10, QChar('0')).arg(i % 7 == 0 ? 0 : 1);
    page.LoadContentsPage(sUuid, hundred, typesTicked([](int i) { return i % 3 != 1; }));
    folders.scrollToBottom();
    shooter.Shoot(&wnd, "console-contents-hundred-folders");
}

void ShootConsole(CShooter& shooter, const SMainWindowServices& services)
{
    WriteSettingDword(kSettingFirstRun, 0);
    CTolvaMusicTransferDlg wnd(services);
    UseDocumentationNetwork(wnd);
    wnd.Start();
    wnd.show();
    // A selected player, as the console shows it most of the time.
    SDeviceSnapshot fields;
    fields.sUuid = "uuid:screenshot";
    fields.sIp = "192.0.2.10";
    fields.sFriendlyName = "Living Room";
    wnd.CommonManager().DeviceManager().AddDevice(std::make_unique<CDeviceInfo>(fields));
    wnd.SendMessage(CWindowMessage::WithPayload(WM_SELECT_DEVICE_CARD, QString(fields.sUuid)));
    wnd.SendMessage(CWindowMessage(WM_CHANGE_MODE, DM_CONSOLE, 0));
    wnd.SendMessage(
        CWindowMessage::WithPayload(WM_SET_DEVICE_PICTURE_TEXT, std::pair<QString, QString>("HAP-Z1ES", fields.sIp)));
    wnd.SendMessage(CWindowMessage::WithPayload(WM_SHOW_EXPLORE, QString(), 0, 1));
    shooter.Shoot(&wnd, "console-connection");
    wnd.OnCommand(ID_PAGE_CONTENTS);
    ShootContents(shooter, wnd, fields.sUuid);
    wnd.OnCommand(ID_PAGE_TRANSFER);
    shooter.Shoot(&wnd, "console-transfer");
    // The Transfer Settings page through a transfer: preparing, in progress, finished.
    CPropertyTreePageSyncSettings& page = wnd.SyncPage();
    page.ShowPreparing();
    shooter.Shoot(&wnd, "console-transfer-preparing");
    page.ApplyProgress(0, 12);
    QThread::msleep(20);
    page.ApplyFileCopying(480'000);
    page.ApplyProgress(3, 12);
    shooter.Shoot(&wnd, "console-transfer-progress");
    page.EndTransfer(0);
    shooter.Shoot(&wnd, "console-transfer-finished");
    page.ClearStatusText();
    // Without a player: only Connection can be reached.
    wnd.SendMessage(CWindowMessage(WM_SHOW_EXPLORE, 0, 0));
    wnd.SendMessage(CWindowMessage(WM_SET_DEVICE_PICTURE_TEXT));
    wnd.OnCommand(ID_PAGE_CONNECTION);
    wnd.SendMessage(CWindowMessage(WM_CHANGE_MODE, DM_CONSOLE_NO_DEVICE, 0));
    shooter.Shoot(&wnd, "console-no-device");
}

// The offline dialog's view of a main window that never finds its player.
class CNoPlayerHost final : public IOfflineDialogHost
{
public:
    bool IsCurrentDeviceListed() const override { return false; }
    void SetRescanning(bool) override {}
    void OnOfflineDialogStarted() override {}
    void OnDeviceFoundAgain() override {}
    void OnSearchGivenUp() override {}
    void OnSelectDevice(bool) override {}
};

// The Connection page as players arrive: none, one, three, seven (with a long name and one with
// "&"), a selected card, a manual add in progress; then the small dialogs (the wizard-end dialog
// with the wizard).
void ShootConnection(CShooter& shooter, const SMainWindowServices& services)
{
    WriteSettingDword(kSettingFirstRun, 0);
    CTolvaMusicTransferDlg wnd(services);
    CPropertyTreePageConnection& page = wnd.ConnectionPage();
    UseDocumentationNetwork(wnd);
    wnd.Start();
    wnd.show();
    shooter.Shoot(&wnd, "connection-empty");
    const char* const apszNames[] = {"Living Room", "Study",  "Kitchen & Dining", "Bedroom upstairs (left side)",
                                     "Attic",       "Garage", "Guest Room"};
    const auto add = [&](int nFrom, int nTo) {
        for (int i = nFrom; i < nTo; ++i) {
            SDeviceSnapshot fields;
            fields.sUuid = QString("uuid:screenshot-%1").arg(i);
            fields.sIp = QString("192.0.2.%1").arg(10 + i);
            fields.sFriendlyName = apszNames[i];
            wnd.CommonManager().DeviceManager().AddDevice(std::make_unique<CDeviceInfo>(fields));
        }
        QApplication::processEvents();
    };
    add(0, 1);
    shooter.Shoot(&wnd, "connection-one");
    add(1, 3);
    shooter.Shoot(&wnd, "connection-three");
    page.OnCardClicked(1);
    shooter.Shoot(&wnd, "connection-selected");
    page.View()->ScrollToRow(1);
    shooter.Shoot(&wnd, "connection-ampersand");
    add(3, 7);
    page.OnCardClicked(3);
    shooter.Shoot(&wnd, "connection-seven-long-name");
    page.View()->ScrollToRow(3);
    shooter.Shoot(&wnd, "connection-seven-last-row");
    page.StartManualAdd();
    QApplication::processEvents();
    shooter.Shoot(&wnd, "connection-manual-add");
    page.OnManualAddFinished();
    QApplication::processEvents();

    CNoPlayerHost host;
    CRescanDlg offline(host, services.timers, &wnd);
    offline.show();
    shooter.Shoot(&offline, "dialog-offline");
    offline.Rescan();
    shooter.Shoot(&offline, "dialog-offline-searching");
    offline.close();
    CWaitDlg wait(services.timers, &wnd);
    wait.show();
    shooter.Shoot(&wait, "dialog-wait");
    wait.Close();
    CAboutDlg about(&wnd);
    about.show();
    shooter.Shoot(&about, "dialog-about");
    about.close();
    CDetailDialog detail(&wnd);
    detail.show();
    shooter.Shoot(&detail, "dialog-address-help");
    detail.close();
}

// The wizard as a first start shows it: no player yet, a player chosen, its lists, the transfer
// options, then the end dialog as End opens it (and, without a player, the end dialog that offers
// no transfer).
void ShootWizard(CShooter& shooter, const SMainWindowServices& services)
{
    CTolvaMusicTransferDlg wnd(services);
    UseDocumentationNetwork(wnd);
    wnd.Start();
    wnd.show();
    shooter.Shoot(&wnd, "wizard-connection");
    SDeviceSnapshot fields;
    fields.sUuid = "uuid:screenshot-wizard";
    fields.sIp = "192.0.2.10";
    fields.sFriendlyName = "Living Room";
    fields.supportedTypes = {"mp3", "flac", "wav"};
    wnd.CommonManager().DeviceManager().AddDevice(std::make_unique<CDeviceInfo>(fields));
    QApplication::processEvents();
    wnd.ConnectionPage().OnCardClicked(0);
    shooter.Shoot(&wnd, "wizard-connection-chosen");
    wnd.OnCommand(IDC_NEXT);
    wnd.ContentsPage().LoadContentsPage(fields.sUuid, {"/home/ann/Music/|1", "/media/ann/USB/Albums/|0"},
                                        {"mp3|1", "flac|1", "wav|0"});
    shooter.Shoot(&wnd, "wizard-contents");
    wnd.OnCommand(IDC_NEXT);
    shooter.Shoot(&wnd, "wizard-transfer");
    QTimer::singleShot(0, &wnd, [&] {
        auto* pDialog = qobject_cast<CWizardEndDlg*>(QApplication::activeModalWidget());
        if (!pDialog)
            return;
        shooter.Shoot(pDialog, "wizard-end");
        pDialog->done(CWizardEndDlg::kResultQuit);
    });
    wnd.OnCommand(IDC_END);
    shooter.Shoot(&wnd, "wizard-finished");
    CWizardEndDlg noPlayer(&wnd);
    noPlayer.SetStartAllowed(false);
    noPlayer.show();
    shooter.Shoot(&noPlayer, "wizard-end-no-player");
    noPlayer.close();
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const QStringList arguments = QCoreApplication::arguments();
    const QString sOut = arguments.size() > 1 ? arguments[1] : QString("screenshots");
    QString sScale = qEnvironmentVariable("QT_SCALE_FACTOR", "1");

    CMessagePresenter presenter;
    CTimerService timers;
    CShellOpener shell;
    CSingleInstance singleInstance;
    const SMainWindowServices services{presenter, timers, shell};
    QStringList offenders;
    for (const SLanguage& language : kLanguages) {
        QTemporaryDir home;
        UseHome(home.path());
        CTolvaMusicTransferApp tolva({presenter, timers, shell, singleInstance, {}});
        if (tolva.SetUpLanguage(language.nId) != language.nId)
            offenders << QString("%1: the program has no texts in this language").arg(language.pszFolder);
        CShooter shooter(QString("%1/%2/%3").arg(sOut, language.pszFolder, sScale), language.pszFolder);
        ShootWizard(shooter, services);
        ShootConsole(shooter, services);
        {
            // A fresh profile again: the console start above saved its player.
            QTemporaryDir connectionHome;
            UseHome(connectionHome.path());
            ShootConnection(shooter, services);
            UseHome(home.path());
        }
        shooter.ShootBox(presenter, 162, MSG_BUTTONS_OK, MSG_ICON_NONE, "box-setup-wizard");
        shooter.ShootBox(presenter, 174, MSG_BUTTONS_YESNO, MSG_ICON_NONE, "box-question-174");
        shooter.ShootBox(presenter, 175, MSG_BUTTONS_YESNO, MSG_ICON_WARNING, "box-revert-question");
        // The outcome of a transfer, and the questions around one.
        const std::pair<unsigned, EMessageIcon> outcomes[] = {
            {156, MSG_ICON_NONE},  {157, MSG_ICON_NONE},  {185, MSG_ICON_ERROR}, {200, MSG_ICON_NONE},
            {151, MSG_ICON_ERROR}, {154, MSG_ICON_ERROR}, {150, MSG_ICON_NONE},  {187, MSG_ICON_NONE},
            {159, MSG_ICON_NONE},  {158, MSG_ICON_NONE},  {173, MSG_ICON_NONE},  {153, MSG_ICON_ERROR}};
        for (const auto& [nId, eIcon] : outcomes)
            shooter.ShootBox(presenter, nId, MSG_BUTTONS_OK, eIcon, QString("box-outcome-%1").arg(nId));
        for (const unsigned nId : {186u, 161u, 155u})
            shooter.ShootBox(presenter, nId, MSG_BUTTONS_YESNO, MSG_ICON_WARNING, QString("box-question-%1").arg(nId));
        shooter.ShootBox(presenter, 160, MSG_BUTTONS_YESNO, MSG_ICON_NONE, "box-question-160");
        // What a transfer's outcome must not hide, another transfer on the profile, and a High
        // priority the account may not have.
        STransferOutcome outcome;
        outcome.bWindowShown = true;
        outcome.bFromPage = true;
        outcome.bHistoryNotWritten = true;
        outcome.sHistoryPath = HistoryPathFor("uuid:4d1e0b62-5a17-4c3e-9f2b-00a0de5f1c77");
        shooter.ShootBox(presenter, TransferOutcomeBox(outcome), "box-outcome-history-not-written");
        outcome.eCode = EC_DEVICE_FULL;
        shooter.ShootBox(presenter, TransferOutcomeBox(outcome), "box-outcome-151-history-not-written");
        outcome = {};
        outcome.bWindowShown = true;
        outcome.bFromPage = true;
        outcome.eCode = EC_ACCESS_DENIED;
        outcome.eRepeatedRefusal = EC_ACCESS_DENIED;
        outcome.nRefusalsInARow = 3;
        shooter.ShootBox(presenter, TransferOutcomeBox(outcome), "box-outcome-refused-in-a-row");
        shooter.ShootBox(presenter, TransferLockedBox("tolva (process 4711)"), "box-transfer-running");
        shooter.ShootBox(presenter, 1161, MSG_BUTTONS_OK, MSG_ICON_WARNING, "box-priority-high-refused");
        shooter.ShootBox(presenter, ListsNotWrittenBox(AppDataFolder()), "box-lists-not-written");
        offenders << shooter.Offenders();
    }
    for (const QString& sOffender : offenders)
        std::fprintf(stderr, "scale %s: %s\n", qUtf8Printable(sScale), qUtf8Printable(sOffender));
    std::printf("screenshots at scale %s in %s: %lld problem(s)\n", qUtf8Printable(sScale), qUtf8Printable(sOut),
                static_cast<long long>(offenders.size()));
    return offenders.isEmpty() ? 0 : 1;
}
