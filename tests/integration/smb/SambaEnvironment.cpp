#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "support/SambaServer.h"

namespace {

// Where no Samba server can run, the whole executable reports itself skipped (exit code 77, a
// skip for CTest) with the reason, instead of passing with nothing tested.
class CSambaEnvironment final : public testing::Environment
{
public:
    void SetUp() override
    {
        const QString sReason = CSambaServer::UnavailableReason();
        if (sReason.isEmpty())
            return;
        std::fprintf(stderr, "SKIPPED: %s\n", sReason.toLocal8Bit().constData());
        std::fflush(nullptr);
        std::_Exit(77);
    }
};

[[maybe_unused]] testing::Environment* const g_pSambaEnvironment =
    testing::AddGlobalTestEnvironment(new CSambaEnvironment);

} // namespace
