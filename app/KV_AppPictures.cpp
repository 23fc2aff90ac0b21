#include "app/KV_AppPictures.h"

#include "app/AboutDlg.h"
#include "app/KV_Resource.h"

#include <wx/dcmemory.h>
#include <wx/font.h>
#include <wx/image.h>

#include <cmath>

#include "app/resources/cur_rotate.xpm"
#include "app/resources/cur_translate.xpm"
#include "app/resources/cur_zoom.xpm"
#include "app/resources/orvane_view.xpm"
#include "app/resources/tb_about.xpm"
#include "app/resources/tb_close.xpm"
#include "app/resources/tb_colour.xpm"
#include "app/resources/tb_measure.xpm"
#include "app/resources/tb_open.xpm"
#include "app/resources/tb_print.xpm"
#include "app/resources/tb_reset.xpm"
#include "app/resources/tb_rotate.xpm"
#include "app/resources/tb_smooth.xpm"
#include "app/resources/tb_texture.xpm"
#include "app/resources/tb_wireframe.xpm"

namespace
{
constexpr int kSplashWidth = 420;
constexpr int kSplashHeight = 260;

// A lit, checker-textured wave surface over a dark gradient: the kind of picture the
// program shows.
// Drawn at scale device pixels per picture pixel, so that a 2x screen gets a sharp picture.
wxImage DrawSplashImage(int scale)
{
    const int width = kSplashWidth * scale, height = kSplashHeight * scale;
    wxImage image(width, height);
    unsigned char* rgb = image.GetData();
    const double lx = -0.45, ly = -0.55, lz = 0.70;
    for (int py = 0; py < height; ++py)
    {
        for (int px = 0; px < width; ++px)
        {
            unsigned char* p = rgb + 3 * (py * width + px);
            const double x = static_cast<double>(px) / scale, y = static_cast<double>(py) / scale;
            const double t = static_cast<double>(y) / kSplashHeight;
            double r = 10 + 20 * t, g = 16 + 30 * t, b = 48 + 70 * t;
            // The surface occupies an ellipse right of centre.
            const double u = (x - 290.0) / 115.0, v = (y - 125.0) / 105.0;
            if (u * u + v * v <= 1.0)
            {
                const double h = std::sin(u * 3.5) * std::cos(v * 3.0);
                const double nx = -3.5 * std::cos(u * 3.5) * std::cos(v * 3.0);
                const double ny = 3.0 * std::sin(u * 3.5) * std::sin(v * 3.0);
                const double n = std::sqrt(nx * nx + ny * ny + 1.0);
                double light = (nx * lx + ny * ly + lz) / n;
                light = 0.25 + 0.75 * (light > 0 ? light : 0);
                const bool dark =
                    (static_cast<int>(x / 14) + static_cast<int>(y / 14) + (h > 0 ? 1 : 0)) % 2 !=
                    0;
                const double base[2][3] = {{240, 200, 120}, {90, 130, 220}};
                r = base[dark][0] * light;
                g = base[dark][1] * light;
                b = base[dark][2] * light;
            }
            p[0] = static_cast<unsigned char>(r);
            p[1] = static_cast<unsigned char>(g);
            p[2] = static_cast<unsigned char>(b);
        }
    }
    return image;
}

wxBitmap MakeSplashBitmap(int scale)
{
    wxBitmap bitmap(DrawSplashImage(scale));
    wxMemoryDC dc(bitmap);
    // The words and the frame in picture pixels, whatever the device pixels.
    dc.SetUserScale(scale, scale);
    dc.SetTextForeground(*wxWHITE);
    dc.SetFont(wxFont(wxFontInfo(20).Family(wxFONTFAMILY_SWISS).Bold()));
    dc.DrawText(KV_APP_TITLE, 18, 180);
    dc.SetFont(wxFont(wxFontInfo(10).Family(wxFONTFAMILY_SWISS)));
    dc.DrawText(KV_VersionText(), 20, 218);
    dc.SetPen(wxPen(wxColour(200, 200, 220)));
    dc.SetBrush(*wxTRANSPARENT_BRUSH);
    dc.DrawRectangle(0, 0, kSplashWidth, kSplashHeight);
    dc.SelectObject(wxNullBitmap);
    bitmap.SetScaleFactor(scale);
    return bitmap;
}

wxCursor CursorFromXpm(const char* const* xpm)
{
    wxImage image(xpm);
    image.SetOption(wxIMAGE_OPTION_CUR_HOTSPOT_X, image.GetWidth() / 2);
    image.SetOption(wxIMAGE_OPTION_CUR_HOTSPOT_Y, image.GetHeight() / 2);
    return wxCursor(image);
}
}  // namespace

wxBitmap KV_LoadBitmap(int resourceId, double scale)
{
    if (resourceId == IDB_SPLASH)
        return MakeSplashBitmap(scale >= 1.5 ? 2 : 1);
    return wxBitmap();
}

wxBitmapBundle KV_ToolbarBundle(int commandId)
{
    const wxBitmap normal = KV_ToolbarBitmap(commandId);
    if (!normal.IsOk())
        return wxBitmapBundle();
    // Each picture pixel as a 2 x 2 block: sharp edges on a 2x screen, where the toolkit
    // would otherwise smooth the 16 x 16 picture up to 32 x 32.
    wxImage doubled = normal.ConvertToImage();
    doubled.Rescale(doubled.GetWidth() * 2, doubled.GetHeight() * 2, wxIMAGE_QUALITY_NEAREST);
    wxVector<wxBitmap> bitmaps;
    bitmaps.push_back(normal);
    bitmaps.push_back(wxBitmap(doubled));
    return wxBitmapBundle::FromBitmaps(bitmaps);
}

wxBitmap KV_ToolbarBitmap(int commandId)
{
    switch (commandId)
    {
        case ID_FILE_OPEN:
            return wxBitmap(tb_open_xpm);
        case ID_FILE_CLOSE:
            return wxBitmap(tb_close_xpm);
        case ID_EDIT_ROTATE:
            return wxBitmap(tb_rotate_xpm);
        case ID_EDIT_RESET_POSITION:
            return wxBitmap(tb_reset_xpm);
        case ID_EDIT_SMOOTH_SHADING:
            return wxBitmap(tb_smooth_xpm);
        case ID_EDIT_WIREFRAME_DISPLAY:
            return wxBitmap(tb_wireframe_xpm);
        case ID_EDIT_TOGGLE_TEXTURE:
            return wxBitmap(tb_texture_xpm);
        case ID_EDIT_SURFACE_COLOUR:
            return wxBitmap(tb_colour_xpm);
        case ID_VIEW_MEASURE:
            return wxBitmap(tb_measure_xpm);
        case ID_FILE_PRINT:
            return wxBitmap(tb_print_xpm);
        case ID_APP_ABOUT:
            return wxBitmap(tb_about_xpm);
        default:
            return wxBitmap();
    }
}

wxCursor KV_LoadCursor(int resourceId)
{
    switch (resourceId)
    {
        case IDC_TRANSLATE:
            return CursorFromXpm(cur_translate_xpm);
        case IDC_ZOOM:
            return CursorFromXpm(cur_zoom_xpm);
        case IDC_ROTATE:
            return CursorFromXpm(cur_rotate_xpm);
        default:
            return wxCursor(wxCURSOR_ARROW);
    }
}

wxIcon KV_AppIcon()
{
    return wxIcon(orvane_view_xpm);
}
