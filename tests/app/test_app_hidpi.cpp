// The program under a desktop scale factor of 2 (GDK_SCALE=2, set before the toolkit
// starts): the 3D view draws over all of its physical pixels, centred, not into a quarter of
// them; the splash picture and toolbar pictures carry twice the pixels.
#include "tests/app/AppHarness.h"

#include "app/KV_AppPictures.h"
#include "app/KV_Resource.h"
#include "app/KV_SplashWnd.h"
#include "app/KV_VerovuriRezaroView.h"
#include "app/MainFrm.h"

#include <wx/toolbar.h>

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdlib>

namespace
{
const bool gbScaled = setenv("GDK_SCALE", "2", 1) == 0;

// Bounding box of the lit pixels of the view, read from the X server in physical pixels.
wxRect LitBox(wxWindow* view, wxSize& physical)
{
    Display* display = static_cast<Display*>(wxGetDisplay());
    const double scale = view->GetContentScaleFactor();
    const wxPoint origin = view->GetScreenPosition() * scale;
    physical = view->GetClientSize() * scale;
    XSync(display, False);
    XImage* picture = XGetImage(display, DefaultRootWindow(display), origin.x, origin.y, physical.x,
                                physical.y, AllPlanes, ZPixmap);
    wxRect box;
    if (picture == nullptr)
        return box;
    int x0 = physical.x, y0 = physical.y, x1 = -1, y1 = -1;
    for (int y = 0; y < physical.y; ++y)
        for (int x = 0; x < physical.x; ++x)
        {
            const unsigned long p = XGetPixel(picture, x, y);
            if (((p >> 16) & 0xFF) + ((p >> 8) & 0xFF) + (p & 0xFF) > 60)
            {
                x0 = std::min(x0, x);
                y0 = std::min(y0, y);
                x1 = std::max(x1, x);
                y1 = std::max(y1, y);
            }
        }
    XDestroyImage(picture);
    if (x1 >= 0)
        box = wxRect(wxPoint(x0, y0), wxPoint(x1, y1));
    return box;
}
}  // namespace

TEST(HiDpi, ViewDrawsAtThePhysicalPixelSize)
{
    ASSERT_TRUE(gbScaled);
    AppHarness app;
    ASSERT_TRUE(app.Start({AppHarness::SamplePath()}));
    KV_VerovuriRezaroView* view = app.App().GetView();
    ASSERT_TRUE(app.PumpUntil([&] { return view->IsRendererReady(); }, 5000));
    ASSERT_EQ(view->GetContentScaleFactor(), 2.0);
    // Small enough that twice its size fits the test's screen.
    app.Frame()->SetSize(wxRect(0, 0, 560, 440));
    ASSERT_TRUE(app.PumpUntil([] { return KV_SplashWnd::Current() == nullptr; }, 5000));
    app.Pump(200);
    ASSERT_TRUE(app.WaitForFrame());
    EXPECT_EQ(view->DrawingSize(), view->GetClientSize() * 2);

    wxSize physical;
    const wxRect box = LitBox(view, physical);
    ASSERT_FALSE(box.IsEmpty());
    // The framed surface sits in the middle of the physical view, as at scale 1.
    const wxPoint centre(box.x + box.width / 2, box.y + box.height / 2);
    EXPECT_NEAR(centre.x, physical.x / 2, physical.x / 20);
    EXPECT_NEAR(centre.y, physical.y / 2, physical.y / 20);
    EXPECT_GT(box.height, physical.y / 3);
}

TEST(HiDpi, PicturesCarryTwiceThePixels)
{
    ASSERT_TRUE(gbScaled);
    AppHarness app;
    ASSERT_TRUE(app.Start());
    const wxBitmap splash = KV_LoadBitmap(IDB_SPLASH, 2.0);
    EXPECT_EQ(splash.GetScaleFactor(), 2.0);
    EXPECT_EQ(splash.GetLogicalWidth(), KV_LoadBitmap(IDB_SPLASH).GetWidth());
    EXPECT_EQ(splash.GetWidth(), 2 * KV_LoadBitmap(IDB_SPLASH).GetWidth());
    const wxBitmap open = KV_ToolbarBundle(ID_FILE_OPEN).GetBitmap(wxSize(32, 32));
    ASSERT_TRUE(open.IsOk());
    EXPECT_EQ(open.GetWidth(), 32);
    // Every 2 x 2 block is one colour: doubled, not smoothed.
    const wxImage image = open.ConvertToImage();
    for (int y = 0; y < 32; y += 2)
        for (int x = 0; x < 32; x += 2) EXPECT_EQ(image.GetRed(x, y), image.GetRed(x + 1, y + 1));
}
