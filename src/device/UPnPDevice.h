#pragma once

#include <QString>

// A device as the device search reports it: what the finder read from the device's SSDP
// answer and from its description. URLs are absolute (relative ones resolved against the
// description's URLBase, else against the description URL).
struct SUPnPDevice
{
    QString sUdn;             // the description's UDN, "uuid:..."
    QString sFriendlyName;    // the description's friendlyName text
    QString sPresentationUrl; // presentationURL; empty when the description has none
    QString sDocumentUrl;     // the description URL (the SSDP LOCATION)
    QString sJpegIconUrl;     // the smallest "image/jpeg" icon; empty when there is none
    QString sPngIconUrl;      // the smallest "image/png" icon; empty when there is none

    // The icon URL for a picture format ("image/jpeg" or "image/png"), as the search asks for it
    // (no particular size: the smallest icon of that format); empty for other formats.
    QString IconUrl(const QString& sMimeType) const
    {
        if (sMimeType == "image/jpeg")
            return sJpegIconUrl;
        if (sMimeType == "image/png")
            return sPngIconUrl;
        return {};
    }
};
