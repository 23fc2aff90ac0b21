#pragma once
// Shared by the renderer tests that need an X display: a window made with the window
// template's visual, a renderer whose scene is a callback, and pixel helpers.

#include "image/KV_Image.h"
#include "render/KV_WGLRenderer.h"
#include "tests/support/ScratchPath.h"

#include <gtest/gtest.h>

#include <GL/gl.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xcomposite.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>

// A window-system renderer that draws whatever the test hands it.
class CallbackRenderer : public KV_WGLRenderer
{
public:
    ~CallbackRenderer() override
    {
        try
        {
            if (!IsCleanUpCompleted())
                CleanUp();
        }
        catch (...)
        {
        }
    }
    void RenderScene() override
    {
        ++munScenes;
        if (mkScene)
            mkScene();
    }
    void InitialiseGLState() override { ++munInitialisations; }

    std::function<void()> mkScene;
    unsigned int munScenes = 0;
    unsigned int munInitialisations = 0;
};

// Fills the rectangle x0..x1, y0..y1 of normalised device coordinates with one colour.
inline void FillRect(float x0, float y0, float x1, float y1, float r, float g, float b)
{
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glDisable(GL_LIGHTING);
    glDisable(GL_DEPTH_TEST);
    glColor3f(r, g, b);
    glBegin(GL_QUADS);
    glVertex2f(x0, y0);
    glVertex2f(x1, y0);
    glVertex2f(x1, y1);
    glVertex2f(x0, y1);
    glEnd();
}

inline bool Near(const KV_RGB8& p, int r, int g, int b, int tolerance = 2)
{
    return std::abs(p.red - r) <= tolerance && std::abs(p.green - g) <= tolerance &&
           std::abs(p.blue - b) <= tolerance;
}

// Writes the image as a binary PPM next to the test's scratch files, so that a person can
// look at a picture that failed.
inline void SaveForInspection(const KV_Image<KV_RGB8>& image, const std::string& name)
{
    std::ofstream out(TestScratchPath(name + ".ppm"), std::ios::binary);
    out << "P6\n" << image.Cols() << " " << image.Rows() << "\n255\n";
    for (int r = image.Rows() - 1; r >= 0; --r)
        out.write(reinterpret_cast<const char*>(image.Row(r)), image.Cols() * 3);
}

// What the X server shows in the window, row 0 at the bottom as OpenGL counts rows.
inline KV_Image<KV_RGB8> ReadWindow(const KV_DeviceContext& dc, int width, int height)
{
    KV_Image<KV_RGB8> image(height, width);
    XImage* x = XGetImage(dc.mpDisplay, dc.munWindow, 0, 0, width, height, AllPlanes, ZPixmap);
    if (x == nullptr)
        return image;
    for (int r = 0; r < height; ++r)
        for (int c = 0; c < width; ++c)
        {
            const unsigned long pixel = XGetPixel(x, c, height - 1 - r);
            image(r, c) = KV_RGB8(static_cast<unsigned char>((pixel & x->red_mask) >> 16),
                                  static_cast<unsigned char>((pixel & x->green_mask) >> 8),
                                  static_cast<unsigned char>(pixel & x->blue_mask));
        }
    XDestroyImage(x);
    return image;
}

// A test fixture with one mapped window; tests are skipped when there is no display.
class DisplayTest : public ::testing::Test
{
protected:
    static constexpr int kWidth = 64;
    static constexpr int kHeight = 48;

    void SetUp() override
    {
        if (!mkWindow.Create(kWidth, kHeight, true))
            GTEST_SKIP() << mkWindow.ErrorText();
        // Tests run in parallel on one server and their windows overlap; redirected, each
        // window keeps its own pixels, which is what ReadFront reads.
        const KV_DeviceContext dc = mkWindow.GetDeviceContext();
        int event = 0, error = 0;
        if (XCompositeQueryExtension(dc.mpDisplay, &event, &error))
            XCompositeRedirectWindow(dc.mpDisplay, dc.munWindow, CompositeRedirectAutomatic);
        XSync(dc.mpDisplay, False);
    }

    KV_Image<KV_RGB8> ReadFront() const
    {
        return ReadWindow(mkWindow.GetDeviceContext(), kWidth, kHeight);
    }

    KV_GLXWindow mkWindow;
};
