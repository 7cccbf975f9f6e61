// Discovery of 20 reference players on 20 loopback addresses: the time from the start of one
// search pass to the last device reported (its SSDP answer taken and its description read), as
// a share of the pass length. The players spread their answers over the search's MX as real
// devices do. Runs itself inside a private network namespace.

#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

#include <QByteArray>

#include "BenchReport.h"
#include "device/UPnPDeviceFinder.h"
#include "support/ReferencePlayer.h"

int main(int argc, char** argv)
{
    if (qgetenv("TOLVA_IN_NETNS") != "1") {
        const std::string sScript = std::string(TOLVA_TEST_DATA_DIR) + "/../support/run-in-netns.sh";
        std::vector<char*> args = {const_cast<char*>(sScript.c_str())};
        for (int i = 0; i < argc; ++i)
            args.push_back(argv[i]);
        args.push_back(nullptr);
        execv(args[0], args.data());
        std::fprintf(stderr, "cannot run %s\n", sScript.c_str());
        return 1;
    }
    constexpr int kPlayers = 20;
    std::vector<std::unique_ptr<CReferencePlayer>> players;
    for (int i = 0; i < kPlayers; ++i) {
        players.push_back(std::make_unique<CReferencePlayer>("127.0.0." + std::to_string(10 + i),
                                                             std::vector<std::string>{"--mx-spread"}));
        if (!players.back()->Start()) {
            std::fprintf(stderr, "player %d: %s\n", i, players.back()->LastError().c_str());
            return 1;
        }
    }
    SSsdpSearchOptions options; // the program's pass: MX 2, 3000 ms
    CUPnPDeviceFinder finder({"127.0.0.1"}, options);
    double dWorstRatio = 0;
    double dSumMs = 0;
    constexpr int kPasses = 3;
    for (int nPass = 0; nPass < kPasses; ++nPass) {
        std::set<QString> found;
        const auto start = std::chrono::steady_clock::now();
        auto last = start;
        finder.RunPass([&](const SUPnPDevice& device) {
            found.insert(device.sUdn);
            last = std::chrono::steady_clock::now();
        });
        const double dMs = std::chrono::duration<double, std::milli>(last - start).count();
        if (found.size() != kPlayers) {
            std::fprintf(stderr, "pass %d found %zu of %d players\n", nPass, found.size(), kPlayers);
            return 1;
        }
        dSumMs += dMs;
        dWorstRatio = std::max(dWorstRatio, dMs / options.nPassMs);
    }
    const double dMeanMs = dSumMs / kPasses;
    PrintBenchResult("discovery of 20 players (last device / pass length)", dMeanMs, options.nPassMs,
                     options.nPassMs / dMeanMs,
                     "ms; MX 2 s, pass 3 s; worst pass " + std::to_string(dWorstRatio).substr(0, 5) + " of the pass");
    return 0;
}
