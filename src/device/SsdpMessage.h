#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// One SSDP datagram (an HTTP-like start line and headers over UDP), as read from the network.
// Anyone on the local network can send such a datagram, so the parser is strict about size and
// content and never trusts a length or a terminator it did not check itself.
struct SSsdpMessage
{
    std::string sStartLine;
    // Header names in lower case, values with surrounding blanks removed, in packet order.
    std::vector<std::pair<std::string, std::string>> headers;

    // Value of the first header with that name (any letter case), or nullptr.
    const std::string* Header(std::string_view sName) const;
};

// Limits of a datagram we accept; larger or longer ones are dropped whole.
constexpr std::size_t kMaxSsdpPacketBytes = 8192;
constexpr std::size_t kMaxSsdpHeaders = 64;
constexpr std::size_t kMaxSsdpLineBytes = 2048;

// Parses a datagram: lines end with CR LF or LF, the header block ends at the first empty line
// or at the end of the data; header names are case-insensitive; a line without a colon and a
// folded continuation line are skipped. Returns false (and leaves out unspecified) for a
// datagram that is too large, contains a zero byte or another control character, has an empty
// or over-long start line, too many headers or an over-long line.
bool ParseSsdpMessage(const char* pData, std::size_t nSize, SSsdpMessage& out);

// Case-insensitive ASCII comparison.
bool EqualsNoCase(std::string_view a, std::string_view b);
