#include "platform/Diagnostics.h"

#include <atomic>

namespace {
std::atomic<DiagnosticSink> g_pSink{nullptr};
}

void SetDiagnosticSink(DiagnosticSink pSink)
{
    g_pSink.store(pSink);
}

void ReportDiagnostic(const QString& sMessage)
{
    if (DiagnosticSink pSink = g_pSink.load())
        pSink(sMessage);
}
