#include "support/ReferencePlayer.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

std::int64_t NowRealMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string Field(const std::string& sLine, const std::string& sKey)
{
    const std::string sNeedle = " " + sKey + "=";
    const std::size_t nPos = sLine.find(sNeedle);
    if (nPos == std::string::npos)
        return {};
    const std::size_t nStart = nPos + sNeedle.size();
    // "name" is the last field and may contain blanks.
    if (sKey == "name")
        return sLine.substr(nStart);
    return sLine.substr(nStart, sLine.find(' ', nStart) - nStart);
}

} // namespace

CReferencePlayer::CReferencePlayer(std::string sAddress, std::vector<std::string> extraArgs)
    : m_sAddress(std::move(sAddress)), m_extraArgs(std::move(extraArgs))
{
    for (std::size_t i = 0; i + 1 < m_extraArgs.size(); ++i) {
        if (m_extraArgs[i] == "--port")
            m_sPort = m_extraArgs[i + 1];
    }
}

CReferencePlayer::~CReferencePlayer()
{
    Stop();
}

std::string CReferencePlayer::BinaryPath()
{
    return std::string(TOLVA_BINARY_DIR) + "/tools/reference-player/tolva-reference-player";
}

QString CReferencePlayer::DescriptionUrl() const
{
    return QString::fromStdString("http://" + m_sAddress + ":" + m_sPort + "/tolva.xml");
}

QString CReferencePlayer::BaseUrl() const
{
    return QString::fromStdString("http://" + m_sAddress + ":" + m_sPort + "/api");
}

bool CReferencePlayer::Start(int nTimeoutMs)
{
    if (m_nPid > 0)
        return true;
    int toPlayer[2];
    int fromPlayer[2];
    if (pipe2(toPlayer, O_CLOEXEC) != 0)
        return false;
    if (pipe2(fromPlayer, O_CLOEXEC) != 0) {
        close(toPlayer[0]);
        close(toPlayer[1]);
        return false;
    }
    std::vector<std::string> args = {BinaryPath(), "--address", m_sAddress};
    args.insert(args.end(), m_extraArgs.begin(), m_extraArgs.end());
    std::vector<char*> argv;
    for (std::string& s : args)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    const pid_t pid = fork();
    if (pid == 0) {
        dup2(toPlayer[0], STDIN_FILENO);
        dup2(fromPlayer[1], STDOUT_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(toPlayer[0]);
    close(fromPlayer[1]);
    if (pid < 0) {
        close(toPlayer[1]);
        close(fromPlayer[0]);
        m_sLastError = std::string("fork: ") + std::strerror(errno);
        return false;
    }
    m_nPid = pid;
    m_nToPlayer = toPlayer[1];
    m_nFromPlayer = fromPlayer[0];

    std::string sLine;
    if (!ReadLine(sLine, nTimeoutMs) || sLine.rfind("ready", 0) != 0) {
        m_sLastError = sLine.empty() ? "no ready line from " + BinaryPath() : sLine;
        Stop();
        return false;
    }
    m_sUdn = Field(sLine, "udn");
    return true;
}

bool CReferencePlayer::ReadLine(std::string& sLine, int nTimeoutMs)
{
    sLine.clear();
    const std::int64_t nDeadline = NowRealMs() + nTimeoutMs;
    for (;;) {
        const std::size_t nEnd = m_sBuffer.find('\n');
        if (nEnd != std::string::npos) {
            sLine = m_sBuffer.substr(0, nEnd);
            m_sBuffer.erase(0, nEnd + 1);
            return true;
        }
        const std::int64_t nLeft = nDeadline - NowRealMs();
        if (m_nFromPlayer < 0 || nLeft <= 0)
            return false;
        pollfd fd{m_nFromPlayer, POLLIN, 0};
        const int nReady = poll(&fd, 1, static_cast<int>(nLeft));
        if (nReady < 0 && errno == EINTR)
            continue;
        if (nReady <= 0)
            return false;
        char chunk[4096];
        const ssize_t n = read(m_nFromPlayer, chunk, sizeof chunk);
        if (n <= 0)
            return false;
        m_sBuffer.append(chunk, static_cast<std::size_t>(n));
    }
}

std::string CReferencePlayer::Command(const std::string& sCommand, int nTimeoutMs)
{
    if (m_nToPlayer < 0)
        return {};
    const std::string sLine = sCommand + "\n";
    if (write(m_nToPlayer, sLine.data(), sLine.size()) != static_cast<ssize_t>(sLine.size()))
        return {};
    std::string sAnswer;
    ReadLine(sAnswer, nTimeoutMs);
    return sAnswer;
}

std::string CReferencePlayer::StatusValue(const std::string& sKey)
{
    return Field(Command("status"), sKey);
}

void CReferencePlayer::Stop()
{
    if (m_nPid <= 0)
        return;
    if (m_nToPlayer >= 0) {
        const char quit[] = "quit\n";
        [[maybe_unused]] ssize_t n = write(m_nToPlayer, quit, sizeof quit - 1);
    }
    // The player ends within a few milliseconds of "quit"; a hung one is ended by signal.
    bool bEnded = false;
    for (const int nSignal : {0, SIGTERM, SIGKILL}) {
        if (nSignal != 0)
            kill(m_nPid, nSignal);
        const std::int64_t nDeadline = NowRealMs() + 3000;
        while (NowRealMs() < nDeadline) {
            int nStatus = 0;
            const pid_t r = waitpid(m_nPid, &nStatus, WNOHANG);
            if (r == m_nPid || (r < 0 && errno == ECHILD)) {
                bEnded = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        if (bEnded)
            break;
    }
    if (m_nToPlayer >= 0)
        close(m_nToPlayer);
    if (m_nFromPlayer >= 0)
        close(m_nFromPlayer);
    m_nToPlayer = -1;
    m_nFromPlayer = -1;
    m_nPid = -1;
    m_sBuffer.clear();
}
