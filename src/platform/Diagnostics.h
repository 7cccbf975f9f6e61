#pragma once

#include <QString>

// The platform layer reports its own troubles (a corrupt settings file set aside, a folder that
// cannot be resolved) through one sink, which the diagnostic log installs. Without a sink the
// reports are dropped.
using DiagnosticSink = void (*)(const QString& sMessage);

void SetDiagnosticSink(DiagnosticSink pSink);
void ReportDiagnostic(const QString& sMessage);
