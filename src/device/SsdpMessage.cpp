#include "device/SsdpMessage.h"

namespace {

char LowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string_view TrimBlanks(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

// Header names are HTTP tokens: visible ASCII without separators.
bool IsTokenChar(unsigned char c)
{
    if (c <= 0x20 || c >= 0x7F)
        return false;
    switch (c) {
    case '(':
    case ')':
    case '<':
    case '>':
    case '@':
    case ',':
    case ';':
    case ':':
    case '\\':
    case '"':
    case '/':
    case '[':
    case ']':
    case '?':
    case '=':
    case '{':
    case '}': return false;
    default: return true;
    }
}

} // namespace

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    }
    return true;
}

const std::string* SSsdpMessage::Header(std::string_view sName) const
{
    for (const auto& [name, value] : headers) {
        if (EqualsNoCase(name, sName))
            return &value;
    }
    return nullptr;
}

bool ParseSsdpMessage(const char* pData, std::size_t nSize, SSsdpMessage& out)
{
    if (pData == nullptr || nSize == 0 || nSize > kMaxSsdpPacketBytes)
        return false;
    out.sStartLine.clear();
    out.headers.clear();

    const std::string_view data(pData, nSize);
    std::size_t nPos = 0;
    bool bFirst = true;
    while (nPos < data.size()) {
        std::size_t nEnd = data.find('\n', nPos);
        const bool bLast = nEnd == std::string_view::npos;
        if (bLast)
            nEnd = data.size();
        std::string_view line = data.substr(nPos, nEnd - nPos);
        nPos = bLast ? data.size() : nEnd + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.size() > kMaxSsdpLineBytes)
            return false;
        // Tabs are allowed as blanks; any other control character (a zero byte, a lone CR,
        // escape sequences) marks a packet nobody well-behaved sends.
        for (unsigned char c : line) {
            if ((c < 0x20 && c != '\t') || c == 0x7F)
                return false;
        }
        if (bFirst) {
            line = TrimBlanks(line);
            if (line.empty())
                return false;
            out.sStartLine.assign(line);
            bFirst = false;
            continue;
        }
        if (line.empty())
            break; // end of the header block; a body, if any, is not ours to read
        if (line.front() == ' ' || line.front() == '\t')
            continue; // folded continuation lines are obsolete; skip rather than guess
        const std::size_t nColon = line.find(':');
        if (nColon == std::string_view::npos || nColon == 0)
            continue;
        const std::string_view name = line.substr(0, nColon);
        bool bToken = true;
        for (unsigned char c : name)
            bToken = bToken && IsTokenChar(c);
        if (!bToken)
            continue;
        if (out.headers.size() >= kMaxSsdpHeaders)
            return false;
        std::string sName;
        sName.reserve(name.size());
        for (char c : name)
            sName.push_back(LowerAscii(c));
        out.headers.emplace_back(std::move(sName), std::string(TrimBlanks(line.substr(nColon + 1))));
    }
    return !bFirst;
}
