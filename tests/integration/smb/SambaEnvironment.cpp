#include <gtest/gtest.h>

#include "support/SambaServer.h"

namespace {

// Where no Samba server can run, the whole executable reports itself skipped with the reason.
class CSambaEnvironment final : public testing::Environment
{
public:
    void SetUp() override { CSambaServer::ExitIfUnavailable(); }
};

[[maybe_unused]] testing::Environment* const g_pSambaEnvironment =
    testing::AddGlobalTestEnvironment(new CSambaEnvironment);

} // namespace
