#pragma once

#include <string>
#include <vector>

#include <QString>

// A reference player process for one test: started on an address (127.0.0.x inside the test's
// network namespace) with extra command-line options, controlled through its standard input
// (one command a line, one answer line each) and always stopped by the destructor, so no player
// outlives its test.
class CReferencePlayer
{
public:
    explicit CReferencePlayer(std::string sAddress, std::vector<std::string> extraArgs = {});
    ~CReferencePlayer();
    CReferencePlayer(const CReferencePlayer&) = delete;
    CReferencePlayer& operator=(const CReferencePlayer&) = delete;

    // Starts the process and waits (real time, at most nTimeoutMs) for its "ready" line. False
    // with the player's own reason (or ours) in LastError() when it did not get ready.
    bool Start(int nTimeoutMs = 10000);
    // Sends a control command and returns its answer line ("ok ..." or "error ..."); empty
    // when the player does not answer within nTimeoutMs.
    std::string Command(const std::string& sCommand, int nTimeoutMs = 5000);
    // True when Command answered with "ok".
    bool Do(const std::string& sCommand) { return Command(sCommand).rfind("ok", 0) == 0; }
    // Asks the player to quit, then ends it by signal if it does not; idempotent.
    void Stop();
    bool IsRunning() const { return m_nPid > 0; }

    const std::string& Address() const { return m_sAddress; }
    const std::string& Udn() const { return m_sUdn; }
    const std::string& LastError() const { return m_sLastError; }
    QString DescriptionUrl() const;
    QString BaseUrl() const;

    // A value of the player's "status" answer ("power", "wakes", "name", ...), "" when absent.
    std::string StatusValue(const std::string& sKey);

    static std::string BinaryPath();

private:
    bool ReadLine(std::string& sLine, int nTimeoutMs);

    std::string m_sAddress;
    std::vector<std::string> m_extraArgs;
    std::string m_sUdn;
    std::string m_sPort = "60100";
    std::string m_sLastError;
    std::string m_sBuffer;
    int m_nPid = -1;
    int m_nToPlayer = -1;
    int m_nFromPlayer = -1;
};
