#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <QByteArray>
#include <QStringList>

#include "device/DeviceWebApi.h"
#include "platform/TextCodec.h"

// Web API answers as they arrive: the file-type list parsing and the power classification.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nSize)
{
    const QString sContent =
        FromLocaleCharset(QByteArray(reinterpret_cast<const char*>(pData), static_cast<qsizetype>(nSize)));
    QStringList types = {QStringLiteral("previous")};
    const bool bParsed = ParseSupportedFileTypes(sContent, &types);
    if (!bParsed && types != QStringList{QStringLiteral("previous")})
        std::abort();
    qsizetype nTotal = 0;
    for (const QString& sType : types) {
        if (bParsed && sType.isEmpty())
            std::abort();
        nTotal += sType.size();
    }
    if (bParsed && nTotal > sContent.size())
        std::abort();
    EStandbyDetail eDetail = STANDBY_OTHER;
    const EDevicePowerState eState = ClassifyPowerAnswer(sContent, &eDetail);
    if (eState > POWER_OTHER || eDetail > STANDBY_OTHER)
        std::abort();
    return 0;
}
