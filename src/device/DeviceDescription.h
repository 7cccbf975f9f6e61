#pragma once

#include <string>

#include <QString>

#include "device/UPnPDevice.h"

class CDeviceInfo;

// A player's UPnP device description: the unique device name (UDN), whether the device is a
// player at all (its first service is the web API service), the base URL of its web API, its
// 48-pixel JPEG icon and its friendly name. Every extraction fetches the description anew; the
// bytes are read in the locale's character set. Documents may carry a DTD, but nothing outside
// the document is ever loaded (no external entities, no network) and internal entities cannot
// blow a value up beyond a small bound.

inline constexpr const char* kWebApiServiceType = "urn:schemas-brenvik-com:service:TesselWebAPI:1";
inline constexpr const char* kUpnpDeviceNamespace = "urn:schemas-upnp-org:device-1-0";
inline constexpr const char* kVendorNamespace = "urn:schemas-brenvik-com:av";
// Longest element value taken from a description; a longer one (an entity bomb) reads as empty.
inline constexpr int kMaxDescriptionValueChars = 65536;

// What the DOM gives of one description. Values are the elements' text without the white space
// around it; empty when the element is missing or the document does not parse.
struct SDeviceDescription
{
    bool bParsed = false;   // the document is well-formed XML
    QString sUuid;          // root/device/UDN
    bool bIsPlayer = false; // the first service's serviceType is kWebApiServiceType exactly
    QString sBaseUrl;       // device/X_TesselWebAPI_DeviceInfo/X_TesselWebAPI_BaseURL, players only
    QString sJpegIconUrl;   // url of the first icon with mimetype "image/jpeg" and width "48"
};
SDeviceDescription ParseDeviceDescription(const QString& sText);
// What the device search takes from a device's description (the same reader as above): UDN,
// friendly name, presentation URL and the smallest JPEG and PNG icons, URLs made absolute
// against URLBase or else sLocation, the URL the text came from. False when the text is not a
// usable description (not well-formed, no root/device element, or no UDN).
bool ParseFoundDevice(const std::string& description, const QString& sLocation, SUPnPDevice* pDevice);
// The text between the first "<friendlyName>" and the first "</friendlyName>", with &lt; &gt;
// &apos; &quot; and &amp; replaced, each once and in that order; empty when a tag is missing.
QString ExtractFriendlyName(const QString& sText);
// The response bytes as text, in the locale's character set.
QString DescriptionText(const std::string& bytes);

// One fetch of a description, with what the player did: whether it answered, the HTTP status,
// whether the text is XML, and the UDN.
struct SDescriptionCheck
{
    bool bAnswered = false;
    long nHttpStatus = 0;
    bool bParsed = false;
    QString sUuid;
};
// Fetches and reads the UDN; logs as GetDeviceUuid does, and what went wrong.
SDescriptionCheck CheckDeviceDescription(const QString& sUrl);

// Fetch and extract. Each returns true when the description could be fetched (any HTTP
// answer), except GetBaseUrl, which also requires a player's non-empty base URL.
// sDocumentUrl: the description URL the device search reported for the device.
bool GetBaseUrl(const QString& sDocumentUrl, QString* psBaseUrl);
bool GetBaseUrlFromUrl(const QString& sUrl, QString* psBaseUrl);
bool GetDeviceUuid(const QString& sUrl, QString* psUuid);
bool GetIconUrl(const QString& sUrl, QString* psIconUrl);
bool GetFriendlyName(const QString& sUrl, QString* psName);

// The file name a downloaded icon gets in its device folder: the URL's last segment (after the
// last '/', else after the last '\') made safe with FixName. An empty, "." or ".." name, or the
// name of one of the program's own files, becomes sFallback.
QString IconFileName(const QString& sIconUrl, const QString& sFallback);
// Downloads the record's JPEG and PNG icons into its device folder and stores their paths; an
// existing file is reused without a request. A failed download leaves that path as it was; a
// device folder that cannot be created (or an empty UDN, whose folder would be the application
// data folder itself) leaves both paths empty.
void DownloadDeviceIcons(CDeviceInfo& device);

// Deletes the device folder of a player that was dropped, when it holds nothing but downloaded
// pictures (none of the program's own files: no folder or type lists, no history, so the user
// never set the player up); the pictures come again if the player does. True when it was
// deleted.
bool RemoveUnusedDeviceFolder(const QString& sUuid);
