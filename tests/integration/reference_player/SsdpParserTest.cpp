#include <gtest/gtest.h>

#include <random>
#include <string>

#include <QDir>
#include <QFile>

#include "device/SsdpFinder.h"
#include "device/SsdpMessage.h"

namespace {

std::string ReadFixture(const QString& sName)
{
    QFile file(QString(TOLVA_TEST_DATA_DIR) + "/ssdp/" + sName);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << sName.toStdString();
    return file.readAll().toStdString();
}

QStringList Fixtures(const QString& sPattern)
{
    return QDir(QString(TOLVA_TEST_DATA_DIR) + "/ssdp").entryList({sPattern}, QDir::Files, QDir::Name);
}

bool Parse(const std::string& s, SSsdpAnswer& answer)
{
    return ParseSsdpResponse(s.data(), s.size(), answer);
}

constexpr char kUdn[] = "uuid:11111111-2222-3333-4444-555555555555";

} // namespace

// Every well-formed answer in the fixtures is read with the same values, whatever its line ends,
// letter case, blanks or junk lines; every hostile or foreign datagram is refused.
TEST(SsdpResponseParser, FixturesParseOrFailAsNamed)
{
    const QStringList good = Fixtures("good-*");
    const QStringList bad = Fixtures("bad-*");
    ASSERT_GE(good.size(), 8);
    ASSERT_GE(bad.size(), 20);
    for (const QString& sName : good) {
        SSsdpAnswer answer;
        ASSERT_TRUE(Parse(ReadFixture(sName), answer)) << sName.toStdString();
        EXPECT_EQ(answer.sUdn, kUdn) << sName.toStdString();
        EXPECT_EQ(answer.sSt, kTesselServiceType) << sName.toStdString();
        if (sName != "good-duplicate-location-first-wins.txt") {
            EXPECT_EQ(answer.sLocation, "http://127.0.0.2:60100/tolva.xml") << sName.toStdString();
        }
    }
    for (const QString& sName : bad) {
        SSsdpAnswer answer;
        EXPECT_FALSE(Parse(ReadFixture(sName), answer)) << sName.toStdString();
    }
}

TEST(SsdpResponseParser, HeaderDetails)
{
    SSsdpAnswer answer;
    ASSERT_TRUE(Parse(ReadFixture("good-duplicate-location-first-wins.txt"), answer));
    EXPECT_EQ(answer.sLocation, "http://127.0.0.2:60100/first.xml");

    ASSERT_TRUE(Parse(ReadFixture("good-mixed-case-headers.txt"), answer));
    EXPECT_EQ(answer.sUsn, std::string(kUdn) + "::" + kTesselServiceType); // blanks around the value cut
    EXPECT_EQ(answer.sServer, "x");

    ASSERT_TRUE(Parse(ReadFixture("good-usn-without-separator.txt"), answer));
    EXPECT_EQ(answer.sUsn, kUdn);

    // A body after the header block is not read: its LOCATION does not win.
    ASSERT_TRUE(Parse(ReadFixture("good-with-body.txt"), answer));
    EXPECT_EQ(answer.sLocation, "http://127.0.0.2:60100/tolva.xml");
}

TEST(SsdpResponseParser, SizeBounds)
{
    std::string packet = ReadFixture("good-crlf.txt");
    SSsdpAnswer answer;
    // Padding with a harmless header up to the limit is fine; one byte more is refused whole.
    std::string padded = packet.substr(0, packet.size() - 2);
    while (padded.size() + 2 < kMaxSsdpPacketBytes)
        padded +=
            "X-PAD: " + std::string(std::min<std::size_t>(1000, kMaxSsdpPacketBytes - padded.size()), 'p') + "\r\n";
    padded.resize(kMaxSsdpPacketBytes - 2);
    padded += "\r\n";
    // Make sure the padding did not end up as a line over the limit or as too many headers.
    SSsdpMessage msg;
    ASSERT_TRUE(ParseSsdpMessage(padded.data(), padded.size(), msg));
    EXPECT_TRUE(Parse(padded, answer));
    EXPECT_FALSE(Parse(padded + "\n", answer));
    EXPECT_FALSE(ParseSsdpResponse(nullptr, 10, answer));
    EXPECT_FALSE(ParseSsdpResponse(packet.data(), 0, answer));
}

// Mutated answers (bytes flipped, inserted, cut) never crash the parser or read out of bounds
// (the sanitizer build checks), and whatever it accepts still meets the checked form.
TEST(SsdpResponseParser, MutatedPacketsStayWithinTheCheckedForm)
{
    const std::string seed = ReadFixture("good-crlf.txt");
    std::mt19937 random(20140307);
    int nAccepted = 0;
    for (int i = 0; i < 20000; ++i) {
        std::string s = seed;
        const int nEdits = 1 + static_cast<int>(random() % 8);
        for (int e = 0; e < nEdits && !s.empty(); ++e) {
            const std::size_t nPos = random() % s.size();
            switch (random() % 4) {
            case 0: s[nPos] = static_cast<char>(random() % 256); break;
            case 1: s.insert(nPos, 1, static_cast<char>(random() % 256)); break;
            case 2: s.erase(nPos, 1 + random() % 16); break;
            default: s.resize(nPos); break;
            }
        }
        SSsdpAnswer answer;
        if (!ParseSsdpResponse(s.data(), s.size(), answer))
            continue;
        ++nAccepted;
        ASSERT_TRUE(EqualsNoCase(answer.sLocation.substr(0, 7), "http://"));
        ASSERT_LE(answer.sLocation.size(), kMaxSsdpLocationBytes);
        for (unsigned char c : answer.sLocation)
            ASSERT_TRUE(c > 0x20 && c < 0x7F);
        ASSERT_FALSE(answer.sUdn.empty());
        ASSERT_EQ(answer.sUsn.compare(0, answer.sUdn.size(), answer.sUdn), 0);
    }
    // Many mutations hit only harmless bytes; the parser must still take those.
    EXPECT_GT(nAccepted, 100);
}

TEST(SsdpSearchMessage, AsSentOnTheWire)
{
    EXPECT_EQ(BuildSsdpSearch(kTesselServiceType, 2),
              "M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\nMX: 2\r\n"
              "ST: urn:schemas-brenvik-com:service:TesselWebAPI:1\r\n\r\n");
    // What we send, we can read: the player side parses the same datagram.
    const std::string s = BuildSsdpSearch("ssdp:all", 1);
    SSsdpMessage msg;
    ASSERT_TRUE(ParseSsdpMessage(s.data(), s.size(), msg));
    EXPECT_EQ(msg.sStartLine, "M-SEARCH * HTTP/1.1");
    ASSERT_NE(msg.Header("St"), nullptr);
    EXPECT_EQ(*msg.Header("st"), "ssdp:all");
}
