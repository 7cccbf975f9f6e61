#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "device/DeviceDescription.h"

// A description as it arrives from the network: bytes, read in the locale's character set,
// through the DOM extraction of UDN, service check, base URL and icon, and the device search's
// reading of the same document.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize)
{
    const std::string bytes(reinterpret_cast<const char*>(pData), nSize);
    const SDeviceDescription d = ParseDeviceDescription(DescriptionText(bytes));
    // No value may outgrow its bound, whatever entities the document declares.
    for (const QString* pValue : {&d.sUuid, &d.sBaseUrl, &d.sJpegIconUrl}) {
        if (pValue->size() > kMaxDescriptionValueChars)
            std::abort();
    }
    if (!d.bIsPlayer && !d.sBaseUrl.isEmpty())
        std::abort();
    if (!d.bParsed && (!d.sUuid.isEmpty() || d.bIsPlayer || !d.sJpegIconUrl.isEmpty()))
        std::abort();
    // The device search reads the same document with the same reader: the same UDN.
    SUPnPDevice device;
    if (ParseFoundDevice(bytes, QStringLiteral("http://127.0.0.2:60100/tolva.xml"), &device) &&
        device.sUdn != d.sUuid)
        std::abort();
    return 0;
}
