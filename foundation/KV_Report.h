#pragma once
// Message reporting. Every message the system shows the user goes through one replaceable
// sink: the default writes "TEXT: CAPTION" as one line on stderr; the application installs
// modal message boxes; tests install a recorder.
//
// ReportFatal and ReportOutOfMemory never return: once the sink has returned they end the
// process with exit status 1 (normal exit processing runs).

#include <functional>

class KV_String;

enum class KV_ReportKind
{
    Message,     // repairable misuse; the caller goes on with a safe value
    Fatal,       // unrecoverable; the process ends after the sink returns
    OutOfMemory  // exhausted array memory; the process ends after the sink returns
};

// The sink shows text as the message body and caption as the title, and blocks until the
// user has seen it.
using KV_ReportSink = std::function<void(const char* text, const char* caption, KV_ReportKind)>;

// Installs a sink and returns the previous one. An empty function restores the default.
KV_ReportSink SetReportSink(KV_ReportSink sink);

void ReportMessage(const char* text, const char* caption);
void ReportMessage(const KV_String& text, const KV_String& caption);

[[noreturn]] void ReportFatal(const char* text, const char* caption);
[[noreturn]] void ReportFatal(const KV_String& text, const KV_String& caption);

// Shows "Error!, run out of memory!" with the name of the operation as caption, then exits.
[[noreturn]] void ReportOutOfMemory(const char* caption);
