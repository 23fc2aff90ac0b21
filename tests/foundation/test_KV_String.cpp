#include "foundation/KV_String.h"
#include "tests/support/ReportRecorder.h"

#include <gtest/gtest.h>

#include <sstream>

TEST(KV_String, ConstructAssignCompare)
{
    KV_String empty;
    EXPECT_STREQ(empty.c_str(), "");
    EXPECT_TRUE(empty.IsEmpty());
    KV_String a("abc");
    KV_String b(a);
    EXPECT_TRUE(a == b);
    b = "abd";
    EXPECT_TRUE(a != b);
    EXPECT_TRUE(KV_String("ABC") != KV_String("abc"));
    EXPECT_TRUE(KV_String("ab") != KV_String("abc"));
    a = a;
    EXPECT_STREQ(a.c_str(), "abc");
    a = a.c_str();
    EXPECT_STREQ(a.c_str(), "abc");
    std::ostringstream os;
    os << a;
    EXPECT_EQ(os.str(), "abc");
}

TEST(KV_String, AppendAndConcatenate)
{
    KV_String s("out");
    s += '.';
    s += "wrl";
    EXPECT_STREQ(s.c_str(), "out.wrl");
    EXPECT_EQ(s.Count(), 7u);
    s += s;
    EXPECT_STREQ(s.c_str(), "out.wrlout.wrl");
    EXPECT_STREQ((KV_String("a") + KV_String("b")).c_str(), "ab");
    EXPECT_STREQ((KV_String("n=") + 0u).c_str(), "n=0");
    EXPECT_STREQ((KV_String("n=") + 1234567u).c_str(), "n=1234567");
    EXPECT_STREQ((KV_String("") + 4294967295u).c_str(), "4294967295");
}

TEST(KV_String, LeftRightWithinAndBeyondTheLength)
{
    ReportRecorder recorder;
    KV_String s("a.osf");
    EXPECT_STREQ(s.Right(3).c_str(), "osf");
    EXPECT_STREQ(s.Right(5).c_str(), "a.osf");
    EXPECT_STREQ(s.Left(1).c_str(), "a");
    EXPECT_STREQ(s.Left(0).c_str(), "");
    EXPECT_EQ(recorder.Count(), 0u);

    EXPECT_STREQ(s.Right(6).c_str(), "");
    EXPECT_STREQ(s.Left(6).c_str(), "");
    ASSERT_EQ(recorder.Count(), 2u);
    for (const auto& r : recorder.Reports())
    {
        EXPECT_EQ(r.text, "KV_String error");
        EXPECT_EQ(r.caption, "Request for an invalid number of characters");
    }
}

TEST(KV_String, LowerReverseFind)
{
    KV_String s("Scan.OSF");
    s.MakeLower();
    EXPECT_STREQ(s.c_str(), "scan.osf");
    s.Reverse();
    EXPECT_STREQ(s.c_str(), "fso.nacs");
    EXPECT_EQ(s.Find('.'), 3);
    EXPECT_EQ(s.Find('x'), -1);
    KV_String one("x");
    one.Reverse();
    EXPECT_STREQ(one.c_str(), "x");
}

TEST(KV_String, PathOperationsSplitAtBackslashAndSlash)
{
    EXPECT_STREQ(KV_String("C:\\data\\face.old\\scan").FileTitle().c_str(), "scan");
    EXPECT_STREQ(KV_String("C:\\data\\face.osf").FileTitle().c_str(), "face");
    EXPECT_STREQ(KV_String("/home/u/face.v2.osf").FileTitle().c_str(), "face.v2");
    EXPECT_STREQ(KV_String("/home/u.d/scan").FileTitle().c_str(), "scan");
    EXPECT_STREQ(KV_String("/home/u.d/scan").WithoutExtension().c_str(), "/home/u.d/scan");
    EXPECT_STREQ(KV_String("/home/u.d/scan").Extension().c_str(), "");
    EXPECT_STREQ(KV_String("dir/a.osf").Extension().c_str(), "osf");
    EXPECT_STREQ(KV_String("dir/a.osf").WithoutExtension().c_str(), "dir/a");
    EXPECT_STREQ(KV_String("out.wrl").ReplaceExtension("gif").c_str(), "out.gif");
    EXPECT_STREQ(KV_String("out").ReplaceExtension("gif").c_str(), "out.gif");
    EXPECT_STREQ(KV_String("a.b\\c").ReplaceExtension("gif").c_str(), "a.b\\c.gif");
    EXPECT_STREQ(KV_String("").FileTitle().c_str(), "");
}
