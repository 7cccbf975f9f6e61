// tolva-reference-player: one player on one address, for tests, benchmarks and demos. See
// README.md beside this file for its options and control commands.

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSocketNotifier>
#include <QTimer>

#include "HttpResponder.h"
#include "PlayerShares.h"
#include "PlayerState.h"
#include "PlayerWebApi.h"
#include "SsdpResponder.h"

namespace {

// The answers of the control channel go to stdout, one line each, flushed at once, so a test
// that waits for "ok" knows the command has taken effect.
void Reply(QLocalSocket* pClient, const QByteArray& line)
{
    if (pClient) {
        pClient->write(line + "\n");
        pClient->flush();
        return;
    }
    std::fwrite(line.constData(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

bool IsIpv4(const QString& s)
{
    in_addr addr{};
    return inet_pton(AF_INET, s.toLatin1().constData(), &addr) == 1;
}

QString DefaultUdn(const QString& sAddress)
{
    const QByteArray hash =
        QCryptographicHash::hash("tolva-reference-player " + sAddress.toLatin1(), QCryptographicHash::Sha1).toHex();
    return QString("uuid:%1-%2-%3-%4-%5")
        .arg(QString::fromLatin1(hash.mid(0, 8)), QString::fromLatin1(hash.mid(8, 4)),
             QString::fromLatin1(hash.mid(12, 4)), QString::fromLatin1(hash.mid(16, 4)),
             QString::fromLatin1(hash.mid(20, 12)));
}

bool ParsePower(const QString& s, EPowerState* pe)
{
    if (s == "active")
        *pe = POWER_STATE_ACTIVE;
    else if (s == "networkReady")
        *pe = POWER_STATE_NETWORK_READY;
    else if (s == "databaseReady")
        *pe = POWER_STATE_DATABASE_READY;
    else if (s == "standby" || s == "other")
        *pe = POWER_STATE_STANDBY_OTHER;
    else if (s == "off")
        *pe = POWER_STATE_OFF;
    else
        return false;
    return true;
}

bool ParseDescription(const QString& s, EDescriptionVariant* pe)
{
    static const QPair<const char*, EDescriptionVariant> kNames[] = {
        {"normal", DESCRIPTION_NORMAL},
        {"malformed", DESCRIPTION_MALFORMED},
        {"other-service-first", DESCRIPTION_OTHER_SERVICE_FIRST},
        {"no-base-url", DESCRIPTION_NO_BASE_URL},
        {"no-icons", DESCRIPTION_NO_ICONS},
        {"doctype", DESCRIPTION_DOCTYPE},
        {"file", DESCRIPTION_FILE}};
    for (const auto& [pszName, e] : kNames) {
        if (s == pszName) {
            *pe = e;
            return true;
        }
    }
    return false;
}

bool OnOff(const QString& s, bool bDefault, bool* pb)
{
    if (s.isEmpty())
        *pb = bDefault;
    else if (s == "on" || s == "1" || s == "yes")
        *pb = true;
    else if (s == "off" || s == "0" || s == "no")
        *pb = false;
    else
        return false;
    return true;
}

class CPlayer
{
public:
    SPlayerState m_state;
    CPlayerWebApi m_api{m_state};
    CHttpResponder m_http{m_state, m_api};
    CSsdpResponder m_ssdp{m_state};
    CPlayerShares m_shares;
    QString m_sSambaStateDir;

    // Opens the network side as the state says; on failure the reason.
    bool Bind(QString* pError)
    {
        if (m_state.bHttpOn && !m_http.Listen(pError))
            return false;
        if (!m_ssdp.Open(pError))
            return false;
        m_ssdp.SendAlive();
        return true;
    }

    QByteArray Status() const
    {
        return QString("ok address=%1 port=%2 udn=%3 power=%4 pending=%5 wakes=%6 power-queries=%7 "
                       "filetype-queries=%8 requests=%9 searches=%10 ssdp=%11 http=%12 name=%13")
            .arg(m_state.sAddress)
            .arg(m_state.nPort)
            .arg(m_state.sUdn, PowerStateName(m_state.ePower), m_api.ChangePending() ? "yes" : "no")
            .arg(m_state.nWakeRequests)
            .arg(m_state.nPowerQueries)
            .arg(m_state.nFileTypeQueries)
            .arg(m_state.nHttpRequests)
            .arg(m_ssdp.SearchesAnswered())
            .arg(m_state.bSsdpOn ? "on" : "off", m_state.bHttpOn ? "on" : "off", m_state.sFriendlyName)
            .toUtf8();
    }

    // One control command; returns the answer line ("ok ..." or "error ...").
    QByteArray Execute(const QString& sLine, bool* pbQuit)
    {
        const QString sTrimmed = sLine.trimmed();
        const qsizetype nSpace = sTrimmed.indexOf(' ');
        const QString sCommand = nSpace < 0 ? sTrimmed : sTrimmed.left(nSpace);
        const QString sArg = nSpace < 0 ? QString() : sTrimmed.mid(nSpace + 1).trimmed();
        const QStringList args = sArg.split(' ', Qt::SkipEmptyParts);
        QString sError;
        bool bFlag = false;
        bool bOk = false;

        if (sCommand.isEmpty())
            return "error empty command";
        if (sCommand == "quit") {
            *pbQuit = true;
            return "ok bye";
        }
        if (sCommand == "status")
            return Status();
        if (sCommand == "offline") {
            m_ssdp.SendByeBye();
            m_state.bSsdpOn = false;
            m_state.bHttpOn = false;
            m_http.Close();
            return "ok offline";
        }
        if (sCommand == "online") {
            m_state.bSsdpOn = true;
            m_state.bHttpOn = true;
            if (!m_http.Listen(&sError))
                return "error " + sError.toUtf8();
            m_ssdp.SendAlive();
            return "ok online";
        }
        if (sCommand == "ssdp" && OnOff(sArg, true, &bFlag)) {
            if (!bFlag)
                m_ssdp.SendByeBye();
            m_state.bSsdpOn = bFlag;
            if (bFlag)
                m_ssdp.SendAlive();
            return "ok ssdp " + QByteArray(bFlag ? "on" : "off");
        }
        if (sCommand == "http" && OnOff(sArg, true, &bFlag)) {
            m_state.bHttpOn = bFlag;
            if (!bFlag)
                m_http.Close();
            else if (!m_http.Listen(&sError))
                return "error " + sError.toUtf8();
            return "ok http " + QByteArray(bFlag ? "on" : "off");
        }
        if (sCommand == "rename" && !sArg.isEmpty()) {
            m_state.sFriendlyName = sArg;
            m_ssdp.SendAlive();
            return "ok rename " + sArg.toUtf8();
        }
        if (sCommand == "address" && IsIpv4(sArg)) {
            m_ssdp.SendByeBye();
            m_http.Close();
            m_ssdp.Close();
            const QString sOld = m_state.sAddress;
            m_state.sAddress = sArg;
            if (!Bind(&sError)) {
                m_state.sAddress = sOld;
                m_http.Close();
                QString sIgnored;
                Bind(&sIgnored);
                return "error " + sError.toUtf8();
            }
            return "ok address " + sArg.toUtf8();
        }
        if (sCommand == "active" && args.isEmpty()) {
            m_api.SetPowerState(POWER_STATE_ACTIVE);
            return "ok power active";
        }
        if (sCommand == "standby" || sCommand == "power") {
            EPowerState e;
            const QString sWhich = sCommand == "standby" && sArg.isEmpty() ? QString("other") : sArg;
            if (!ParsePower(sWhich, &e) || (sCommand == "standby" && e == POWER_STATE_ACTIVE))
                return "error usage: standby networkReady|databaseReady|other, power active|...|off";
            m_api.SetPowerState(e);
            return "ok power " + QByteArray(PowerStateName(e));
        }
        if (sCommand == "wake-delay") {
            const int n = sArg.toInt(&bOk);
            if (!bOk || n < 0)
                return "error usage: wake-delay <ms>";
            m_state.nWakeDelayMs = n;
            return "ok wake-delay " + QByteArray::number(n);
        }
        if (sCommand == "wake-ignore" && OnOff(sArg, true, &bFlag)) {
            m_state.bWakeIgnored = bFlag;
            return "ok wake-ignore " + QByteArray(bFlag ? "on" : "off");
        }
        if (sCommand == "slow") {
            const int n = sArg.toInt(&bOk);
            if (!bOk || n < 0)
                return "error usage: slow <ms>";
            m_state.nSlowMs = n;
            return "ok slow " + QByteArray::number(n);
        }
        if (sCommand == "http-status" && !args.isEmpty()) {
            const int n = args[0].toInt(&bOk);
            if (!bOk || n < 100 || n > 599)
                return "error usage: http-status <code> [path prefix]";
            m_state.nHttpStatus = n;
            m_state.sHttpStatusPath = args.value(1);
            return "ok http-status " + QByteArray::number(n);
        }
        if (sCommand == "malformed-xml" && OnOff(sArg, true, &bFlag)) {
            m_state.eDescription = bFlag ? DESCRIPTION_MALFORMED : DESCRIPTION_NORMAL;
            return "ok malformed-xml " + QByteArray(bFlag ? "on" : "off");
        }
        if (sCommand == "malformed-json" && OnOff(sArg, true, &bFlag)) {
            m_state.bMalformedJson = bFlag;
            return "ok malformed-json " + QByteArray(bFlag ? "on" : "off");
        }
        if (sCommand == "description") {
            EDescriptionVariant e;
            if (!ParseDescription(sArg, &e) || (e == DESCRIPTION_FILE && m_state.descriptionTemplate.isEmpty()))
                return "error usage: description normal|malformed|other-service-first|no-base-url|no-icons|doctype";
            m_state.eDescription = e;
            return "ok description " + sArg.toUtf8();
        }
        if (sCommand == "file-types") {
            m_state.fileTypes = sArg.split(',', Qt::SkipEmptyParts);
            return "ok file-types " + m_state.fileTypes.join(',').toUtf8();
        }
        if (sCommand == "share-full" || sCommand == "share-space") {
            if (!m_shares.SetFull(sCommand == "share-full", &sError))
                return "error " + sError.toUtf8();
            return "ok " + sCommand.toUtf8();
        }
        if (sCommand == "share-readonly" || sCommand == "share-writable") {
            if (!m_shares.SetReadOnly(sCommand == "share-readonly", &sError))
                return "error " + sError.toUtf8();
            return "ok " + sCommand.toUtf8();
        }
        if (sCommand == "announce") {
            m_ssdp.SendAlive();
            return "ok announce";
        }
        return "error unknown command: " + sTrimmed.toUtf8();
    }
};

} // namespace

int main(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("tolva-reference-player");

    QCommandLineParser parser;
    parser.setApplicationDescription("A network audio player for tests and demos: SSDP, description, web API, shares.");
    parser.addHelpOption();
    const QCommandLineOption address("address", "IPv4 address to serve on (127.0.0.x in tests).", "ip");
    const QCommandLineOption port("port", "HTTP port (default 60100).", "port", "60100");
    const QCommandLineOption name("name", "Friendly name.", "name");
    const QCommandLineOption udn("udn", "UDN (default: derived from the start address).", "uuid:...");
    const QCommandLineOption power("power", "Start state: active, networkReady, databaseReady, other, off.", "state",
                                   "active");
    const QCommandLineOption wakeDelay("wake-delay-ms", "Delay before setPowerStatus takes effect.", "ms", "1000");
    const QCommandLineOption wakeIgnore("wake-ignore", "Accept setPowerStatus but never change state.");
    const QCommandLineOption fileTypes("file-types", "Supported file types, comma-separated.", "list");
    const QCommandLineOption offline("offline", "Start without answering (SSDP and HTTP off).");
    const QCommandLineOption noSsdp("no-ssdp", "Start without answering SSDP (HTTP only).");
    const QCommandLineOption mxSpread("mx-spread", "Spread SSDP answers over the searcher's MX.");
    const QCommandLineOption locationHost("location-host", "Send searchers to this host for the description.", "ip");
    const QCommandLineOption notifyInterval("notify-interval-ms", "Interval of NOTIFY alive (0: only on changes).",
                                            "ms", "900000");
    const QCommandLineOption slow("slow", "Delay of every HTTP answer.", "ms", "0");
    const QCommandLineOption httpStatus("http-status", "Status of every HTTP answer.", "code", "200");
    const QCommandLineOption malformedXml("malformed-xml", "Serve a cut-off description.");
    const QCommandLineOption malformedJson("malformed-json", "Serve cut-off web API answers.");
    const QCommandLineOption description("description",
                                         "Description variant: normal, malformed, other-service-first, no-base-url, "
                                         "no-icons, doctype.",
                                         "variant", "normal");
    const QCommandLineOption descriptionFile(
        "description-file", "Serve this file as the description ({ip} {port} {udn} {name} filled in).", "path");
    const QCommandLineOption internalDir("internal-dir", "Folder of the share Tolva_Internal.", "dir");
    const QCommandLineOption externalDir("external-dir", "Folder of the share Tolva_External.", "dir");
    const QCommandLineOption tmpfs("share-tmpfs-kib", "Mount a tmpfs of this size on each share folder (needs root).",
                                   "KiB", "0");
    const QCommandLineOption samba("samba", "Serve the shares with smbd; its state goes to this folder.", "dir");
    const QCommandLineOption sambaPort("samba-port", "TCP port of the Samba server (default 445).", "port", "445");
    const QCommandLineOption requestLog("request-log", "Append every HTTP request to this file as a JSON line.",
                                        "path");
    const QCommandLineOption control("control-socket", "Also take control commands on this Unix socket.", "path");
    for (const auto* pOption :
         {&address,     &port,        &name,         &udn,           &power,       &wakeDelay,
          &wakeIgnore,  &fileTypes,   &offline,      &noSsdp,        &mxSpread,    &notifyInterval,
          &slow,        &httpStatus,  &malformedXml, &malformedJson, &description, &descriptionFile,
          &internalDir, &externalDir, &tmpfs,        &samba,         &sambaPort,   &requestLog,
          &control,     &locationHost})
        parser.addOption(*pOption);
    parser.process(app);

    auto fail = [](const QString& sWhy) {
        Reply(nullptr, "failed " + sWhy.toUtf8());
        return 1;
    };
    CPlayer player;
    SPlayerState& state = player.m_state;
    state.sAddress = parser.value(address);
    if (!IsIpv4(state.sAddress))
        return fail("--address needs an IPv4 address");
    bool bOk = false;
    const int nPort = parser.value(port).toInt(&bOk);
    if (!bOk || nPort <= 0 || nPort > 65535)
        return fail("bad --port");
    state.nPort = static_cast<quint16>(nPort);
    state.sUdn = parser.isSet(udn) ? parser.value(udn) : DefaultUdn(state.sAddress);
    state.sFriendlyName =
        parser.isSet(name) ? parser.value(name) : "Tessel Player " + state.sAddress.section('.', 3, 3);
    if (!ParsePower(parser.value(power), &state.ePower))
        return fail("bad --power");
    state.nWakeDelayMs = parser.value(wakeDelay).toInt();
    state.bWakeIgnored = parser.isSet(wakeIgnore);
    if (parser.isSet(fileTypes))
        state.fileTypes = parser.value(fileTypes).split(',', Qt::SkipEmptyParts);
    state.bSsdpOn = !parser.isSet(offline) && !parser.isSet(noSsdp);
    state.bHttpOn = !parser.isSet(offline);
    state.bMxSpread = parser.isSet(mxSpread);
    state.sLocationHost = parser.value(locationHost);
    state.nNotifyIntervalMs = parser.value(notifyInterval).toInt();
    state.nSlowMs = parser.value(slow).toInt();
    state.nHttpStatus = parser.value(httpStatus).toInt();
    state.bMalformedJson = parser.isSet(malformedJson);
    if (!ParseDescription(parser.value(description), &state.eDescription))
        return fail("bad --description");
    if (parser.isSet(malformedXml))
        state.eDescription = DESCRIPTION_MALFORMED;
    if (parser.isSet(descriptionFile)) {
        QFile file(parser.value(descriptionFile));
        if (!file.open(QIODevice::ReadOnly))
            return fail("cannot read " + file.fileName());
        state.descriptionTemplate = file.readAll();
        state.eDescription = DESCRIPTION_FILE;
    }
    state.sRequestLogPath = parser.value(requestLog);

    QString sError;
    if (!player.m_shares.Setup(parser.value(internalDir), parser.value(externalDir), parser.value(tmpfs).toLongLong(),
                               &sError))
        return fail(sError);
    if (parser.isSet(samba) &&
        !player.m_shares.StartSamba(state.sAddress, static_cast<quint16>(parser.value(sambaPort).toUInt()),
                                    parser.value(samba), &sError))
        return fail(sError);
    if (!player.Bind(&sError))
        return fail(sError);

    bool bQuit = false;
    auto handleLine = [&](const QByteArray& line, QLocalSocket* pClient) {
        Reply(pClient, player.Execute(QString::fromUtf8(line), &bQuit));
        if (bQuit) {
            player.m_ssdp.SendByeBye();
            QTimer::singleShot(0, &app, &QCoreApplication::quit);
        }
    };

    // Control from stdin; its end (the test that started us is gone) ends the player too.
    QByteArray stdinBuffer;
    QSocketNotifier stdinNotifier(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&stdinNotifier, &QSocketNotifier::activated, [&] {
        char chunk[4096];
        const ssize_t n = read(STDIN_FILENO, chunk, sizeof chunk);
        if (n <= 0) {
            stdinNotifier.setEnabled(false);
            player.m_ssdp.SendByeBye();
            QTimer::singleShot(0, &app, &QCoreApplication::quit);
            return;
        }
        stdinBuffer.append(chunk, n);
        qsizetype nEnd;
        while ((nEnd = stdinBuffer.indexOf('\n')) >= 0) {
            const QByteArray line = stdinBuffer.left(nEnd);
            stdinBuffer.remove(0, nEnd + 1);
            handleLine(line, nullptr);
        }
    });

    QLocalServer controlServer;
    if (parser.isSet(control)) {
        QLocalServer::removeServer(parser.value(control));
        if (!controlServer.listen(parser.value(control)))
            return fail("control socket: " + controlServer.errorString());
        QObject::connect(&controlServer, &QLocalServer::newConnection, [&] {
            while (QLocalSocket* pClient = controlServer.nextPendingConnection()) {
                QObject::connect(pClient, &QLocalSocket::disconnected, pClient, &QObject::deleteLater);
                QObject::connect(pClient, &QLocalSocket::readyRead, pClient, [&, pClient] {
                    while (pClient->canReadLine())
                        handleLine(pClient->readLine().trimmed(), pClient);
                });
            }
        });
    }

    // SIGTERM and SIGINT end the player as "quit" does, so its mounts and smbd go with it.
    static int s_signalPipe[2] = {-1, -1};
    if (pipe(s_signalPipe) == 0) {
        auto onSignal = [](int) {
            const char c = 1;
            [[maybe_unused]] ssize_t n = write(s_signalPipe[1], &c, 1);
        };
        std::signal(SIGTERM, onSignal);
        std::signal(SIGINT, onSignal);
    }
    QSocketNotifier signalNotifier(s_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, [&] {
        signalNotifier.setEnabled(false);
        player.m_ssdp.SendByeBye();
        app.quit();
    });

    Reply(nullptr,
          QString("ready address=%1 port=%2 udn=%3").arg(state.sAddress).arg(state.nPort).arg(state.sUdn).toUtf8());
    const int nResult = app.exec();
    player.m_http.Close();
    player.m_ssdp.Close();
    player.m_shares.Teardown();
    return nResult;
}
