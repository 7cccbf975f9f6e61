#include "device/DeviceDescription.h"

#include <climits>
#include <mutex>
#include <vector>

#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include "device/DeviceInfo.h"
#include "device/HttpClient.h"
#include "foundation/Log.h"
#include "foundation/Paths.h"
#include "platform/TextCodec.h"

namespace {

// Entity references nest at most this deep inside one value.
constexpr int kMaxEntityDepth = 16;

// Files of the program that live in the device folders and the application data folder; an
// icon must never take their place.
const char* const kReservedFileNames[] = {"TransferHistory.txt", "SyncFolderTemp.dat", "DeviceCapabilityTemp.dat",
                                          "Tolvalog.txt"};

// Nothing outside a document is ever read: no external DTD, entity or network resource.
xmlParserInputPtr RefuseExternalEntity(const char*, const char*, xmlParserCtxtPtr)
{
    return nullptr;
}

void InitXmlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] {
        xmlInitParser();
        xmlSetExternalEntityLoader(RefuseExternalEntity);
    });
}

// Collects the text of a node and its descendants, internal entities included, up to a bound.
class CTextCollector
{
public:
    void Add(const xmlNode* pNode, int nDepth)
    {
        for (const xmlNode* p = pNode; p && !m_bTooLong; p = p->next)
            AddOne(p, nDepth);
    }
    bool TooLong() const { return m_bTooLong; }
    const QByteArray& Text() const { return m_text; }

private:
    void Append(const xmlChar* pszText)
    {
        if (!pszText)
            return;
        m_text.append(reinterpret_cast<const char*>(pszText));
        if (m_text.size() > kMaxDescriptionValueChars * 4)
            m_bTooLong = true;
    }
    void AddOne(const xmlNode* p, int nDepth)
    {
        switch (p->type) {
        case XML_TEXT_NODE:
        case XML_CDATA_SECTION_NODE: Append(p->content); break;
        case XML_ELEMENT_NODE: Add(p->children, nDepth); break;
        case XML_ENTITY_REF_NODE: {
            // The reference node points at the entity's declaration; only an internal entity has
            // content of its own (an external one is never loaded).
            const xmlEntity* pEntity = reinterpret_cast<const xmlEntity*>(p->children);
            if (!pEntity || pEntity->etype != XML_INTERNAL_GENERAL_ENTITY)
                break;
            if (nDepth >= kMaxEntityDepth) {
                m_bTooLong = true;
                break;
            }
            Add(pEntity->children, nDepth + 1);
            break;
        }
        default: break;
        }
    }

    QByteArray m_text;
    bool m_bTooLong = false;
};

// One parsed description with its XPath context, the two prefixes registered.
class CDescriptionDocument
{
public:
    explicit CDescriptionDocument(const QString& sText)
    {
        InitXmlOnce();
        // The text is already decoded; whatever encoding the document declares no longer applies.
        const QByteArray utf8 = ToUtf8(sText);
        m_pParser = xmlNewParserCtxt();
        if (!m_pParser)
            return;
        const int nOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_IGNORE_ENC;
        m_pDoc =
            xmlCtxtReadMemory(m_pParser, utf8.constData(), static_cast<int>(utf8.size()), nullptr, "UTF-8", nOptions);
        if (!m_pDoc) {
            WriteLog("parse xml failed");
            return;
        }
        m_pXPath = xmlXPathNewContext(m_pDoc);
        if (!m_pXPath)
            return;
        xmlXPathRegisterNs(m_pXPath, BAD_CAST "FS", BAD_CAST kUpnpDeviceNamespace);
        xmlXPathRegisterNs(m_pXPath, BAD_CAST "av", BAD_CAST kVendorNamespace);
    }
    ~CDescriptionDocument()
    {
        if (m_pXPath)
            xmlXPathFreeContext(m_pXPath);
        if (m_pDoc)
            xmlFreeDoc(m_pDoc);
        if (m_pParser)
            xmlFreeParserCtxt(m_pParser);
    }
    CDescriptionDocument(const CDescriptionDocument&) = delete;
    CDescriptionDocument& operator=(const CDescriptionDocument&) = delete;

    bool IsParsed() const { return m_pXPath != nullptr; }
    xmlNode* Document() const { return reinterpret_cast<xmlNode*>(m_pDoc); }

    // Every node the path selects from pFrom, in document order.
    std::vector<xmlNode*> SelectNodes(xmlNode* pFrom, const char* pszPath) const
    {
        std::vector<xmlNode*> nodes;
        if (!m_pXPath || !pFrom)
            return nodes;
        xmlXPathObjectPtr pResult = xmlXPathNodeEval(pFrom, BAD_CAST pszPath, m_pXPath);
        if (!pResult)
            return nodes;
        if (pResult->type == XPATH_NODESET && pResult->nodesetval) {
            for (int i = 0; i < pResult->nodesetval->nodeNr; ++i)
                nodes.push_back(pResult->nodesetval->nodeTab[i]);
        }
        xmlXPathFreeObject(pResult);
        return nodes;
    }
    // The first node the path selects, or null.
    xmlNode* SelectSingleNode(xmlNode* pFrom, const char* pszPath) const
    {
        const std::vector<xmlNode*> nodes = SelectNodes(pFrom, pszPath);
        return nodes.empty() ? nullptr : nodes.front();
    }
    // Walks one step after another from pFrom; null at the first missing node.
    xmlNode* Walk(xmlNode* pFrom, std::initializer_list<const char*> steps) const
    {
        xmlNode* pNode = pFrom;
        for (const char* pszStep : steps) {
            pNode = SelectSingleNode(pNode, pszStep);
            if (!pNode)
                return nullptr;
        }
        return pNode;
    }

    static QString TextOf(const xmlNode* pNode)
    {
        if (!pNode)
            return QString();
        CTextCollector collector;
        collector.Add(pNode->children, 0);
        if (collector.TooLong()) {
            WriteLog("parse xml failed: a value is too long");
            return QString();
        }
        return QString::fromUtf8(collector.Text()).trimmed();
    }

private:
    xmlParserCtxtPtr m_pParser = nullptr;
    xmlDocPtr m_pDoc = nullptr;
    xmlXPathContextPtr m_pXPath = nullptr;
};

bool FetchDescription(const QString& sUrl, QString* psText)
{
    std::string strContent;
    if (GetHttpData(sUrl, strContent) != 0)
        return false;
    WriteLog("Get strXmlContent is success.");
    *psText = DescriptionText(strContent);
    return true;
}

// The base URL of a player's description; empty for any other device.
QString BaseUrlOf(const QString& sText)
{
    return ParseDeviceDescription(sText).sBaseUrl;
}

bool IsReservedFileName(const QString& sName)
{
    for (const char* pszReserved : kReservedFileNames) {
        if (sName.compare(QLatin1String(pszReserved), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

// Downloads one icon unless its file is there already; the stored path, or empty.
QString FetchIcon(const QString& sUrl, const QString& sFolder, const QString& sFallback)
{
    const QString sPath = sFolder + IconFileName(sUrl, sFallback);
    // The name is one cleaned path component, so the file lies in the folder; checked once more.
    if (QFileInfo(sPath).absoluteDir() != QDir(sFolder)) {
        WriteLogF("DownloadDeviceIcons: refused icon file %s.\n", ToUtf8(sPath).constData());
        return QString();
    }
    if (PathExists(sPath))
        return sPath;
    return DoCopy(sUrl, sPath) == 0 ? sPath : QString();
}

} // namespace

SDeviceDescription ParseDeviceDescription(const QString& sText)
{
    SDeviceDescription result;
    CDescriptionDocument doc(sText);
    if (!doc.IsParsed())
        return result;
    result.bParsed = true;
    xmlNode* pDevice = doc.Walk(doc.Document(), {"FS:root", "FS:device"});
    if (!pDevice)
        return result;
    result.sUuid = CDescriptionDocument::TextOf(doc.SelectSingleNode(pDevice, "FS:UDN"));

    // Only the first service decides whether this is a player.
    const xmlNode* pServiceType = doc.Walk(pDevice, {"FS:serviceList", "FS:service", "FS:serviceType"});
    result.bIsPlayer = CDescriptionDocument::TextOf(pServiceType) == QLatin1String(kWebApiServiceType);
    if (result.bIsPlayer) {
        const xmlNode* pBaseUrl = doc.Walk(pDevice, {"av:X_TesselWebAPI_DeviceInfo", "av:X_TesselWebAPI_BaseURL"});
        result.sBaseUrl = CDescriptionDocument::TextOf(pBaseUrl);
    }

    if (xmlNode* pIconList = doc.SelectSingleNode(pDevice, "FS:iconList")) {
        for (xmlNode* pIcon : doc.SelectNodes(pIconList, "FS:icon")) {
            const xmlNode* pMime = doc.SelectSingleNode(pIcon, "FS:mimetype");
            const xmlNode* pWidth = doc.SelectSingleNode(pIcon, "FS:width");
            if (!pMime || !pWidth || CDescriptionDocument::TextOf(pMime) != QLatin1String("image/jpeg") ||
                CDescriptionDocument::TextOf(pWidth) != QLatin1String("48"))
                continue;
            const xmlNode* pUrl = doc.SelectSingleNode(pIcon, "FS:url");
            if (!pUrl)
                continue; // an icon without an address cannot be fetched; a later one may do
            result.sJpegIconUrl = CDescriptionDocument::TextOf(pUrl);
            break;
        }
    }
    return result;
}

bool ParseFoundDevice(const std::string& description, const QString& sLocation, SUPnPDevice* pDevice)
{
    CDescriptionDocument doc(DescriptionText(description));
    xmlNode* pRoot = doc.IsParsed() ? doc.SelectSingleNode(doc.Document(), "FS:root") : nullptr;
    xmlNode* pDeviceNode = pRoot ? doc.SelectSingleNode(pRoot, "FS:device") : nullptr;
    if (!pDeviceNode)
        return false;
    SUPnPDevice device;
    device.sUdn = CDescriptionDocument::TextOf(doc.SelectSingleNode(pDeviceNode, "FS:UDN"));
    if (device.sUdn.isEmpty())
        return false;
    QUrl base(sLocation);
    const QUrl urlBase(CDescriptionDocument::TextOf(doc.SelectSingleNode(pRoot, "FS:URLBase")));
    if (!urlBase.isEmpty() && urlBase.isValid() && !urlBase.isRelative())
        base = urlBase;
    auto resolve = [&base](const QString& sUrl) {
        const QUrl resolved = sUrl.isEmpty() ? QUrl() : base.resolved(QUrl(sUrl));
        return resolved.isValid() ? resolved.toString() : QString();
    };
    device.sFriendlyName = CDescriptionDocument::TextOf(doc.SelectSingleNode(pDeviceNode, "FS:friendlyName"));
    device.sPresentationUrl =
        resolve(CDescriptionDocument::TextOf(doc.SelectSingleNode(pDeviceNode, "FS:presentationURL")));
    device.sDocumentUrl = sLocation;
    // For each format the smallest icon: the search asks for no particular size.
    int nJpegWidth = INT_MAX;
    int nPngWidth = INT_MAX;
    for (xmlNode* pIcon : doc.SelectNodes(pDeviceNode, "FS:iconList/FS:icon")) {
        const QString sMime = CDescriptionDocument::TextOf(doc.SelectSingleNode(pIcon, "FS:mimetype"));
        const QString sUrl = resolve(CDescriptionDocument::TextOf(doc.SelectSingleNode(pIcon, "FS:url")));
        bool bNumber = false;
        int nWidth = CDescriptionDocument::TextOf(doc.SelectSingleNode(pIcon, "FS:width")).toInt(&bNumber);
        if (!bNumber || nWidth < 0)
            nWidth = INT_MAX - 1;
        if (sUrl.isEmpty())
            continue;
        if (sMime == QLatin1String("image/jpeg") && nWidth < nJpegWidth) {
            nJpegWidth = nWidth;
            device.sJpegIconUrl = sUrl;
        } else if (sMime == QLatin1String("image/png") && nWidth < nPngWidth) {
            nPngWidth = nWidth;
            device.sPngIconUrl = sUrl;
        }
    }
    *pDevice = std::move(device);
    return true;
}

QString ExtractFriendlyName(const QString& sText)
{
    static const QString sOpen = QStringLiteral("<friendlyName>");
    static const QString sClose = QStringLiteral("</friendlyName>");
    const qsizetype nOpen = sText.indexOf(sOpen);
    const qsizetype nClose = sText.indexOf(sClose);
    if (nOpen < 0 || nClose < 0)
        return QString();
    const qsizetype nStart = nOpen + sOpen.size();
    if (nClose < nStart)
        return QString();
    QString sName = sText.mid(nStart, nClose - nStart);
    sName.replace(QLatin1String("&lt;"), QLatin1String("<"));
    sName.replace(QLatin1String("&gt;"), QLatin1String(">"));
    sName.replace(QLatin1String("&apos;"), QLatin1String("'"));
    sName.replace(QLatin1String("&quot;"), QLatin1String("\""));
    sName.replace(QLatin1String("&amp;"), QLatin1String("&"));
    return sName;
}

QString DescriptionText(const std::string& bytes)
{
    return FromLocaleCharset(QByteArray::fromStdString(bytes));
}

bool GetBaseUrl(const QString& sDocumentUrl, QString* psBaseUrl)
{
    QString sText;
    if (!FetchDescription(sDocumentUrl, &sText))
        return false;
    const QString sBaseUrl = BaseUrlOf(sText);
    WriteLogF("GetBaseUrl: strBaseUrl = %s.\n", ToUtf8(sBaseUrl).constData());
    if (psBaseUrl)
        *psBaseUrl = sBaseUrl;
    return !sBaseUrl.isEmpty();
}

bool GetBaseUrlFromUrl(const QString& sUrl, QString* psBaseUrl)
{
    QString sText;
    if (!FetchDescription(sUrl, &sText))
        return false;
    const QString sBaseUrl = BaseUrlOf(sText);
    WriteLogF("GetBaseUrl: strBaseUrl = %s.\n", ToUtf8(sBaseUrl).constData());
    if (psBaseUrl)
        *psBaseUrl = sBaseUrl;
    return true;
}

bool GetDeviceUuid(const QString& sUrl, QString* psUuid)
{
    QString sText;
    if (!FetchDescription(sUrl, &sText))
        return false;
    const QString sUuid = ParseDeviceDescription(sText).sUuid;
    WriteLogF("strJpeg: strBaseUrl = %s.\n", ToUtf8(sUuid).constData());
    if (psUuid)
        *psUuid = sUuid;
    return true;
}

SDescriptionCheck CheckDeviceDescription(const QString& sUrl)
{
    SDescriptionCheck check;
    std::string strContent;
    if (GetHttpData(sUrl, strContent, &check.nHttpStatus) != 0) {
        WriteLogF("CheckDeviceDescription: no answer from %s.\n", ToUtf8(sUrl).constData());
        return check;
    }
    check.bAnswered = true;
    WriteLog("Get strXmlContent is success.");
    const SDeviceDescription description = ParseDeviceDescription(DescriptionText(strContent));
    check.bParsed = description.bParsed;
    check.sUuid = description.sUuid;
    WriteLogF("strJpeg: strBaseUrl = %s.\n", ToUtf8(check.sUuid).constData());
    if (check.sUuid.isEmpty())
        WriteLogF("CheckDeviceDescription: %s answered with HTTP status %ld and %s.\n", ToUtf8(sUrl).constData(),
                  check.nHttpStatus, check.bParsed ? "a description without UDN" : "text that is not XML");
    return check;
}

bool GetIconUrl(const QString& sUrl, QString* psIconUrl)
{
    QString sText;
    if (!FetchDescription(sUrl, &sText))
        return false;
    const QString sIconUrl = ParseDeviceDescription(sText).sJpegIconUrl;
    WriteLogF("strJpeg: strBaseUrl = %s.\n", ToUtf8(sIconUrl).constData());
    if (psIconUrl)
        *psIconUrl = sIconUrl;
    return true;
}

bool GetFriendlyName(const QString& sUrl, QString* psName)
{
    QString sText;
    if (!FetchDescription(sUrl, &sText))
        return false;
    const QString sName = ExtractFriendlyName(sText);
    WriteLogF("strJpeg: strBaseUrl = %s.\n", ToUtf8(sName).constData());
    if (psName)
        *psName = sName;
    return true;
}

QString IconFileName(const QString& sIconUrl, const QString& sFallback)
{
    const QString sName = FixName(FileNameOf(sIconUrl));
    if (sName.isEmpty() || sName == QLatin1String(".") || sName == QLatin1String("..") || IsReservedFileName(sName))
        return sFallback;
    return sName;
}

void DownloadDeviceIcons(CDeviceInfo& device)
{
    const QString sUuid = device.Uuid();
    if (FixName(sUuid).isEmpty()) {
        WriteLog("DownloadDeviceIcons: no device folder for an empty UDN.\n");
        device.SetJpegIconPath(QString());
        device.SetPngIconPath(QString());
        return;
    }
    if (!CreateDeviceFolder(sUuid)) {
        device.SetJpegIconPath(QString());
        device.SetPngIconPath(QString());
        return;
    }
    const QString sFolder = DeviceFolder(sUuid);
    const QString sJpegUrl = device.JpegIconUrl();
    if (!sJpegUrl.isEmpty()) {
        const QString sPath = FetchIcon(sJpegUrl, sFolder, QStringLiteral("DeviceIcon.jpg"));
        if (!sPath.isEmpty())
            device.SetJpegIconPath(sPath);
    }
    const QString sPngUrl = device.PngIconUrl();
    if (!sPngUrl.isEmpty()) {
        const QString sPath = FetchIcon(sPngUrl, sFolder, QStringLiteral("DeviceIcon.png"));
        if (!sPath.isEmpty())
            device.SetPngIconPath(sPath);
    }
}

bool RemoveUnusedDeviceFolder(const QString& sUuid)
{
    // An empty name would make the folder the application data folder itself.
    if (FixName(sUuid).isEmpty())
        return false;
    const QString sFolder = DeviceFolder(sUuid);
    QDir dir(sFolder);
    if (!dir.exists() || QDir(sFolder) == QDir(AppDataFolder()))
        return false;
    const QFileInfoList entries =
        dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& entry : entries) {
        if (!entry.isFile() || entry.isSymLink() || IsReservedFileName(entry.fileName()))
            return false;
    }
    for (const QFileInfo& entry : entries) {
        if (!QFile::remove(entry.filePath()))
            return false;
    }
    if (!dir.rmdir(sFolder))
        return false;
    WriteLogF("RemoveUnusedDeviceFolder: removed the pictures of %s.\n", ToUtf8(sUuid).constData());
    return true;
}
