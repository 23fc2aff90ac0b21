#include "foundation/KV_Report.h"

#include "foundation/KV_String.h"

#include <cstdio>
#include <cstdlib>

namespace
{
void DefaultSink(const char* text, const char* caption, KV_ReportKind)
{
    std::fprintf(stderr, "%s: %s\n", text, caption);
    std::fflush(stderr);
}

KV_ReportSink& Sink()
{
    static KV_ReportSink sink = DefaultSink;
    return sink;
}

void Show(const char* text, const char* caption, KV_ReportKind kind)
{
    Sink()(text ? text : "", caption ? caption : "", kind);
}
}  // namespace

KV_ReportSink SetReportSink(KV_ReportSink sink)
{
    KV_ReportSink previous = Sink();
    Sink() = sink ? std::move(sink) : KV_ReportSink(DefaultSink);
    return previous;
}

void ReportMessage(const char* text, const char* caption)
{
    Show(text, caption, KV_ReportKind::Message);
}

void ReportMessage(const KV_String& text, const KV_String& caption)
{
    ReportMessage(text.c_str(), caption.c_str());
}

void ReportFatal(const char* text, const char* caption)
{
    Show(text, caption, KV_ReportKind::Fatal);
    std::exit(1);
}

void ReportFatal(const KV_String& text, const KV_String& caption)
{
    ReportFatal(text.c_str(), caption.c_str());
}

void ReportOutOfMemory(const char* caption)
{
    Show("Error!, run out of memory!", caption, KV_ReportKind::OutOfMemory);
    std::exit(1);
}
