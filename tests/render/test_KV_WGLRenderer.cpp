// The GLX binding, checked on a real X server (Xvfb with Mesa) by reading pixels back.

#include "GLTestSupport.h"

#include "foundation/KV_Exception.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <GL/glx.h>

#include <sstream>

namespace
{
KV_PixelFormat gChosen;

int InitialiseOn(KV_WGLRenderer& renderer, const KV_DeviceContext& dc)
{
    return renderer.Initialise(dc, gChosen, KV_WGLRenderer::WindowPixelFormat(), 0);
}
}  // namespace

using WGLRendererTest = DisplayTest;

TEST_F(WGLRendererTest, InitialiseChoosesTheWindowTemplateWithDeepestDepth)
{
    CallbackRenderer renderer;
    KV_PixelFormat chosen;
    ASSERT_EQ(0, renderer.Initialise(mkWindow.GetDeviceContext(), chosen,
                                     KV_WGLRenderer::WindowPixelFormat(), 0));
    EXPECT_TRUE(renderer.IsInitialised());
    EXPECT_EQ(1u, renderer.munInitialisations);
    EXPECT_EQ(24, chosen.munColourBits);
    EXPECT_EQ(8, chosen.munRedBits);
    EXPECT_EQ(32, chosen.munDepthBits);  // Xvfb offers 32 depth bits
    const unsigned int wanted = KV_PFD_DRAW_TO_WINDOW | KV_PFD_SUPPORT_OPENGL | KV_PFD_DOUBLEBUFFER;
    EXPECT_EQ(wanted, chosen.munFlags & wanted);
    EXPECT_NE(0ul, chosen.munVisualId);
    EXPECT_EQ(KV_OGLColour::Black(), renderer.GetBackgroundColour());

    GLint depthBits = 0;
    glGetIntegerv(GL_DEPTH_BITS, &depthBits);
    EXPECT_EQ(32, depthBits);
}

TEST_F(WGLRendererTest, NonZeroFlagsTakeTheFirstGenericFormat)
{
    // Mesa's llvmpipe is a software renderer: its formats are the generic ones.
    CallbackRenderer renderer;
    KV_PixelFormat chosen;
    ASSERT_EQ(0, renderer.Initialise(mkWindow.GetDeviceContext(), chosen,
                                     KV_WGLRenderer::WindowPixelFormat(), 1));
    EXPECT_NE(0u, chosen.munFlags & KV_PFD_GENERIC_FORMAT);
    EXPECT_GE(chosen.munDepthBits, 32);

    // A colour-index request is never matched.
    CallbackRenderer indexed;
    KV_PixelFormat request = KV_WGLRenderer::WindowPixelFormat();
    request.munPixelType = 1;
    EXPECT_EQ(KV_WGLRenderer::RESULT_NO_PIXEL_FORMAT,
              indexed.Initialise(mkWindow.GetDeviceContext(), chosen, request, 0));
}

TEST_F(WGLRendererTest, BackgroundColourFillsAnEmptyFrame)
{
    CallbackRenderer renderer;
    ASSERT_EQ(0, InitialiseOn(renderer, mkWindow.GetDeviceContext()));
    renderer.SetBackgroundColour(KV_OGLColour(0.2f, 0.4f, 0.6f, 1.0f));
    renderer.Render();
    EXPECT_EQ(1u, renderer.munScenes);
    // Another window on top (as a test running beside this one may make) hides nothing.
    KV_GLXWindow cover;
    ASSERT_TRUE(cover.Create(kWidth, kHeight, true));
    KV_Image<KV_RGB8> front = ReadFront();
    for (int r = 0; r < kHeight; r += 7)
        for (int c = 0; c < kWidth; c += 7)
            ASSERT_TRUE(Near(front(r, c), 51, 102, 153)) << r << "," << c;
}

TEST_F(WGLRendererTest, TwoRenderersOnOneWindowClearOnceAndSwapOnce)
{
    CallbackRenderer first;
    CallbackRenderer second;
    const KV_DeviceContext dc = mkWindow.GetDeviceContext();
    ASSERT_EQ(0, InitialiseOn(first, dc));
    ASSERT_EQ(0, InitialiseOn(second, dc));
    EXPECT_EQ(2u, KV_WGLRenderer::RegisteredRendererCount(dc));

    // One colour for the whole window, through either renderer.
    first.SetBackgroundColour(KV_OGLColour(1, 0, 0, 1));
    EXPECT_EQ(KV_OGLColour(1, 0, 0, 1), second.GetBackgroundColour());
    second.SetBackgroundColour(KV_OGLColour(0, 0, 1, 1));
    EXPECT_EQ(KV_OGLColour(0, 0, 1, 1), first.GetBackgroundColour());

    // An earlier, fully known picture on screen: white.
    first.SetBackgroundColour(KV_OGLColour(1, 1, 1, 1));
    first.Render();
    second.Render();
    first.SetBackgroundColour(KV_OGLColour(1, 0, 0, 1));

    first.mkScene = [] { FillRect(-1, -1, 0, 1, 0, 1, 0); };  // left half green
    second.mkScene = [] { FillRect(0, -1, 1, 0, 0, 0, 1); };  // lower right quarter blue
    first.Render();
    // The first renderer cleared and drew but did not swap: the screen is unchanged.
    KV_Image<KV_RGB8> between = ReadFront();
    EXPECT_TRUE(Near(between(kHeight / 2, kWidth / 4), 255, 255, 255));
    second.Render();
    // The second did not clear (the left half survives) and swapped the frame.
    KV_Image<KV_RGB8> after = ReadFront();
    EXPECT_TRUE(Near(after(kHeight / 2, kWidth / 4), 0, 255, 0));
    EXPECT_TRUE(Near(after(kHeight / 4, 3 * kWidth / 4), 0, 0, 255));
    EXPECT_TRUE(Near(after(3 * kHeight / 4, 3 * kWidth / 4), 255, 0, 0));

    first.CleanUp();
    EXPECT_EQ(1u, KV_WGLRenderer::RegisteredRendererCount(dc));
    // Now alone on the window, the second renderer clears as well.
    second.mkScene = nullptr;
    second.SetBackgroundColour(KV_OGLColour(0, 0, 0, 1));
    second.Render();
    EXPECT_TRUE(Near(ReadFront()(kHeight / 2, kWidth / 4), 0, 0, 0));
    second.CleanUp();
    EXPECT_EQ(0u, KV_WGLRenderer::RegisteredRendererCount(dc));
}

TEST_F(WGLRendererTest, PendingErrorAbortsOneFrameOnly)
{
    CallbackRenderer renderer;
    ASSERT_EQ(0, InitialiseOn(renderer, mkWindow.GetDeviceContext()));
    glEnable(0x7fff);  // not a capability: GL_INVALID_ENUM
    glPopMatrix();     // empty stack: GL_STACK_UNDERFLOW as well
    try
    {
        renderer.Render();
        FAIL() << "no exception";
    }
    catch (const KV_RenderException& e)
    {
        EXPECT_EQ(static_cast<unsigned int>(GL_INVALID_ENUM), e.ErrorCode());
    }
    EXPECT_EQ(0u, renderer.munScenes);
    EXPECT_NO_THROW(renderer.Render());
    EXPECT_EQ(1u, renderer.munScenes);
}

TEST_F(WGLRendererTest, RenderIsNotReentered)
{
    CallbackRenderer outer;
    CallbackRenderer inner;
    const KV_DeviceContext dc = mkWindow.GetDeviceContext();
    ASSERT_EQ(0, InitialiseOn(outer, dc));
    ASSERT_EQ(0, InitialiseOn(inner, dc));
    outer.mkScene = [&] { inner.Render(); };
    outer.Render();
    EXPECT_EQ(1u, outer.munScenes);
    EXPECT_EQ(0u, inner.munScenes);

    // The flag is cleared by an exception too.
    outer.mkScene = [] { throw KV_RenderException(5); };
    EXPECT_THROW(outer.Render(), KV_RenderException);
    inner.Render();
    EXPECT_EQ(1u, inner.munScenes);
}

TEST_F(WGLRendererTest, MemoryContextReadsBackBottomUpAndLeavesTheWindowAlone)
{
    CallbackRenderer renderer;
    ASSERT_EQ(0, InitialiseOn(renderer, mkWindow.GetDeviceContext()));
    renderer.SetBackgroundColour(KV_OGLColour(1, 1, 1, 1));
    renderer.Render();

    ASSERT_EQ(0, renderer.BeginMemoryContext(40, 30, nullptr, 0));
    EXPECT_TRUE(renderer.IsRenderingToMemory());
    EXPECT_EQ(2u, renderer.munInitialisations);  // the new context was set up as well
    GLint depthBits = 0;
    glGetIntegerv(GL_DEPTH_BITS, &depthBits);
    EXPECT_EQ(32, depthBits);
    renderer.SetBackgroundColour(KV_OGLColour(0, 0, 0, 1));
    renderer.mkScene = [] { FillRect(-1, -1, 1, 0, 1, 1, 0); };  // bottom half yellow
    renderer.Render();
    const KV_Image<KV_RGB8>& image = renderer.MemoryImage();
    ASSERT_EQ(30, image.Rows());
    ASSERT_EQ(40, image.Cols());
    EXPECT_TRUE(Near(image(0, 0), 255, 255, 0));
    EXPECT_TRUE(Near(image(14, 39), 255, 255, 0));
    EXPECT_TRUE(Near(image(15, 0), 0, 0, 0));
    EXPECT_TRUE(Near(image(29, 20), 0, 0, 0));
    renderer.EndMemoryContext();
    EXPECT_FALSE(renderer.IsRenderingToMemory());
    EXPECT_EQ(30, renderer.MemoryImage().Rows());

    // The window still shows its white frame and draws again in its own context.
    renderer.MakeCurrent();
    EXPECT_TRUE(Near(ReadFront()(kHeight / 4, kWidth / 2), 255, 255, 255));
    renderer.mkScene = nullptr;
    renderer.Render();
    EXPECT_TRUE(Near(ReadFront()(kHeight / 4, kWidth / 2), 0, 0, 0));
}

TEST_F(WGLRendererTest, FailedMemoryContextIsUndoneByEnd)
{
    CallbackRenderer renderer;
    ASSERT_EQ(0, InitialiseOn(renderer, mkWindow.GetDeviceContext()));
    EXPECT_EQ(KV_WGLRenderer::RESULT_BITMAP_FAILED, renderer.BeginMemoryContext(0, 10, nullptr, 0));
    EXPECT_TRUE(renderer.IsRenderingToMemory());
    EXPECT_THROW(renderer.MakeCurrent(), KV_WindowsException);
    EXPECT_NO_THROW(renderer.EndMemoryContext());
    EXPECT_NO_THROW(renderer.Render());

    EXPECT_EQ(KV_WGLRenderer::RESULT_SELECT_BITMAP_FAILED,
              renderer.BeginMemoryContext(30000, 2, nullptr, 0));
    EXPECT_NO_THROW(renderer.EndMemoryContext());

    // A memory context on a display given only through the target.
    CallbackRenderer lone;
    const KV_DeviceContext target = mkWindow.GetDeviceContext();
    EXPECT_EQ(KV_WGLRenderer::RESULT_NO_DEVICE_CONTEXT, lone.BeginMemoryContext(8, 8, nullptr, 0));
    EXPECT_NO_THROW(lone.EndMemoryContext());
    ASSERT_EQ(0, lone.BeginMemoryContext(8, 8, &target, 0));
    lone.SetBackgroundColour(KV_OGLColour(0, 1, 0, 1));
    lone.Render();
    EXPECT_TRUE(Near(lone.MemoryImage()(4, 4), 0, 255, 0));
    lone.EndMemoryContext();

    // A second Begin without End replaces the first memory context.
    ASSERT_EQ(0, renderer.BeginMemoryContext(8, 8, nullptr, 0));
    ASSERT_EQ(0, renderer.BeginMemoryContext(16, 4, nullptr, 0));
    renderer.Render();
    EXPECT_EQ(16, renderer.MemoryImage().Cols());
    renderer.EndMemoryContext();
}

TEST_F(WGLRendererTest, WindowWithAnotherVisualLayoutIsRefused)
{
    Display* display = mkWindow.GetDeviceContext().mpDisplay;
    const int screen = DefaultScreen(display);
    unsigned long templateVisual = 0;
    int depth = 0;
    ASSERT_TRUE(KV_WGLRenderer::ChooseWindowVisual(display, screen, templateVisual, depth));

    // A visual whose GLX config has no depth buffer cannot take the 32-bit template.
    int count = 0;
    GLXFBConfig* configs = glXGetFBConfigs(display, screen, &count);
    XVisualInfo* visual = nullptr;
    for (int i = 0; i < count && visual == nullptr; ++i)
    {
        int depthSize = -1, drawable = 0;
        glXGetFBConfigAttrib(display, configs[i], GLX_DEPTH_SIZE, &depthSize);
        glXGetFBConfigAttrib(display, configs[i], GLX_DRAWABLE_TYPE, &drawable);
        if (depthSize == 0 && (drawable & GLX_WINDOW_BIT))
            visual = glXGetVisualFromFBConfig(display, configs[i]);
    }
    XFree(configs);
    if (visual == nullptr)
        GTEST_SKIP() << "no visual without a depth buffer";
    const Window root = RootWindow(display, screen);
    XSetWindowAttributes attributes;
    attributes.colormap = XCreateColormap(display, root, visual->visual, AllocNone);
    attributes.border_pixel = 0;
    const Window window = XCreateWindow(display, root, 0, 0, 16, 16, 0, visual->depth, InputOutput,
                                        visual->visual, CWColormap | CWBorderPixel, &attributes);
    XFree(visual);

    CallbackRenderer renderer;
    KV_DeviceContext dc{display, window};
    EXPECT_EQ(KV_WGLRenderer::RESULT_SET_PIXEL_FORMAT_FAILED, InitialiseOn(renderer, dc));
    EXPECT_EQ(0u, KV_WGLRenderer::RegisteredRendererCount(dc));
    EXPECT_FALSE(renderer.IsInitialised());

    // A window that does not exist is refused the same way.
    CallbackRenderer ghost;
    EXPECT_EQ(KV_WGLRenderer::RESULT_SET_PIXEL_FORMAT_FAILED,
              InitialiseOn(ghost, KV_DeviceContext{display, 0x7ffffff0ul}));
    XDestroyWindow(display, window);
    XFreeColormap(display, attributes.colormap);
}

TEST_F(WGLRendererTest, UninitialisedRendererThrowsAndDumpsUnassigned)
{
    CallbackRenderer renderer;
    try
    {
        renderer.MakeCurrent();
        FAIL() << "no exception";
    }
    catch (const KV_WindowsException& e)
    {
        EXPECT_EQ(KV_GLX_ERROR_NO_CONTEXT, e.ErrorCode());
    }
    EXPECT_THROW(renderer.Render(), KV_WindowsException);
    EXPECT_EQ(KV_WGLRenderer::RESULT_NO_PIXEL_FORMAT, InitialiseOn(renderer, KV_DeviceContext{}));

    std::ostringstream os;
    renderer.Dump(os);
    EXPECT_EQ(
        "KV_WGLRenderer: \n"
        " mbOGLInitialised: 0\n"
        " mkBackgroundColour: KV_OGLColour: \n"
        " mrRed: 0\n mrGreen: 0\n mrBlue: 0\n mrAlpha: 0\n"
        " mbRenderToMemory: 0\n"
        " mbCleanUpCompleted: 0\n"
        " mpkDC Unassigned\n",
        os.str());
}

TEST_F(WGLRendererTest, SettingsReportReadsTheContext)
{
    CallbackRenderer renderer;
    ASSERT_EQ(0, InitialiseOn(renderer, mkWindow.GetDeviceContext()));
    std::ostringstream os;
    renderer.ReportGLSettings(os);
    const std::string report = os.str();
    EXPECT_EQ(0u, report.find("Windows GL settings\n  Version   "));
    EXPECT_NE(std::string::npos, report.find("\n  Red Bits    8\n"));
    EXPECT_NE(std::string::npos, report.find("\n  Depth Bits        32\n"));
    EXPECT_NE(std::string::npos, report.find("\n  Aux Buffers       "));

    renderer.CleanUp();
    EXPECT_TRUE(renderer.IsCleanUpCompleted());
    EXPECT_FALSE(renderer.IsInitialised());
    EXPECT_THROW(renderer.MakeCurrent(), KV_WindowsException);
}
