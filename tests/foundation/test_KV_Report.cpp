#include "foundation/KV_Report.h"
#include "foundation/KV_String.h"
#include "tests/support/ReportRecorder.h"

#include <gtest/gtest.h>

TEST(KV_Report, MessagesReachTheInstalledSinkWithTextAndCaption)
{
    ReportRecorder recorder;
    ReportMessage("Body", "Title");
    ReportMessage(KV_String("KV_String"), KV_String("caption"));
    ASSERT_EQ(recorder.Count(), 2u);
    EXPECT_EQ(recorder.Reports()[0].text, "Body");
    EXPECT_EQ(recorder.Reports()[0].caption, "Title");
    EXPECT_EQ(recorder.Reports()[1].text, "KV_String");
}

TEST(KV_Report, DefaultSinkWritesOneLineOnStderr)
{
    testing::internal::CaptureStderr();
    ReportMessage("KV_List Block Re-Size error!", "Block size zero, re-setting to 16");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "KV_List Block Re-Size error!: Block size zero, re-setting to 16\n");
}

TEST(KV_ReportDeathTest, FatalReportsExitWithStatusOneAfterTheSink)
{
    EXPECT_EXIT(ReportFatal("Eigen Analysis Error", "Too many iterations required."),
                ::testing::ExitedWithCode(1), "Eigen Analysis Error: Too many iterations required.");
    EXPECT_EXIT(ReportFatal(KV_String("Covarience Error"), KV_String("Zero length observation vector")),
                ::testing::ExitedWithCode(1), "Covarience Error: Zero length observation vector");
    EXPECT_EXIT(ReportOutOfMemory("OctNode Error"), ::testing::ExitedWithCode(1),
                "Error!, run out of memory!: OctNode Error");
}

TEST(KV_ReportDeathTest, FatalExitsEvenWhenTheSinkReturnsNormally)
{
    EXPECT_EXIT(
        {
            ReportRecorder recorder;
            ReportFatal("a", "b");
        },
        ::testing::ExitedWithCode(1), "");
}
