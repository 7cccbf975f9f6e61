#include "platform/Diagnostics.h"

#include <atomic>

namespace {
std::atomic<DiagnosticSink> g_pSink{nullptr};
}

DiagnosticSink SetDiagnosticSink(DiagnosticSink pSink)
{
    return g_pSink.exchange(pSink);
}

void ReportDiagnostic(const QString& sMessage)
{
    if (DiagnosticSink pSink = g_pSink.load())
        pSink(sMessage);
}
