#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>

#include "device/NetworkWatcher.h"

namespace {

bool HasAdapter(const QString& sAddress, const QString& sMask)
{
    for (const SLocalAdapter& a : GetLocalAdapters()) {
        if (a.sAddress == sAddress)
            return a.sMask == sMask;
    }
    return false;
}

bool RunCommand(const std::string& sCommand)
{
    return std::system((sCommand + " 2>/dev/null").c_str()) == 0;
}

} // namespace

TEST(SubnetPrefix, LeadingFullMaskOctets)
{
    EXPECT_EQ(SubnetPrefix("192.168.1.20", "255.255.255.0"), "192.168.1");
    EXPECT_EQ(SubnetPrefix("172.16.5.9", "255.255.0.0"), "172.16");
    EXPECT_EQ(SubnetPrefix("10.1.2.3", "255.0.0.0"), "10");
    // A full mask leaves the last box free; a gap stops the count.
    EXPECT_EQ(SubnetPrefix("10.1.2.3", "255.255.255.255"), "10.1.2");
    EXPECT_EQ(SubnetPrefix("10.1.2.3", "255.254.255.0"), "10");
    EXPECT_EQ(SubnetPrefix("10.1.2.3", "255.255.255.128"), "10.1.2");
    // No 255 at the start, or a mask without a dot: the whole address.
    EXPECT_EQ(SubnetPrefix("10.1.2.3", "0.0.0.0"), "10.1.2.3");
    EXPECT_EQ(SubnetPrefix("10.1.2.3", "255"), "10.1.2.3");
    EXPECT_EQ(SubnetPrefix("10.1.2.3", ""), "10.1.2.3");
}

TEST(SubnetPrefix, DistinctPrefixesInStringOrder)
{
    const std::vector<SLocalAdapter> adapters = {{"192.168.1.20", "255.255.255.0"},
                                                 {"192.168.1.33", "255.255.255.0"},
                                                 {"10.0.0.5", "255.0.0.0"},
                                                 {"172.16.4.4", "255.255.0.0"}};
    const std::vector<QString> expected = {"10", "172.16", "192.168.1"};
    EXPECT_EQ(SubnetPrefixes(adapters), expected);
    EXPECT_TRUE(SubnetPrefixes({}).empty());
}

// Inside the private namespace: a dummy interface gets an address and loses it again; the
// watcher reports both changes, and the adapter list follows. Documentation-range addresses on
// an interface that leads nowhere: nothing is ever sent.
TEST(NetworkWatcher, ReportsAddressChangesAndStopsCleanly)
{
    if (qgetenv("TOLVA_IN_NETNS") != "1")
        GTEST_SKIP() << "run through ctest (inside a private network namespace)";
    // Loopback only so far: nothing to offer.
    EXPECT_TRUE(GetLocalAdapters().empty());
    // A dummy interface, or where the kernel has none, one end of a veth pair whose other end
    // stays in this namespace as well.
    if (!RunCommand("ip link add tolvad0 type dummy") && !RunCommand("ip link add tolvad0 type veth peer name tolvad1"))
        GTEST_SKIP() << "neither dummy nor veth interfaces here";

    std::mutex mutex;
    std::condition_variable changed;
    int nCalls = 0;
    CNetworkWatcher watcher;
    ASSERT_TRUE(watcher.Start([&] {
        std::lock_guard<std::mutex> lock(mutex);
        ++nCalls;
        changed.notify_all();
    }));
    EXPECT_FALSE(watcher.Start([] {})); // one thread per watcher
    auto waitForCall = [&](int nAtLeast) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(5), [&] { return nCalls >= nAtLeast; });
    };

    ASSERT_TRUE(RunCommand("ip link set tolvad0 up"));
    ASSERT_TRUE(waitForCall(1));
    int nBefore;
    {
        std::lock_guard<std::mutex> lock(mutex);
        nBefore = nCalls;
    }
    ASSERT_TRUE(RunCommand("ip addr add 198.51.100.7/24 dev tolvad0"));
    ASSERT_TRUE(waitForCall(nBefore + 1));
    EXPECT_TRUE(HasAdapter("198.51.100.7", "255.255.255.0"));
    // Only the first address of an interface counts.
    ASSERT_TRUE(RunCommand("ip addr add 203.0.113.9/16 dev tolvad0"));
    EXPECT_FALSE(HasAdapter("203.0.113.9", "255.255.0.0"));
    ASSERT_EQ(SubnetPrefixes(GetLocalAdapters()), std::vector<QString>{"198.51.100"});

    {
        std::lock_guard<std::mutex> lock(mutex);
        nBefore = nCalls;
    }
    ASSERT_TRUE(RunCommand("ip addr flush dev tolvad0"));
    ASSERT_TRUE(waitForCall(nBefore + 1));
    EXPECT_TRUE(GetLocalAdapters().empty());

    const auto start = std::chrono::steady_clock::now();
    watcher.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_FALSE(watcher.IsRunning());
    watcher.Stop();
    RunCommand("ip link del tolvad0");
}
