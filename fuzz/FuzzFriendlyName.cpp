#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "device/DeviceDescription.h"

// The friendly name's text search and entity replacements on arbitrary description bytes.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize)
{
    const std::string bytes(reinterpret_cast<const char*>(pData), nSize);
    const QString sText = DescriptionText(bytes);
    const QString sName = ExtractFriendlyName(sText);
    // The replacements only ever shorten the text between the tags.
    if (sName.size() > sText.size())
        std::abort();
    if (!sName.isEmpty() && !sText.contains(QLatin1String("</friendlyName>")))
        std::abort();
    // The icon file name taken from the same text never names the folder or its parent.
    const QString sFile = IconFileName(sText, QStringLiteral("DeviceIcon.jpg"));
    if (sFile.isEmpty() || sFile == QLatin1String(".") || sFile == QLatin1String("..") || sFile.contains('/'))
        std::abort();
    return 0;
}
