#include "render/KV_WGLRenderer.h"

#include "render/KV_ScreenPicture.h"

#include "foundation/KV_Dump.h"
#include "foundation/KV_Exception.h"

#include <GL/gl.h>
#include <GL/glx.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <map>
#include <utility>
#include <unistd.h>
#include <vector>

#ifndef GLX_RENDERER_ACCELERATED_MESA
#define GLX_RENDERER_ACCELERATED_MESA 0x8186
#endif

// ---------------------------------------------------------------------------------------
// X errors arrive asynchronously and Xlib's default handler ends the program, so every
// request that can fail runs inside a trap that syncs and records the first error code.

namespace
{
class XErrorTrap
{
public:
    explicit XErrorTrap(Display* display) : mpDisplay(display)
    {
        XSync(mpDisplay, False);
        sunCode = 0;
        mpPrevious = XSetErrorHandler(&XErrorTrap::Handler);
    }
    ~XErrorTrap() { Finish(); }
    XErrorTrap(const XErrorTrap&) = delete;
    XErrorTrap& operator=(const XErrorTrap&) = delete;

    // Waits for the server to answer everything sent so far; returns the first error code.
    unsigned int Finish()
    {
        if (!mbFinished)
        {
            XSync(mpDisplay, False);
            XSetErrorHandler(mpPrevious);
            mbFinished = true;
        }
        return sunCode;
    }

private:
    static int Handler(Display*, XErrorEvent* event)
    {
        if (sunCode == 0)
            sunCode = event->error_code;
        return 0;
    }

    Display* mpDisplay;
    int (*mpPrevious)(Display*, XErrorEvent*) = nullptr;
    bool mbFinished = false;
    static unsigned int sunCode;
};

unsigned int XErrorTrap::sunCode = 0;

int ConfigAttrib(Display* display, GLXFBConfig config, int attribute)
{
    int value = 0;
    if (glXGetFBConfigAttrib(display, config, attribute, &value) != Success)
        return -1;
    return value;
}

// True when the screen's GLX renderer is known to be software only (the generic format).
bool IsSoftwareRenderer(Display* display, int screen)
{
    using QueryFn = Bool (*)(Display*, int, int, int, unsigned int*);
    static QueryFn query = reinterpret_cast<QueryFn>(
        glXGetProcAddressARB(reinterpret_cast<const GLubyte*>("glXQueryRendererIntegerMESA")));
    if (query == nullptr)
        return false;
    unsigned int accelerated = 1;
    if (!query(display, screen, 0, GLX_RENDERER_ACCELERATED_MESA, &accelerated))
        return false;
    return accelerated == 0;
}

bool Describe(Display* display, int screen, GLXFBConfig config, KV_PixelFormat& format)
{
    const int attributes[] = {GLX_DRAWABLE_TYPE,
                              GLX_RENDER_TYPE,
                              GLX_DOUBLEBUFFER,
                              GLX_RED_SIZE,
                              GLX_GREEN_SIZE,
                              GLX_BLUE_SIZE,
                              GLX_ALPHA_SIZE,
                              GLX_DEPTH_SIZE,
                              GLX_STENCIL_SIZE,
                              GLX_AUX_BUFFERS,
                              GLX_ACCUM_RED_SIZE,
                              GLX_ACCUM_GREEN_SIZE,
                              GLX_ACCUM_BLUE_SIZE,
                              GLX_ACCUM_ALPHA_SIZE,
                              GLX_FBCONFIG_ID,
                              GLX_VISUAL_ID,
                              GLX_LEVEL};
    constexpr int count = sizeof attributes / sizeof attributes[0];
    int v[count];
    for (int i = 0; i < count; ++i)
    {
        v[i] = ConfigAttrib(display, config, attributes[i]);
        if (v[i] < 0)
            return false;
    }
    format = KV_PixelFormat();
    const int drawable = v[0];
    format.munFlags = 0;
    if (drawable & GLX_WINDOW_BIT)
        format.munFlags |= KV_PFD_DRAW_TO_WINDOW;
    if (drawable & GLX_PBUFFER_BIT)
        format.munFlags |= KV_PFD_DRAW_TO_BITMAP | KV_PFD_SUPPORT_GDI;
    if (v[1] & GLX_RGBA_BIT)
        format.munFlags |= KV_PFD_SUPPORT_OPENGL;
    if (v[2])
        format.munFlags |= KV_PFD_DOUBLEBUFFER;
    if (IsSoftwareRenderer(display, screen))
        format.munFlags |= KV_PFD_GENERIC_FORMAT;
    format.munPixelType = KV_PFD_TYPE_RGBA;
    format.munRedBits = static_cast<unsigned char>(v[3]);
    format.munGreenBits = static_cast<unsigned char>(v[4]);
    format.munBlueBits = static_cast<unsigned char>(v[5]);
    format.munColourBits = static_cast<unsigned char>(v[3] + v[4] + v[5]);
    format.munAlphaBits = static_cast<unsigned char>(v[6]);
    format.munDepthBits = static_cast<unsigned char>(v[7]);
    format.munStencilBits = static_cast<unsigned char>(v[8]);
    format.munAuxBuffers = static_cast<unsigned char>(v[9]);
    format.munAccumBits = static_cast<unsigned char>(v[10] + v[11] + v[12] + v[13]);
    format.mnConfigId = v[14];
    format.munVisualId = static_cast<unsigned long>(v[15]);
    format.munLayerType = static_cast<unsigned char>(v[16]);
    return true;
}

// The config the chooser picks for request: GLX's own best match among the configs that
// satisfy it, taking the first with at least the requested depth bits and, when none has
// that many, the deepest. With a non-zero flag byte, the first config (in the server's
// order) with all requested flags plus the generic flag, the pixel type and enough depth.
GLXFBConfig ChooseConfig(Display* display, int screen, const KV_PixelFormat& request,
                         unsigned int flags)
{
    if (display == nullptr || request.munPixelType != KV_PFD_TYPE_RGBA)
        return nullptr;
    GLXFBConfig chosen = nullptr;
    int count = 0;
    if ((flags & 0xff) != 0)
    {
        GLXFBConfig* configs = glXGetFBConfigs(display, screen, &count);
        const unsigned int wanted = request.munFlags | KV_PFD_GENERIC_FORMAT;
        for (int i = 0; i < count && chosen == nullptr; ++i)
        {
            KV_PixelFormat format;
            if (Describe(display, screen, configs[i], format) &&
                (format.munFlags & wanted) == wanted &&
                format.munPixelType == request.munPixelType &&
                format.munDepthBits >= request.munDepthBits)
                chosen = configs[i];
        }
        if (configs != nullptr)
            XFree(configs);
        return chosen;
    }

    int drawable = 0;
    if (request.munFlags & KV_PFD_DRAW_TO_WINDOW)
        drawable |= GLX_WINDOW_BIT;
    if (request.munFlags & KV_PFD_DRAW_TO_BITMAP)
        drawable |= GLX_PBUFFER_BIT;
    const int channel = request.munColourBits / 3;
    std::vector<int> attributes = {
        GLX_RENDER_TYPE,
        GLX_RGBA_BIT,
        GLX_DRAWABLE_TYPE,
        drawable,
        GLX_RED_SIZE,
        channel,
        GLX_GREEN_SIZE,
        channel,
        GLX_BLUE_SIZE,
        channel,
        GLX_ALPHA_SIZE,
        request.munAlphaBits,
        GLX_STENCIL_SIZE,
        request.munStencilBits,
        GLX_AUX_BUFFERS,
        request.munAuxBuffers,
        GLX_DEPTH_SIZE,
        request.munDepthBits > 0 ? 1 : 0,
        GLX_DOUBLEBUFFER,
        (request.munFlags & KV_PFD_DOUBLEBUFFER) ? True : static_cast<int>(GLX_DONT_CARE)};
    if (drawable & GLX_WINDOW_BIT)
        attributes.insert(attributes.end(), {GLX_X_RENDERABLE, True});
    attributes.push_back(None);

    GLXFBConfig* configs = glXChooseFBConfig(display, screen, attributes.data(), &count);
    int deepest = -1;
    for (int i = 0; i < count; ++i)
    {
        const int depth = ConfigAttrib(display, configs[i], GLX_DEPTH_SIZE);
        if (depth >= request.munDepthBits)
        {
            chosen = configs[i];
            break;
        }
        if (depth > deepest)
        {
            deepest = depth;
            chosen = configs[i];
        }
    }
    if (configs != nullptr)
        XFree(configs);
    return chosen;
}

// The config whose X visual is visualId, among the window-capable RGBA configs of screen.
GLXFBConfig ConfigOfVisual(Display* display, int screen, unsigned long visualId)
{
    int count = 0;
    GLXFBConfig* configs = glXGetFBConfigs(display, screen, &count);
    GLXFBConfig found = nullptr;
    for (int i = 0; i < count && found == nullptr; ++i)
    {
        if (static_cast<unsigned long>(ConfigAttrib(display, configs[i], GLX_VISUAL_ID)) ==
                visualId &&
            (ConfigAttrib(display, configs[i], GLX_DRAWABLE_TYPE) & GLX_WINDOW_BIT) &&
            (ConfigAttrib(display, configs[i], GLX_RENDER_TYPE) & GLX_RGBA_BIT))
            found = configs[i];
    }
    if (configs != nullptr)
        XFree(configs);
    return found;
}

// The window's screen number, or -1 when the window cannot be read (it does not exist).
int WindowScreen(Display* display, Window window, unsigned long* visualId)
{
    XWindowAttributes attributes;
    XErrorTrap trap(display);
    const Status ok = XGetWindowAttributes(display, window, &attributes);
    if (trap.Finish() != 0 || !ok)
        return -1;
    if (visualId != nullptr)
        *visualId = XVisualIDFromVisual(attributes.visual);
    return XScreenNumberOfScreen(attributes.screen);
}

// Setting the pixel format of an X window: its visual was fixed when it was made, so the
// chosen config can only be confirmed. The window fits when its visual is the config's, or
// has a config with the same colour sizes, buffering and depth buffer (the config to create
// contexts from is then the window's own). Returns null when it does not fit.
GLXFBConfig ConfigForWindow(Display* display, Window window, GLXFBConfig chosen)
{
    unsigned long visualId = 0;
    const int screen = WindowScreen(display, window, &visualId);
    if (screen < 0)
        return nullptr;
    if (static_cast<unsigned long>(ConfigAttrib(display, chosen, GLX_VISUAL_ID)) == visualId)
        return chosen;
    GLXFBConfig own = ConfigOfVisual(display, screen, visualId);
    if (own == nullptr)
        return nullptr;
    const int compared[] = {GLX_RED_SIZE, GLX_GREEN_SIZE, GLX_BLUE_SIZE, GLX_DOUBLEBUFFER,
                            GLX_DEPTH_SIZE};
    for (int attribute : compared)
        if (ConfigAttrib(display, own, attribute) != ConfigAttrib(display, chosen, attribute))
            return nullptr;
    return own;
}

// A new direct RGBA context for config that shares nothing; null when GLX refuses it.
GLXContext NewContext(Display* display, GLXFBConfig config)
{
    XErrorTrap trap(display);
    GLXContext context = glXCreateNewContext(display, config, GLX_RGBA_TYPE, nullptr, True);
    if (trap.Finish() != 0 && context != nullptr)
    {
        glXDestroyContext(display, context);
        context = nullptr;
    }
    return context;
}

struct RegistryEntry
{
    std::vector<KV_WGLRenderer*> renderers;
    GLXFBConfig config = nullptr;  // the config contexts on this window are made from
};

using RegistryKey = std::pair<Display*, unsigned long>;

std::map<RegistryKey, RegistryEntry>& Registry()
{
    static std::map<RegistryKey, RegistryEntry> registry;
    return registry;
}

RegistryKey KeyOf(const KV_DeviceContext& dc)
{
    return RegistryKey(dc.mpDisplay, dc.munWindow);
}

const char* BoolText(bool flag)
{
    return flag ? "1" : "0";
}
}  // namespace

// ---------------------------------------------------------------------------------------

struct KV_WGLRenderer::GLXState
{
    GLXContext windowContext = nullptr;

    Display* memoryDisplay = nullptr;
    GLXPbuffer pbuffer = 0;
    GLXContext memoryContext = nullptr;
    bool memoryDoubleBuffered = false;
    int memoryWidth = 0;
    int memoryHeight = 0;
};

bool KV_WGLRenderer::mbRendering = false;

KV_WGLRenderer::KV_WGLRenderer() : mpkGLX(new GLXState) {}

KV_WGLRenderer::~KV_WGLRenderer()
{
    DestroyMemoryObjects();
    if (!mbCleanUpCompleted)
    {
        Unregister();
        if (mpkGLX->windowContext != nullptr && mkDC.mpDisplay != nullptr)
        {
            Display* display = mkDC.mpDisplay;
            XErrorTrap trap(display);
            if (glXGetCurrentContext() == mpkGLX->windowContext)
                glXMakeCurrent(display, None, nullptr);
            glXDestroyContext(display, mpkGLX->windowContext);
        }
    }
    delete mpkGLX;
}

KV_PixelFormat KV_WGLRenderer::WindowPixelFormat()
{
    KV_PixelFormat format;
    format.munFlags = KV_PFD_DRAW_TO_WINDOW | KV_PFD_SUPPORT_OPENGL | KV_PFD_DOUBLEBUFFER;
    format.munPixelType = KV_PFD_TYPE_RGBA;
    format.munColourBits = 24;
    format.munDepthBits = 32;
    format.munLayerType = KV_PFD_MAIN_PLANE;
    return format;
}

KV_PixelFormat KV_WGLRenderer::MemoryPixelFormat(unsigned char colourBits)
{
    KV_PixelFormat format;
    format.munFlags = KV_PFD_DRAW_TO_BITMAP | KV_PFD_SUPPORT_GDI | KV_PFD_SUPPORT_OPENGL;
    format.munPixelType = KV_PFD_TYPE_RGBA;
    format.munColourBits = colourBits;
    format.munDepthBits = 32;
    format.munLayerType = KV_PFD_MAIN_PLANE;
    return format;
}

bool KV_WGLRenderer::ChooseWindowVisual(_XDisplay* display, int screen, unsigned long& visualId,
                                        int& depth)
{
    GLXFBConfig config = ChooseConfig(display, screen, WindowPixelFormat(), 0);
    if (config == nullptr)
        return false;
    XVisualInfo* info = glXGetVisualFromFBConfig(display, config);
    if (info == nullptr)
        return false;
    visualId = info->visualid;
    depth = info->depth;
    XFree(info);
    return true;
}

unsigned int KV_WGLRenderer::RegisteredRendererCount(const KV_DeviceContext& dc)
{
    auto it = Registry().find(KeyOf(dc));
    return it == Registry().end() ? 0u : static_cast<unsigned int>(it->second.renderers.size());
}

int KV_WGLRenderer::Initialise(const KV_DeviceContext& dc, KV_PixelFormat& chosenFormat,
                               const KV_PixelFormat& requestedFormat, unsigned int flags)
{
    mkDC = dc;
    Display* display = dc.mpDisplay;
    if (display == nullptr || dc.munWindow == 0)
        return RESULT_NO_PIXEL_FORMAT;

    int screen = WindowScreen(display, dc.munWindow, nullptr);
    if (screen < 0)
        screen = DefaultScreen(display);
    GLXFBConfig chosen = ChooseConfig(display, screen, requestedFormat, flags);
    if (chosen == nullptr)
        return RESULT_NO_PIXEL_FORMAT;
    if (!Describe(display, screen, chosen, chosenFormat))
        return RESULT_DESCRIBE_FAILED;

    auto& registry = Registry();
    auto it = registry.find(KeyOf(dc));
    if (it != registry.end())
    {
        // The window's format was set by the first renderer on it.
        it->second.renderers.push_back(this);
    }
    else
    {
        GLXFBConfig config = ConfigForWindow(display, dc.munWindow, chosen);
        if (config == nullptr)
            return RESULT_SET_PIXEL_FORMAT_FAILED;
        RegistryEntry entry;
        entry.renderers.push_back(this);
        entry.config = config;
        it = registry.emplace(KeyOf(dc), entry).first;
    }

    mpkGLX->windowContext = NewContext(display, it->second.config);
    if (mpkGLX->windowContext == nullptr)
        return RESULT_CREATE_CONTEXT_FAILED;

    mbOGLInitialised = true;
    mbCleanUpCompleted = false;
    SetBackgroundColour(KV_OGLColour::Black());
    return MakeCurrentAndInitialise();
}

int KV_WGLRenderer::MakeCurrentAndInitialise()
{
    try
    {
        MakeCurrent();
    }
    catch (const KV_WindowsException&)
    {
        return RESULT_MAKE_CURRENT_FAILED;
    }
    InitialiseGLState();
    return RESULT_OK;
}

void KV_WGLRenderer::MakeCurrent()
{
    if (mbRenderToMemory)
    {
        Display* display = mpkGLX->memoryDisplay;
        if (display == nullptr || mpkGLX->memoryContext == nullptr || mpkGLX->pbuffer == 0)
            throw KV_WindowsException(KV_GLX_ERROR_NO_CONTEXT);
        if (glXGetCurrentContext() == mpkGLX->memoryContext &&
            glXGetCurrentDrawable() == mpkGLX->pbuffer)
            return;
        XErrorTrap trap(display);
        const Bool ok =
            glXMakeContextCurrent(display, mpkGLX->pbuffer, mpkGLX->pbuffer, mpkGLX->memoryContext);
        const unsigned int code = trap.Finish();
        if (code != 0)
            throw KV_WindowsException(code);
        if (!ok)
            throw KV_WindowsException(KV_GLX_ERROR_MAKE_CURRENT);
        return;
    }

    Display* display = mkDC.mpDisplay;
    if (display == nullptr || mpkGLX->windowContext == nullptr)
        throw KV_WindowsException(KV_GLX_ERROR_NO_CONTEXT);
    if (glXGetCurrentContext() == mpkGLX->windowContext &&
        glXGetCurrentDrawable() == mkDC.munWindow)
        return;
    XErrorTrap trap(display);
    const Bool ok = glXMakeCurrent(display, mkDC.munWindow, mpkGLX->windowContext);
    const unsigned int code = trap.Finish();
    if (code != 0)
        throw KV_WindowsException(code);
    if (!ok)
        throw KV_WindowsException(KV_GLX_ERROR_MAKE_CURRENT);
}

void KV_WGLRenderer::SetBackgroundColour(const KV_OGLColour& colour)
{
    auto it = Registry().find(KeyOf(mkDC));
    if (it == Registry().end())
    {
        mkBackgroundColour = colour;
        return;
    }
    for (KV_WGLRenderer* renderer : it->second.renderers) renderer->mkBackgroundColour = colour;
}

bool KV_WGLRenderer::IsFirstOnDeviceContext() const
{
    auto it = Registry().find(KeyOf(mkDC));
    if (it == Registry().end() || it->second.renderers.empty())
        return true;
    return it->second.renderers.front() == this;
}

bool KV_WGLRenderer::IsLastOnDeviceContext() const
{
    auto it = Registry().find(KeyOf(mkDC));
    if (it == Registry().end() || it->second.renderers.empty())
        return true;
    return it->second.renderers.back() == this;
}

void KV_WGLRenderer::Unregister()
{
    auto& registry = Registry();
    auto it = registry.find(KeyOf(mkDC));
    if (it == registry.end())
        return;
    auto& list = it->second.renderers;
    auto found = std::find(list.begin(), list.end(), this);
    if (found != list.end())
        list.erase(found);
    if (list.empty())
        registry.erase(it);
}

namespace
{
// The class-wide re-entry flag, cleared however Render() is left.
class RenderingFlag
{
public:
    explicit RenderingFlag(bool& flag) : mbFlag(flag) { mbFlag = true; }
    ~RenderingFlag() { mbFlag = false; }
    RenderingFlag(const RenderingFlag&) = delete;
    RenderingFlag& operator=(const RenderingFlag&) = delete;

private:
    bool& mbFlag;
};
}  // namespace

void KV_WGLRenderer::Render()
{
    if (mbRendering)
        return;
    RenderingFlag rendering(mbRendering);
    MakeCurrent();

    const GLenum pending = glGetError();
    if (pending != GL_NO_ERROR)
    {
        // Only this frame is lost.
        ClearGLErrors();
        throw KV_RenderException(pending);
    }

    if (IsFirstOnDeviceContext())
    {
        glClearColor(mkBackgroundColour.mrRed, mkBackgroundColour.mrGreen,
                     mkBackgroundColour.mrBlue, mkBackgroundColour.mrAlpha);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    }
    const auto start = std::chrono::steady_clock::now();
    RenderScene();
    glFinish();

    if (mbRenderToMemory)
    {
        // The picture stays in the pbuffer; the window's buffers are not touched.
        ReadBackMemoryImage();
        return;
    }
    // Only a renderer that draws its window alone has the whole picture in its frame.
    const bool alone = IsFirstOnDeviceContext() && IsLastOnDeviceContext();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    KeepFrame(alone && mrKeepFramesFrom >= 0.0 && seconds >= mrKeepFramesFrom);
    if (IsLastOnDeviceContext())
        SwapWindowBuffers();
}

void KV_WGLRenderer::KeepFrame(bool keep)
{
    if (!keep)
    {
        std::vector<unsigned char>().swap(mkKeptFrame);
        return;
    }
    GLint viewport[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, viewport);
    // A window larger than 4096 x 4096 pixels is drawn anew: its picture would cost more
    // memory than the surface it shows.
    const std::size_t kMostKeptPixels = std::size_t(4096) * 4096;
    if (viewport[2] <= 0 || viewport[3] <= 0 ||
        static_cast<std::size_t>(viewport[2]) * static_cast<std::size_t>(viewport[3]) > kMostKeptPixels)
    {
        std::vector<unsigned char>().swap(mkKeptFrame);
        return;
    }
    std::copy(viewport, viewport + 4, mnKeptViewport);
    mkKeptFrame.resize(static_cast<std::size_t>(viewport[2]) * viewport[3] * 4);
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(viewport[0], viewport[1], viewport[2], viewport[3], GL_RGBA, GL_UNSIGNED_BYTE,
                 mkKeptFrame.data());
    glPopClientAttrib();
}

bool KV_WGLRenderer::RenderKeptFrame()
{
    if (mkKeptFrame.empty() || mbRendering || mbRenderToMemory || !IsFirstOnDeviceContext() ||
        !IsLastOnDeviceContext())
        return false;
    RenderingFlag rendering(mbRendering);
    MakeCurrent();
    GLint viewport[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, viewport);
    if (!std::equal(viewport, viewport + 4, mnKeptViewport))
    {
        std::vector<unsigned char>().swap(mkKeptFrame);
        return false;
    }
    {
        const KV_WindowPixelScope pixels(viewport[2], viewport[3], GL_CURRENT_BIT);
        glRasterPos2i(0, 0);
        glDrawPixels(viewport[2], viewport[3], GL_RGBA, GL_UNSIGNED_BYTE, mkKeptFrame.data());
    }
    glFinish();
    if (glGetError() != GL_NO_ERROR)
    {
        ClearGLErrors();
        std::vector<unsigned char>().swap(mkKeptFrame);
        return false;
    }
    SwapWindowBuffers();
    return true;
}

void KV_WGLRenderer::ClearGLErrors()
{
    // OpenGL keeps one flag per kind of error: all of them go.
    for (int i = 0; i < 32 && glGetError() != GL_NO_ERROR; ++i)
    {
    }
}

void KV_WGLRenderer::SwapWindowBuffers()
{
    XErrorTrap trap(mkDC.mpDisplay);
    glXSwapBuffers(mkDC.mpDisplay, mkDC.munWindow);
    const unsigned int code = trap.Finish();
    if (code != 0)
        throw KV_WindowsException(code);
}

void KV_WGLRenderer::ReadBackMemoryImage()
{
    const int width = mpkGLX->memoryWidth;
    const int height = mpkGLX->memoryHeight;
    if (mkMemoryImage.Rows() != height || mkMemoryImage.Cols() != width)
        mkMemoryImage.SetSize(height, width);
    if (mkMemoryImage.IsEmpty())
        return;
    GLint packAlignment = 4;
    glGetIntegerv(GL_PACK_ALIGNMENT, &packAlignment);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(mpkGLX->memoryDoubleBuffered ? GL_BACK : GL_FRONT);
    // Row 0 of the image is the bottom row, as OpenGL reads them.
    glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, mkMemoryImage.Data());
    glPixelStorei(GL_PACK_ALIGNMENT, packAlignment);
}

int KV_WGLRenderer::BeginMemoryContext(int width, int height, const KV_DeviceContext* dc,
                                       unsigned int flags)
{
    mbRenderToMemory = true;
    // A second call without EndMemoryContext replaces the first memory context.
    DestroyMemoryObjects();

    // The memory "bitmap": the image the pbuffer is read back into, 24 bits per pixel.
    constexpr int largestSide = 32768;
    if (width <= 0 || height <= 0 || width > largestSide || height > largestSide ||
        static_cast<std::int64_t>(width) * height > (std::int64_t(1) << 28))
        return RESULT_BITMAP_FAILED;
    mkMemoryImage.SetSize(height, width);
    const unsigned char bitsPerPixel = 24;

    Display* display = dc != nullptr ? dc->mpDisplay : mkDC.mpDisplay;
    if (display == nullptr)
        return RESULT_NO_DEVICE_CONTEXT;
    int screen = DefaultScreen(display);
    if (dc != nullptr && dc->munWindow != 0)
    {
        const int windowScreen = WindowScreen(display, dc->munWindow, nullptr);
        if (windowScreen >= 0)
            screen = windowScreen;
    }

    GLXFBConfig config = ChooseConfig(display, screen, MemoryPixelFormat(bitsPerPixel), flags);
    if (config == nullptr)
        return RESULT_NO_PIXEL_FORMAT;
    if (width > ConfigAttrib(display, config, GLX_MAX_PBUFFER_WIDTH) ||
        height > ConfigAttrib(display, config, GLX_MAX_PBUFFER_HEIGHT))
        return RESULT_SELECT_BITMAP_FAILED;

    mpkGLX->memoryDisplay = display;
    mpkGLX->memoryWidth = width;
    mpkGLX->memoryHeight = height;
    mpkGLX->memoryDoubleBuffered = ConfigAttrib(display, config, GLX_DOUBLEBUFFER) > 0;
    {
        const int attributes[] = {GLX_PBUFFER_WIDTH,
                                  width,
                                  GLX_PBUFFER_HEIGHT,
                                  height,
                                  GLX_PRESERVED_CONTENTS,
                                  True,
                                  GLX_LARGEST_PBUFFER,
                                  False,
                                  None};
        XErrorTrap trap(display);
        mpkGLX->pbuffer = glXCreatePbuffer(display, config, attributes);
        if (trap.Finish() != 0 && mpkGLX->pbuffer != 0)
        {
            glXDestroyPbuffer(display, mpkGLX->pbuffer);
            mpkGLX->pbuffer = 0;
        }
    }
    if (mpkGLX->pbuffer == 0)
        return RESULT_SET_PIXEL_FORMAT_FAILED;

    // No sharing with the window context: textures are uploaded again in this one.
    mpkGLX->memoryContext = NewContext(display, config);
    if (mpkGLX->memoryContext == nullptr)
        return RESULT_MEMORY_CONTEXT_FAILED;

    return MakeCurrentAndInitialise();
}

unsigned int KV_WGLRenderer::DestroyMemoryObjects()
{
    Display* display = mpkGLX->memoryDisplay;
    if (display == nullptr)
        return 0;
    XErrorTrap trap(display);
    if (mpkGLX->memoryContext != nullptr)
    {
        if (glXGetCurrentContext() == mpkGLX->memoryContext)
            glXMakeContextCurrent(display, None, None, nullptr);
        glXDestroyContext(display, mpkGLX->memoryContext);
    }
    if (mpkGLX->pbuffer != 0)
        glXDestroyPbuffer(display, mpkGLX->pbuffer);
    const unsigned int code = trap.Finish();
    mpkGLX->memoryContext = nullptr;
    mpkGLX->pbuffer = 0;
    mpkGLX->memoryDisplay = nullptr;
    return code;
}

void KV_WGLRenderer::EndMemoryContext()
{
    mbRenderToMemory = false;
    const unsigned int code = DestroyMemoryObjects();
    if (code != 0)
        throw KV_WindowsException(code);
}

void KV_WGLRenderer::CleanUp()
{
    Unregister();
    if (mbRenderToMemory)
        EndMemoryContext();
    unsigned int code = 0;
    if (mbOGLInitialised && mpkGLX->windowContext != nullptr && mkDC.mpDisplay != nullptr)
    {
        XErrorTrap trap(mkDC.mpDisplay);
        if (glXGetCurrentContext() == mpkGLX->windowContext)
            glXMakeCurrent(mkDC.mpDisplay, None, nullptr);
        glXDestroyContext(mkDC.mpDisplay, mpkGLX->windowContext);
        code = trap.Finish();
    }
    mpkGLX->windowContext = nullptr;
    mkDC = KV_DeviceContext();
    mbOGLInitialised = false;
    mbCleanUpCompleted = true;
    if (code != 0)
        throw KV_WindowsException(code);
}

void KV_WGLRenderer::InitialiseGLState() {}

void KV_WGLRenderer::ReportGLSettings(std::ostream& os)
{
    if (mbOGLInitialised || mbRenderToMemory)
        MakeCurrent();
    while (glGetError() != GL_NO_ERROR)
    {
    }
    os << "Windows GL settings" << std::endl;
    const GLubyte* version = glGetString(GL_VERSION);
    os << "  Version   ";
    if (version != nullptr && glGetError() == GL_NO_ERROR)
        os << reinterpret_cast<const char*>(version);
    else
        os << "Not Available";
    os << std::endl;

    const std::pair<const char*, GLenum> items[] = {{"  Red Bits    ", GL_RED_BITS},
                                                    {"  Green Bits  ", GL_GREEN_BITS},
                                                    {"  Blue Bits   ", GL_BLUE_BITS},
                                                    {"  Alpha Bits        ", GL_ALPHA_BITS},
                                                    {"  Accum Red Bits    ", GL_ACCUM_RED_BITS},
                                                    {"  Accum Green Bits  ", GL_ACCUM_GREEN_BITS},
                                                    {"  Accum Blue Bits   ", GL_ACCUM_BLUE_BITS},
                                                    {"  Accum Alpha Bits  ", GL_ACCUM_ALPHA_BITS},
                                                    {"  Depth Bits        ", GL_DEPTH_BITS},
                                                    {"  Stencil Bits      ", GL_STENCIL_BITS},
                                                    {"  Aux Buffers       ", GL_AUX_BUFFERS}};
    for (const auto& item : items)
    {
        GLint value = 0;
        glGetIntegerv(item.second, &value);
        os << item.first;
        if (glGetError() == GL_NO_ERROR)
            os << value;
        else
            os << "Not Available";
        os << std::endl;
    }
}

void KV_WGLRenderer::Dump(std::ostream& os) const
{
    KV_DumpClass(os, "KV_WGLRenderer");
    KV_DumpMember(os, "mbOGLInitialised", BoolText(mbOGLInitialised));
    KV_DumpMemberName(os, "mkBackgroundColour");
    mkBackgroundColour.Dump(os);
    KV_DumpMember(os, "mbRenderToMemory", BoolText(mbRenderToMemory));
    KV_DumpMember(os, "mbCleanUpCompleted", BoolText(mbCleanUpCompleted));
    os << " mpkDC " << (mkDC.IsAssigned() ? "Assigned" : "Unassigned") << std::endl;
}

// ---------------------------------------------------------------------------------------

KV_GLXWindow::~KV_GLXWindow()
{
    Destroy();
}

bool KV_GLXWindow::Create(int width, int height, bool mapped, const char* displayName)
{
    Destroy();
    // A busy server may drop a connection that arrives right after another one closed; a
    // few tries get past that.
    Display* display = nullptr;
    for (int attempt = 0; attempt < 20 && display == nullptr; ++attempt)
    {
        if (attempt > 0)
            usleep(50000);
        display = XOpenDisplay(displayName);
    }
    if (display == nullptr)
    {
        mpErrorText = "cannot open the X display (is DISPLAY set?)";
        return false;
    }
    const int screen = DefaultScreen(display);
    unsigned long visualId = 0;
    int depth = 0;
    XVisualInfo pattern;
    int count = 0;
    XVisualInfo* info = nullptr;
    if (KV_WGLRenderer::ChooseWindowVisual(display, screen, visualId, depth))
    {
        pattern.visualid = visualId;
        info = XGetVisualInfo(display, VisualIDMask, &pattern, &count);
    }
    if (info == nullptr)
    {
        XCloseDisplay(display);
        mpErrorText =
            "the X display offers no OpenGL visual with 24 colour bits and double buffering";
        return false;
    }
    const Window root = RootWindow(display, screen);
    munColourmap = XCreateColormap(display, root, info->visual, AllocNone);
    XSetWindowAttributes attributes;
    attributes.colormap = munColourmap;
    attributes.border_pixel = 0;
    attributes.event_mask = StructureNotifyMask | ExposureMask;
    const Window window =
        XCreateWindow(display, root, 0, 0, static_cast<unsigned int>(std::max(width, 1)),
                      static_cast<unsigned int>(std::max(height, 1)), 0, info->depth, InputOutput,
                      info->visual, CWColormap | CWBorderPixel | CWEventMask, &attributes);
    XFree(info);
    if (mapped)
    {
        XMapWindow(display, window);
        // Wait until the window is on screen, so that its front buffer can be read.
        XEvent event;
        do XNextEvent(display, &event);
        while (event.type != MapNotify || event.xmap.window != window);
    }
    XSync(display, False);
    mkDC.mpDisplay = display;
    mkDC.munWindow = window;
    return true;
}

void KV_GLXWindow::Destroy()
{
    if (mkDC.mpDisplay == nullptr)
        return;
    XDestroyWindow(mkDC.mpDisplay, mkDC.munWindow);
    if (munColourmap != 0)
        XFreeColormap(mkDC.mpDisplay, munColourmap);
    XCloseDisplay(mkDC.mpDisplay);
    mkDC = KV_DeviceContext();
    munColourmap = 0;
}
