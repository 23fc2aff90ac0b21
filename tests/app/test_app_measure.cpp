// Measure mode in the real viewer under Xvfb, as a user meets it: clicks on the surface
// give the numbers "osftool pick" and "osftool measure" give for the same pixels of a
// picture of the same size, a drag still turns the view and picks nothing, Esc clears.
#include "tests/app/AppHarness.h"

#include "app/KV_Resource.h"
#include "app/KV_SplashWnd.h"
#include "app/KV_VerovuriRezaroView.h"
#include "app/MainFrm.h"

#include <wx/frame.h>
#include <wx/statusbr.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

namespace
{
// osftool's answer for the pixels, its lines joined by "|".
std::string Osftool(const std::string& command, const wxSize& size,
                    const std::vector<wxPoint>& pixels)
{
    std::ostringstream line;
    line << ORVANE_OSFTOOL_PATH << " " << command << " --size " << size.x << "x" << size.y
         << " '" << AppHarness::SamplePath() << "'";
    for (const wxPoint& p : pixels)
        line << " " << p.x << "," << p.y;
    std::string output;
    if (FILE* pipe = popen(line.str().c_str(), "r"))
    {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
        {
            std::string text = buffer;
            if (!text.empty() && text.back() == '\n')
                text.pop_back();
            output += (output.empty() ? "" : "|") + text;
        }
        pclose(pipe);
    }
    return output;
}

// The numbers of a text, in order.
std::vector<double> Numbers(const std::string& text)
{
    std::vector<double> numbers;
    const char* p = text.c_str();
    while (*p != '\0')
    {
        char* end = nullptr;
        const bool starts = (*p >= '0' && *p <= '9') ||
                            ((*p == '-' || *p == '.') && p[1] >= '0' && p[1] <= '9');
        const double value = starts ? std::strtod(p, &end) : 0.0;
        if (starts && end != p)
        {
            numbers.push_back(value);
            p = end;
        }
        else
            ++p;
    }
    return numbers;
}

void ExpectSameNumbers(const std::string& status, const std::vector<double>& expected)
{
    const std::vector<double> shown = Numbers(status);
    ASSERT_GE(shown.size(), expected.size()) << status;
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_NEAR(shown[i], expected[i], 1e-5) << i << " of " << status;
}

void ExpectSameNumbers(const std::string& status, const std::string& osftool)
{
    ASSERT_FALSE(osftool.empty());
    ExpectSameNumbers(status, Numbers(osftool));
}

class MeasureTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(mkApp.Start({AppHarness::SamplePath()}));
        ASSERT_TRUE(mkApp.PumpUntil([this] { return View()->IsRendererReady(); }, 5000));
        ASSERT_TRUE(mkApp.PumpUntil([] { return KV_SplashWnd::Current() == nullptr; }, 5000));
        ASSERT_TRUE(mkApp.WaitForFrame());
    }

    KV_VerovuriRezaroView* View() { return mkApp.App().GetView(); }
    std::string Status() { return mkApp.Frame()->GetStatusBar()->GetStatusText(0).ToStdString(); }

    void Click(const wxPoint& p)
    {
        mkApp.Mouse(wxEVT_LEFT_DOWN, p.x, p.y, true, false);
        mkApp.Mouse(wxEVT_LEFT_UP, p.x, p.y, false, false);
        mkApp.WaitForFrame();
    }

    AppHarness mkApp;
};
}  // namespace

TEST_F(MeasureTest, ClicksGiveOsftoolsNumbersForTheSamePixels)
{
    EXPECT_FALSE(mkApp.IsChecked(ID_VIEW_MEASURE));
    ASSERT_TRUE(mkApp.IsEnabled(ID_VIEW_MEASURE));
    mkApp.Command(ID_VIEW_MEASURE);
    ASSERT_TRUE(mkApp.IsChecked(ID_VIEW_MEASURE));
    const wxSize size = View()->DrawingSize();
    ASSERT_EQ(View()->GetContentScaleFactor(), 1.0);
    const wxPoint first(size.x / 2, size.y / 2), second(size.x / 2 + size.x / 10, size.y / 3);

    Click(first);
    // osftool: "point: x y z|polygon: N|normal: x y z|texture coordinate: u v"; the viewer
    // reads its matrices back from OpenGL, so the last digits may differ.
    ExpectSameNumbers(Status(), Osftool("pick", size, {first}));
    ASSERT_EQ(View()->Measure().Picks().size(), 1u);

    // A drag turns the view and picks nothing; the turn is undone by the standard view.
    mkApp.Mouse(wxEVT_LEFT_DOWN, first.x, first.y, true, false);
    mkApp.Mouse(wxEVT_MOTION, first.x + 40, first.y, true, false);
    mkApp.Mouse(wxEVT_LEFT_UP, first.x + 40, first.y, false, false);
    EXPECT_EQ(View()->Measure().Picks().size(), 1u);
    mkApp.Command(ID_VIEW_FIT);
    mkApp.WaitForFrame();

    Click(second);
    const std::string status = Status();
    EXPECT_EQ(status.rfind("Distance ", 0), 0u) << status;
    EXPECT_NE(status.find("in the file's units"), std::string::npos) << status;
    // osftool: "from: ...|to: ...|distance: d|x: dx|y: dy|z: dz|unit: ..."; the points
    // come first there.
    const std::vector<double> measured = Numbers(Osftool("measure", size, {first, second}));
    ASSERT_EQ(measured.size(), 10u);
    ExpectSameNumbers(status, std::vector<double>(measured.begin() + 6, measured.end()));

    // Both points are marked in the view, where they were clicked.
    const wxImage marked = AppHarness::Capture(View());
    for (const wxPoint& p : {first, second})
        EXPECT_TRUE(marked.GetRed(p.x, p.y) > 200 && marked.GetGreen(p.x, p.y) < 100)
            << p.x << "," << p.y;

    // Esc clears the points and the marks.
    wxKeyEvent escape(wxEVT_KEY_DOWN);
    escape.m_keyCode = WXK_ESCAPE;
    escape.SetEventObject(View());
    View()->GetEventHandler()->ProcessEvent(escape);
    EXPECT_TRUE(View()->Measure().Picks().empty());
    EXPECT_EQ(Status(), KV_IDLE_PROMPT);

    // Out of Measure mode a click picks nothing.
    mkApp.Command(ID_VIEW_MEASURE);
    EXPECT_FALSE(mkApp.IsChecked(ID_VIEW_MEASURE));
    Click(first);
    EXPECT_TRUE(View()->Measure().Picks().empty());
}
