#pragma once
// Test helper: records every report (text, caption, kind) while it is alive, instead of
// writing it to stderr, and restores the previous sink on destruction.

#include "foundation/KV_Report.h"

#include <string>
#include <vector>

struct RecordedReport
{
    std::string text;
    std::string caption;
    KV_ReportKind kind;
};

class ReportRecorder
{
public:
    ReportRecorder()
    {
        mkPrevious = SetReportSink([this](const char* text, const char* caption, KV_ReportKind kind) {
            mkReports.push_back({text, caption, kind});
        });
    }
    ~ReportRecorder() { SetReportSink(mkPrevious); }
    ReportRecorder(const ReportRecorder&) = delete;
    ReportRecorder& operator=(const ReportRecorder&) = delete;

    const std::vector<RecordedReport>& Reports() const { return mkReports; }
    size_t Count() const { return mkReports.size(); }
    void Reset() { mkReports.clear(); }

private:
    std::vector<RecordedReport> mkReports;
    KV_ReportSink mkPrevious;
};
