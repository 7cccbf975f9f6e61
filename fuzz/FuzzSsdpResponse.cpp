#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "device/SsdpFinder.h"
#include "device/SsdpMessage.h"

// The SSDP answer parser on arbitrary datagrams (seed corpus: tests/data/ssdp/). Whatever it
// accepts must meet the checked form.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize)
{
    const char* p = reinterpret_cast<const char*>(pData);
    SSsdpMessage msg;
    if (ParseSsdpMessage(p, nSize, msg) && (msg.sStartLine.empty() || msg.headers.size() > kMaxSsdpHeaders))
        std::abort();
    SSsdpAnswer answer;
    if (!ParseSsdpResponse(p, nSize, answer))
        return 0;
    if (answer.sLocation.size() > kMaxSsdpLocationBytes || !EqualsNoCase(answer.sLocation.substr(0, 7), "http://"))
        std::abort();
    for (unsigned char c : answer.sLocation) {
        if (c <= 0x20 || c >= 0x7F)
            std::abort();
    }
    if (answer.sUdn.empty() || answer.sUsn.compare(0, answer.sUdn.size(), answer.sUdn) != 0)
        std::abort();
    return 0;
}
