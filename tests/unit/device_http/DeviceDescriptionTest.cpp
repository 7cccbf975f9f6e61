#include <chrono>

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "device/DeviceDescription.h"
#include "device/DeviceInfo.h"
#include "device/UPnPDeviceFinder.h"
#include "foundation/Paths.h"
#include "support/TestHome.h"
#include "support/TinyHttpServer.h"
#include "unit/device_http/DeviceHttpTestUtil.h"

namespace {

using CConnection = CTinyHttpServer::CConnection;
using SRequest = CTinyHttpServer::SRequest;

QString Fixture(const char* pszName)
{
    return QString::fromUtf8(ReadTestFile(QString(TOLVA_TEST_DATA_DIR) + "/device/" + pszName));
}

// A description around a device body, in the UPnP device namespace.
QString Description(const QString& sDeviceBody)
{
    return R"(<?xml version="1.0"?><root xmlns="urn:schemas-upnp-org:device-1-0"><device>)" + sDeviceBody +
           "</device></root>";
}

QString Service(const char* pszType)
{
    return QString("<service><serviceType>%1</serviceType></service>").arg(pszType);
}

QString VendorInfo(const char* pszBaseUrl, const char* pszNamespace = "urn:schemas-brenvik-com:av")
{
    return QString(R"(<av:X_TesselWebAPI_DeviceInfo xmlns:av="%1"><av:X_TesselWebAPI_BaseURL>%2)"
                   "</av:X_TesselWebAPI_BaseURL></av:X_TesselWebAPI_DeviceInfo>")
        .arg(pszNamespace, pszBaseUrl);
}

QString Icon(const char* pszMime, const char* pszWidth, const char* pszUrl)
{
    QString s = "<icon>";
    if (pszMime)
        s += QString("<mimetype>%1</mimetype>").arg(pszMime);
    if (pszWidth)
        s += QString("<width>%1</width>").arg(pszWidth);
    if (pszUrl)
        s += QString("<url>%1</url>").arg(pszUrl);
    return s + "</icon>";
}

TEST(DeviceDescriptionParse, PlayerDescriptionGivesItsFourValues)
{
    const QString sText = Fixture("player.xml");
    const SDeviceDescription d = ParseDeviceDescription(sText);
    EXPECT_TRUE(d.bParsed);
    EXPECT_EQ(d.sUuid, "uuid:00000000-0000-1010-8000-0011aabbccdd");
    EXPECT_TRUE(d.bIsPlayer);
    EXPECT_EQ(d.sBaseUrl, "http://127.0.0.1:60200/tessel");
    EXPECT_EQ(d.sJpegIconUrl, "/icons/small.jpg"); // the 48-pixel one, not the first
    EXPECT_EQ(ExtractFriendlyName(sText), "Living Room & Kitchen");
}

TEST(DeviceDescriptionParse, OnlyTheFirstServiceWithTheExactTypeMakesAPlayer)
{
    const char* pszPlayer = "urn:schemas-brenvik-com:service:TesselWebAPI:1";
    const QString sVendor = VendorInfo("http://1.2.3.4/api");
    struct SCase
    {
        QString sServices;
        bool bPlayer;
    };
    const SCase cases[] = {
        {Service(pszPlayer), true},
        {Service("urn:schemas-upnp-org:service:ContentDirectory:1") + Service(pszPlayer), false},
        {Service("urn:schemas-brenvik-com:service:tesselwebapi:1"), false},
        {Service("urn:schemas-brenvik-com:service:TesselWebAPI:2"), false},
        {Service("urn:schemas-brenvik-com:service:TesselWebAPI:1x"), false},
        {"<service><serviceType>\n  urn:schemas-brenvik-com:service:TesselWebAPI:1\n</serviceType></service>", true},
        {"<service/>", false},
        {"", false},
    };
    for (const SCase& c : cases) {
        const SDeviceDescription d = ParseDeviceDescription(
            Description("<UDN>uuid:a</UDN><serviceList>" + c.sServices + "</serviceList>" + sVendor));
        EXPECT_EQ(d.bIsPlayer, c.bPlayer) << c.sServices.toStdString();
        EXPECT_EQ(d.sBaseUrl, c.bPlayer ? "http://1.2.3.4/api" : "") << c.sServices.toStdString();
        EXPECT_EQ(d.sUuid, "uuid:a");
    }
    // The vendor elements count only in their own namespace, device elements only in theirs.
    const QString sList = "<serviceList>" + Service(pszPlayer) + "</serviceList>";
    EXPECT_EQ(ParseDeviceDescription(Description(sList + VendorInfo("x", "urn:other"))).sBaseUrl, "");
    const SDeviceDescription plain = ParseDeviceDescription("<root><device><UDN>uuid:a</UDN></device></root>");
    EXPECT_TRUE(plain.bParsed);
    EXPECT_EQ(plain.sUuid, "");
}

TEST(DeviceDescriptionParse, TheIconIsTheFirst48PixelJpeg)
{
    struct SCase
    {
        QString sIcons;
        const char* pszExpected;
    };
    const SCase cases[] = {
        {Icon("image/jpeg", "120", "/big.jpg") + Icon("image/jpeg", "48", "/small.jpg"), "/small.jpg"},
        {Icon("image/png", "48", "/a.png") + Icon("image/png", "120", "/b.png"), ""},
        {Icon("image/jpeg", nullptr, "/nowidth.jpg") + Icon("image/jpeg", "48", "/second.jpg"), "/second.jpg"},
        {Icon("IMAGE/JPEG", "48", "/upper.jpg"), ""},
        {Icon("image/jpeg", "048", "/zero.jpg"), ""},
        {Icon(nullptr, "48", "/nomime.jpg"), ""},
        {Icon("image/jpeg", "48", nullptr) + Icon("image/jpeg", "48", "http://h/abs.jpg"), "http://h/abs.jpg"},
        {Icon("image/jpeg", "48", "icons/relative.jpg"), "icons/relative.jpg"},
        {"", ""},
    };
    for (const SCase& c : cases) {
        const SDeviceDescription d = ParseDeviceDescription(Description("<iconList>" + c.sIcons + "</iconList>"));
        EXPECT_EQ(d.sJpegIconUrl, c.pszExpected) << c.sIcons.toStdString();
    }
}

TEST(DeviceDescriptionParse, FriendlyNameIsFoundByTextWithEntitiesReplacedOnceInOrder)
{
    struct SCase
    {
        const char* pszText;
        const char* pszName;
    };
    const SCase cases[] = {
        {"<friendlyName>&amp;lt;</friendlyName>", "&lt;"}, // stays escaped once
        {"<friendlyName>&lt;&gt;&apos;&quot;&amp;</friendlyName>", "<>'\"&"},
        {"<friendlyName>&amp;amp;</friendlyName>", "&amp;"},
        {"<friendlyName>&#65;</friendlyName>", "&#65;"}, // no character references
        {"<friendlyName><![CDATA[x]]></friendlyName>", "<![CDATA[x]]>"},
        {"<friendlyName>a</friendlyName><friendlyName>b</friendlyName>", "a"},
        {"<friendlyName>unterminated", ""},
        {"no name</friendlyName>", ""},
        {"</friendlyName><friendlyName>late", ""},
        {"<friendlyName></friendlyName>", ""},
        {"<d:friendlyName>prefixed</d:friendlyName>", ""},
    };
    for (const SCase& c : cases)
        EXPECT_EQ(ExtractFriendlyName(QString::fromUtf8(c.pszText)), QString::fromUtf8(c.pszName)) << c.pszText;
}

TEST(DeviceDescriptionParse, DtdsParseButNothingOutsideTheDocumentIsRead)
{
    // A file the external entity points at.
    CTestHome home;
    const QString sSecret = home.Path("secret.txt");
    WriteTestFile(sSecret, "TOP-SECRET");
    QString sText = Fixture("doctype-entity.xml");
    sText.replace("file:///etc/hostname", "file://" + sSecret);
    const SDeviceDescription d = ParseDeviceDescription(sText);
    EXPECT_TRUE(d.bParsed);
    EXPECT_EQ(d.sUuid, "uuid:brenvik--1"); // internal entity in, external one left out
    EXPECT_EQ(ExtractFriendlyName(sText), "\"Den\" '2' <b> &lt;");

    // An external DTD and entity on the network are not fetched either.
    CTinyHttpServer server;
    const QString sRemote = "<?xml version=\"1.0\"?><!DOCTYPE root SYSTEM \"" + server.Url("/dtd") +
                            "\" [<!ENTITY r SYSTEM \"" + server.Url("/entity") + "\">]>" +
                            R"(<root xmlns="urn:schemas-upnp-org:device-1-0"><device><UDN>u&r;</UDN></device></root>)";
    EXPECT_EQ(ParseDeviceDescription(sRemote).sUuid, "u");
    EXPECT_EQ(server.RequestCount(), 0);
}

TEST(DeviceDescriptionParse, EntityBombsStaySmallAndFast)
{
    const auto start = std::chrono::steady_clock::now();
    const SDeviceDescription bomb = ParseDeviceDescription(Fixture("billion-laughs.xml"));
    EXPECT_LE(bomb.sUuid.size(), kMaxDescriptionValueChars);

    // Below the parser's own amplification limits but far beyond any sensible value.
    QString sWide = R"(<?xml version="1.0"?><!DOCTYPE root [<!ENTITY a ")" + QString(20000, 'x') + "\">]>" +
                    R"(<root xmlns="urn:schemas-upnp-org:device-1-0"><device><UDN>)";
    for (int i = 0; i < 200; ++i)
        sWide += "&a;";
    sWide += "</UDN></device></root>";
    const SDeviceDescription wide = ParseDeviceDescription(sWide);
    EXPECT_EQ(wide.sUuid, "");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

// The device search and the manual add read a description with one reader: the same document
// gives both the same UDN, whatever entities, CDATA or character set it uses, so a player is
// never two records.
TEST(DeviceDescriptionParse, SearchAndManualAddReadTheSameUdn)
{
    const char* const documents[] = {
        "<?xml version=\"1.0\"?><!DOCTYPE root [<!ENTITY id \"4711\">]>"
        "<root xmlns=\"urn:schemas-upnp-org:device-1-0\"><device><UDN>uuid:player-&id;</UDN>"
        "<friendlyName>Den &amp; Hall</friendlyName></device></root>",
        "<?xml version=\"1.0\"?><root xmlns=\"urn:schemas-upnp-org:device-1-0\"><device>"
        "<UDN><![CDATA[uuid:player-]]>4711</UDN></device></root>",
        "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><root xmlns=\"urn:schemas-upnp-org:device-1-0\">"
        "<device><UDN>uuid:k\xc3\xbcche</UDN></device></root>",
    };
    for (const char* pszDocument : documents) {
        const std::string bytes(pszDocument);
        SUPnPDevice device;
        ASSERT_TRUE(ParseFoundDevice(bytes, "http://127.0.0.2:60100/tolva.xml", &device)) << pszDocument;
        EXPECT_EQ(device.sUdn, ParseDeviceDescription(DescriptionText(bytes)).sUuid) << pszDocument;
    }
}

TEST(DeviceDescriptionParse, BrokenDocumentsGiveNoValues)
{
    for (const QString& sText : {Fixture("truncated.xml"), QString("<root"), QString(""), QString("not xml at all"),
                                 QString("<root xmlns=\"urn:schemas-upnp-org:device-1-0\"><device></root>")}) {
        const SDeviceDescription d = ParseDeviceDescription(sText);
        EXPECT_FALSE(d.bParsed) << sText.toStdString();
        EXPECT_TRUE(d.sUuid.isEmpty() && d.sBaseUrl.isEmpty() && d.sJpegIconUrl.isEmpty() && !d.bIsPlayer);
    }
    // The declared encoding gives way to the bytes as the locale reads them (UTF-8 here).
    const QByteArray bytes = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>"
                             "<root xmlns=\"urn:schemas-upnp-org:device-1-0\"><device>"
                             "<friendlyName>K\xc3\xbc"
                             "che</friendlyName><UDN>uuid:k\xc3\xbc</UDN></device></root>";
    const QString sText = DescriptionText(bytes.toStdString());
    EXPECT_EQ(ParseDeviceDescription(sText).sUuid, QString::fromUtf8("uuid:k\xc3\xbc"));
    EXPECT_EQ(ExtractFriendlyName(sText), QString::fromUtf8("K\xc3\xbc"
                                                            "che"));
}

class DeviceDescriptionFetchTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_home.EnableLog();
        m_server.SetHandler([this](const SRequest& request, CConnection& c) {
            if (request.target == "/tolva.xml")
                c.Send(CTinyHttpServer::Response(200, m_description));
            else if (request.target.startsWith("/icons/"))
                c.Send(CTinyHttpServer::Response(200, "picture " + request.target, "image/jpeg"));
            else
                c.Send(CTinyHttpServer::Response(404, "no"));
        });
    }
    QStringList LogLinesWith(const QString& sText) const { return LogMessages(m_home).filter(sText); }

    CTestHome m_home;
    SNoProxyEnv m_noProxy;
    QByteArray m_description = ReadTestFile(QString(TOLVA_TEST_DATA_DIR) + "/device/player.xml");
    CTinyHttpServer m_server;
};

TEST_F(DeviceDescriptionFetchTest, EachExtractionFetchesAndLogs)
{
    const QString sUrl = m_server.Url("/tolva.xml");
    QString sValue;
    EXPECT_TRUE(GetBaseUrl(sUrl, &sValue));
    EXPECT_EQ(sValue, "http://127.0.0.1:60200/tessel");
    EXPECT_TRUE(GetBaseUrlFromUrl(sUrl, &sValue));
    EXPECT_TRUE(GetDeviceUuid(sUrl, &sValue));
    EXPECT_EQ(sValue, "uuid:00000000-0000-1010-8000-0011aabbccdd");
    EXPECT_TRUE(GetIconUrl(sUrl, &sValue));
    EXPECT_EQ(sValue, "/icons/small.jpg");
    EXPECT_TRUE(GetFriendlyName(sUrl, &sValue));
    EXPECT_EQ(sValue, "Living Room & Kitchen");
    EXPECT_EQ(m_server.RequestCount(), 5); // nothing is cached
    EXPECT_EQ(LogLinesWith("Get strXmlContent is success.").size(), 5);
    EXPECT_EQ(LogLinesWith("GetBaseUrl: strBaseUrl = http://127.0.0.1:60200/tessel.").size(), 2);
    EXPECT_EQ(LogLinesWith("strJpeg: strBaseUrl = /icons/small.jpg.").size(), 1);
    EXPECT_EQ(LogLinesWith("strJpeg: strBaseUrl = Living Room & Kitchen.").size(), 1);

    // Not a player: the search's check fails, the manual add's fetch succeeds with no value.
    QString sDesc = QString::fromUtf8(m_description);
    sDesc.replace("TesselWebAPI:1</serviceType>", "TesselWebAPI:9</serviceType>");
    m_description = sDesc.toUtf8();
    sValue = "x";
    EXPECT_FALSE(GetBaseUrl(sUrl, &sValue));
    EXPECT_EQ(sValue, "");
    EXPECT_TRUE(GetBaseUrlFromUrl(sUrl, &sValue));
    EXPECT_EQ(sValue, "");

    // A document that does not parse: fetched, values empty, logged.
    m_description = ReadTestFile(QString(TOLVA_TEST_DATA_DIR) + "/device/truncated.xml");
    EXPECT_TRUE(GetDeviceUuid(sUrl, &sValue));
    EXPECT_EQ(sValue, "");
    EXPECT_FALSE(LogLinesWith("parse xml failed").isEmpty());

    // Nothing there: every extraction fails.
    const QString sGone = "http://127.0.0.1:" + QString::number(UnusedPort()) + "/tolva.xml";
    EXPECT_FALSE(GetBaseUrlFromUrl(sGone, &sValue));
    EXPECT_FALSE(GetDeviceUuid(sGone, &sValue));
    EXPECT_FALSE(GetIconUrl(sGone, &sValue));
    EXPECT_FALSE(GetFriendlyName(sGone, &sValue));
}

TEST(DeviceIconFileName, NamesAreCleanedAndNeverLeaveTheFolder)
{
    EXPECT_EQ(IconFileName("http://h:60100/icons/small.jpg", "F"), "small.jpg");
    EXPECT_EQ(IconFileName("http://h/icons/", "F"), "F");
    for (const char* pszUrl : {"http://h/icons/.", "http://h/icons/..", "http://h/..", "..", "."}) {
        const QString sName = IconFileName(pszUrl, "F");
        EXPECT_FALSE(sName.isEmpty() || sName == "." || sName == ".." || sName.contains('/')) << pszUrl;
    }
    EXPECT_EQ(IconFileName("http://h", "F"), "h");
    EXPECT_EQ(IconFileName("", "F"), "F");
    EXPECT_EQ(IconFileName("icons\\..\\..\\evil.jpg", "F"), "evil.jpg");
    EXPECT_EQ(IconFileName("http://h/x\\..\\evil.jpg", "F"), "x____evil.jpg");
    EXPECT_EQ(IconFileName("http://h/a.b.jpg?x=1", "F"), "a_b.jpg_x=1");
    EXPECT_EQ(IconFileName("http://h/TransferHistory.txt", "F"), "F");
    EXPECT_EQ(IconFileName("http://h/tolvalog.TXT", "F"), "F");
}

TEST_F(DeviceDescriptionFetchTest, IconsLandInTheDeviceFolderOnceAndFailuresLeaveNoPath)
{
    CDeviceInfo device;
    device.SetUuid("uuid:1234");
    device.SetJpegIconUrl(m_server.Url("/icons/small.jpg"));
    device.SetPngIconUrl(m_server.Url("/icons/"));
    DownloadDeviceIcons(device);
    const QString sFolder = DeviceFolder("uuid:1234");
    EXPECT_EQ(sFolder, AppDataFolder() + "uuid_1234/");
    EXPECT_EQ(device.JpegIconPath(), sFolder + "small.jpg");
    EXPECT_EQ(device.PngIconPath(), sFolder + "DeviceIcon.png");
    EXPECT_EQ(ReadTestFile(sFolder + "small.jpg"), "picture /icons/small.jpg");
    EXPECT_EQ(ReadTestFile(sFolder + "DeviceIcon.png"), "picture /icons/");
    EXPECT_EQ(LogLinesWith("Enter DoCopy.").size(), 2);

    // Existing files are reused without a request.
    const int nRequests = m_server.RequestCount();
    CDeviceInfo again;
    again.SetUuid("uuid:1234");
    again.SetJpegIconUrl(m_server.Url("/icons/small.jpg"));
    DownloadDeviceIcons(again);
    EXPECT_EQ(again.JpegIconPath(), sFolder + "small.jpg");
    EXPECT_EQ(again.PngIconPath(), "");
    EXPECT_EQ(m_server.RequestCount(), nRequests);

    // A failed download leaves the path empty and no file; so does an empty UDN.
    CDeviceInfo failing;
    failing.SetUuid("uuid:5678");
    failing.SetJpegIconUrl("http://127.0.0.1:" + QString::number(UnusedPort()) + "/icons/x.jpg");
    DownloadDeviceIcons(failing);
    EXPECT_EQ(failing.JpegIconPath(), "");
    EXPECT_FALSE(QFile::exists(DeviceFolder("uuid:5678") + "x.jpg"));
    CDeviceInfo anonymous;
    anonymous.SetJpegIconUrl(m_server.Url("/icons/TransferHistory.txt"));
    DownloadDeviceIcons(anonymous);
    EXPECT_EQ(anonymous.JpegIconPath(), "");
    EXPECT_EQ(m_server.RequestCount(), nRequests);
    EXPECT_EQ(QDir(AppDataFolder()).entryList(QDir::Files), QStringList{"Tolvalog.txt"});
}

} // namespace
