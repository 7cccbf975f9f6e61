// Renders the desktop program's windows in each language to PNG files, at the scale of the
// environment (QT_SCALE_FACTOR), and lists every text that does not fit its control:
//   tolva-screenshots <output folder>
// writes <output folder>/<language>/<scale>/<window>.png and exits with 1 when a text is cut off.

#include <cstdio>
#include <functional>

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include "TextFitCheck.h"
#include "app/ResourceIds.h"
#include "app/TolvaMusicTransferApp.h"
#include "app/TolvaMusicTransferDlg.h"
#include "desktop/MessagePresenter.h"
#include "desktop/ShellOpener.h"
#include "desktop/SingleInstance.h"
#include "desktop/TimerService.h"
#include "device/DeviceInfo.h"
#include "foundation/Environment.h"
#include "foundation/MessageIds.h"
#include "foundation/Settings.h"
#include "pages/PropertyTreePageSyncSettings.h"

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
        QTimer::singleShot(0, [&, sName] {
            if (QWidget* pBox = QApplication::activeModalWidget())
                Shoot(pBox, sName);
            else
                m_offenders << sName + ": the message box did not open";
            presenter.CloseOpen();
        });
        SMessageBox box;
        box.nTextId = nTextId;
        box.eButtons = eButtons;
        box.eIcon = eIcon;
        box.nDefault = eButtons == MSG_BUTTONS_YESNO ? IDNO : IDOK;
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

void ShootConsole(CShooter& shooter, const SMainWindowServices& services)
{
    WriteSettingDword(kSettingFirstRun, 0);
    CTolvaMusicTransferDlg wnd(services);
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
    shooter.Shoot(&wnd, "console-contents");
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

void ShootWizard(CShooter& shooter, const SMainWindowServices& services)
{
    CTolvaMusicTransferDlg wnd(services);
    wnd.Start();
    wnd.show();
    shooter.Shoot(&wnd, "wizard-connection");
    wnd.SendMessage(CWindowMessage(WM_ENABLE_NEXT, 0, 1));
    wnd.OnCommand(IDC_NEXT);
    shooter.Shoot(&wnd, "wizard-contents");
    wnd.OnCommand(IDC_NEXT);
    shooter.Shoot(&wnd, "wizard-transfer");
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
        shooter.ShootBox(presenter, 162, MSG_BUTTONS_OK, MSG_ICON_NONE, "box-setup-wizard");
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
        offenders << shooter.Offenders();
    }
    for (const QString& sOffender : offenders)
        std::fprintf(stderr, "scale %s: %s\n", qUtf8Printable(sScale), qUtf8Printable(sOffender));
    std::printf("screenshots at scale %s in %s: %lld problem(s)\n", qUtf8Printable(sScale), qUtf8Printable(sOut),
                static_cast<long long>(offenders.size()));
    return offenders.isEmpty() ? 0 : 1;
}
