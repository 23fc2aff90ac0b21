// Fitting the window's shape onto the printed page.
#include "app/KV_PrintFit.h"

#include <gtest/gtest.h>

TEST(PrintFit, WideWindowOnPortraitPageFillsTheWidthAtHalfTheHeight)
{
    // A window twice as wide as high on an A4 portrait page at 600 ppi, square pixels.
    KV_PrintFit fit;
    ASSERT_TRUE(KV_FitWindowToPage(800, 400, 4958, 7008, 600, 600, fit));
    EXPECT_EQ(fit.mnPrintedWidth, 4958);
    EXPECT_EQ(fit.mnPrintedHeight, 2479);
    // The memory picture: the window's width, the printed picture's shape.
    EXPECT_EQ(fit.mnMemoryWidth, 800);
    EXPECT_EQ(fit.mnMemoryHeight, 400);
}

TEST(PrintFit, TallWindowFillsThePageHeight)
{
    // 100 x 400 on a 1000 x 2000 page: by width it would be 4000 high, so the height rules.
    KV_PrintFit fit;
    ASSERT_TRUE(KV_FitWindowToPage(100, 400, 1000, 2000, 100, 100, fit));
    EXPECT_EQ(fit.mnPrintedHeight, 2000);
    EXPECT_EQ(fit.mnPrintedWidth, 500);
    EXPECT_EQ(fit.mnMemoryWidth, 100);
    EXPECT_EQ(fit.mnMemoryHeight, 400);
}

TEST(PrintFit, NonSquarePrinterPixelsKeepThePhysicalShape)
{
    // 300 x 600 ppi: a square window is printed as a physical square, twice as many
    // pixels high as wide.
    KV_PrintFit fit;
    ASSERT_TRUE(KV_FitWindowToPage(500, 500, 2400, 6000, 300, 600, fit));
    EXPECT_EQ(fit.mnPrintedWidth, 2400);
    EXPECT_EQ(fit.mnPrintedHeight, 4800);
    EXPECT_EQ(fit.mnMemoryWidth, 500);
    EXPECT_EQ(fit.mnMemoryHeight, 1000);
}

TEST(PrintFit, ExactTieUsesTheFullWidth)
{
    KV_PrintFit fit;
    ASSERT_TRUE(KV_FitWindowToPage(300, 400, 600, 800, 72, 72, fit));
    EXPECT_EQ(fit.mnPrintedWidth, 600);
    EXPECT_EQ(fit.mnPrintedHeight, 800);
}

TEST(PrintFit, EmptyWindowOrPageGivesNothing)
{
    KV_PrintFit fit;
    EXPECT_FALSE(KV_FitWindowToPage(0, 400, 4958, 7008, 600, 600, fit));
    EXPECT_FALSE(KV_FitWindowToPage(800, 0, 4958, 7008, 600, 600, fit));
    EXPECT_FALSE(KV_FitWindowToPage(800, 400, 0, 7008, 600, 600, fit));
    EXPECT_FALSE(KV_FitWindowToPage(800, 400, 4958, 7008, 0, 600, fit));
    EXPECT_EQ(fit.mnPrintedWidth, 0);
    EXPECT_EQ(fit.mnMemoryHeight, 0);
    // A window so wide that the printed height truncates to nothing.
    EXPECT_FALSE(KV_FitWindowToPage(100000, 1, 100, 100, 72, 72, fit));
}
