#pragma once

#include <cstdio>
#include <string>

// One result line of a benchmark, collected by scripts/bench.sh into its table:
//   BENCH<TAB>name<TAB>our figure<TAB>peer's figure<TAB>ratio<TAB>unit and note
// ratio > 1 means we are better (for throughput: ours / peer's; for times: peer's / ours).
inline void PrintBenchResult(const std::string& sName, double dOurs, double dPeer, double dRatio,
                             const std::string& sUnitAndNote)
{
    std::printf("BENCH\t%s\t%.3f\t%.3f\t%.3f\t%s\n", sName.c_str(), dOurs, dPeer, dRatio, sUnitAndNote.c_str());
    std::fflush(stdout);
}
