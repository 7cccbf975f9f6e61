#pragma once

#include <QString>

// The platform layer reports its own troubles (a corrupt settings file set aside, a folder that
// cannot be resolved) through one sink, which the diagnostic log installs. Without a sink the
// reports are dropped.
using DiagnosticSink = void (*)(const QString& sMessage);

// Installs the sink and returns the one it replaces (so a caller can put it back).
DiagnosticSink SetDiagnosticSink(DiagnosticSink pSink);
void ReportDiagnostic(const QString& sMessage);
