#include "sync/TransferResults.h"

#include "foundation/Log.h"
#include "foundation/Paths.h"
#include "foundation/Settings.h"
#include "foundation/StringTable.h"
#include "platform/Clock.h"
#include "sync/ContentsManager.h"
#include "sync/CopyToShare.h"
#include "sync/TransferHistory.h"

CTransferResults::CTransferResults(STransferRun& run, ITransferControl& control, CContentsManager& contents)
    : m_run(run), m_control(control), m_contents(contents)
{}

QString CTransferResults::ResultText()
{
    const eErrorCode eResult = m_run.eResult;
    m_run.eResult = FileResultAfterRecording(eResult);
    if (eResult == EC_OK)
        return QStringLiteral("OK");
    const unsigned nStringId = FileResultStringId(eResult, m_control.IsDeviceRemoved());
    // A text that cannot be loaded stays empty; the line is written all the same.
    return nStringId ? LoadStringText(nStringId) : QString();
}

void CTransferResults::Record(const CContent& content, const QString& sShareName)
{
    if (m_run.eResult == EC_CANCELLED && !m_control.IsDeviceRemoved()) {
        // A file stopped by the user leaves no trace in the history.
    } else {
        const QString sResultText = ResultText();
        m_run.resultLines.append(MakeHistoryLine(content.m_sSourcePath, content.m_sModifiedTime, m_run.sDeviceName,
                                                 sShareName, sResultText, Clock().LocalTime()));
        WriteHistory();
    }
    if (m_run.eResult != EC_OK)
        WriteLogF("transfer manager:  handle a file finished ,  before convert  errorcode= %u  , retrynum = %u ",
                  static_cast<unsigned>(m_run.eResult), m_run.nOfflineWait);
}

void CTransferResults::RecordResult(const CContent& content)
{
    Record(content, CCopyToShare::ShareNameFor(m_run));
}

void CTransferResults::RecordFallbackResult(const CContent& content)
{
    Record(content, QString::fromLatin1(kInternalShareName));
}

unsigned CTransferResults::RecordLongNameFiles(CThreadSafeQueue<CContent>& longNameQueue,
                                               ITransferProgressListener* pListener)
{
    // The share these files would have gone to, as the stored setting says.
    const QString sShareName = QString::fromLatin1(
        GetSyncFileSavePosition() == SAVE_POSITION_EXTERNAL ? kExternalShareName : kInternalShareName);
    unsigned nCount = 0;
    std::unique_ptr<CContent> pContent;
    while (longNameQueue.Pop(&pContent) == S_OK) {
        ++nCount;
        if (!pContent)
            continue;
        const unsigned nStringId = pContent->m_nFailStringId ? pContent->m_nFailStringId : IDS_NAME_TOO_LONG;
        const QString sReason = LoadStringText(nStringId);
        m_run.resultLines.append(MakeHistoryLine(pContent->m_sSourcePath, pContent->m_sModifiedTime, m_run.sDeviceName,
                                                 sShareName, sReason, Clock().LocalTime()));
        if (pListener)
            pListener->ShowFileNotTransferred(pContent->m_sSourcePath, sReason);
    }
    return nCount;
}

bool CTransferResults::WriteHistory()
{
    if (m_run.resultLines.isEmpty())
        return true;
    const bool bWritten = m_contents.WriteHistory(m_run.sDeviceUuid, m_run.resultLines);
    m_run.resultLines.clear();
    if (!bWritten)
        m_run.bHistoryNotWritten = true;
    return bWritten;
}
