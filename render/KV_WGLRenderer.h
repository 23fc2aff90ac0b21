#pragma once
// KV_WGLRenderer: binds OpenGL to an X window through GLX. It chooses and sets the pixel
// format (a GLX framebuffer config) of the window, creates the rendering context, makes it
// current before any OpenGL call, clears and swaps the frame, and, for printing and
// command-line pictures, draws into an off-screen pbuffer whose pixels are read back into a
// colour image (render to memory). It is the root of the renderer chain
// (KV_WGLRenderer, KV_OGLEnvironmentRenderer, KV_OGLRenderer); these files are the only ones
// in the renderer that touch the window system, and this header names no X or GLX type.
//
// The "device context" is a KV_DeviceContext: the Display* and the X window id of the
// window to draw into. With wxWidgets on X11 that is the GL canvas's native window (the X
// id of its GdkWindow) and the X display the toolkit uses. The application keeps the display
// open and the window alive until CleanUp() (or, failing that, the renderer's destruction).
//
// The window's visual must be fixed when the window is made, so the canvas has to be made
// with the attributes of the window template: GLX_X_RENDERABLE True, GLX_DRAWABLE_TYPE
// GLX_WINDOW_BIT, GLX_RENDER_TYPE GLX_RGBA_BIT, GLX_DOUBLEBUFFER True, GLX_RED_SIZE 8,
// GLX_GREEN_SIZE 8, GLX_BLUE_SIZE 8, GLX_DEPTH_SIZE 32 where the server offers 32 depth bits
// (the deepest offered otherwise). ChooseWindowVisual() gives the X visual that Initialise()
// will choose, for toolkits that take a visual. Initialise() accepts any window whose
// visual has the same colour sizes, double buffering and depth-buffer size as the chosen
// config, and returns 3 otherwise.
//
// Several renderers may share one window: the first registered on it clears the frame,
// the last swaps it. Everything runs on one thread.

#include "image/KV_Image.h"
#include "render/KV_OGLObject.h"

#include <ostream>
#include <vector>

struct _XDisplay;  // Xlib's Display

// One X window on one display connection; neither is owned.
struct KV_DeviceContext
{
    _XDisplay* mpDisplay = nullptr;
    unsigned long munWindow = 0;  // an X Window id

    bool IsAssigned() const { return mpDisplay != nullptr && munWindow != 0; }
    bool operator==(const KV_DeviceContext& other) const
    {
        return mpDisplay == other.mpDisplay && munWindow == other.munWindow;
    }
    bool operator!=(const KV_DeviceContext& other) const { return !(*this == other); }
};

// Pixel-format flags, with the values of the descriptor this logic was first written for.
enum : unsigned int
{
    KV_PFD_DOUBLEBUFFER = 0x00000001,
    KV_PFD_DRAW_TO_WINDOW = 0x00000004,
    KV_PFD_DRAW_TO_BITMAP = 0x00000008,  // here: an off-screen pbuffer
    KV_PFD_SUPPORT_GDI = 0x00000010,     // here: pixels can be read back by the program
    KV_PFD_SUPPORT_OPENGL = 0x00000020,
    KV_PFD_GENERIC_FORMAT = 0x00000040  // here: the renderer is not hardware accelerated
};

enum : unsigned char
{
    KV_PFD_TYPE_RGBA = 0,
    KV_PFD_MAIN_PLANE = 0
};

// A pixel-format request or description. Describing a chosen config fills every count from
// the config and munConfigId / munVisualId with its GLX_FBCONFIG_ID and X visual (0 for a
// pbuffer-only config).
struct KV_PixelFormat
{
    unsigned short munSize = 40;
    unsigned short munVersion = 1;
    unsigned int munFlags = 0;
    unsigned char munPixelType = KV_PFD_TYPE_RGBA;
    unsigned char munColourBits = 0;
    unsigned char munRedBits = 0;
    unsigned char munGreenBits = 0;
    unsigned char munBlueBits = 0;
    unsigned char munAlphaBits = 0;
    unsigned char munAccumBits = 0;
    unsigned char munDepthBits = 0;
    unsigned char munStencilBits = 0;
    unsigned char munAuxBuffers = 0;
    unsigned char munLayerType = KV_PFD_MAIN_PLANE;
    int mnConfigId = 0;
    unsigned long munVisualId = 0;
};

// Error codes carried by KV_WindowsException where GLX reports a failure without an X
// error; every other code is the X error code of the failing request.
enum : unsigned int
{
    KV_GLX_ERROR_NO_CONTEXT = 0x10001,    // nothing to make current (not initialised)
    KV_GLX_ERROR_MAKE_CURRENT = 0x10002,  // glXMakeCurrent returned False
    KV_GLX_ERROR_NO_DISPLAY = 0x10003     // no display connection to work on
};

class KV_WGLRenderer
{
public:
    // Initialise() results; BeginMemoryContext() uses the same numbers.
    enum
    {
        RESULT_OK = 0,
        RESULT_NO_PIXEL_FORMAT = 1,          // no config matched the request
        RESULT_DESCRIBE_FAILED = 2,          // the chosen config could not be read back
        RESULT_SET_PIXEL_FORMAT_FAILED = 3,  // window visual incompatible / pbuffer not made
        RESULT_CREATE_CONTEXT_FAILED = 4,    // the window's rendering context
        RESULT_MEMORY_DC_FAILED = 5,         // (not used on GLX)
        RESULT_NO_DEVICE_CONTEXT = 6,        // no display for the memory context
        RESULT_BITMAP_FAILED = 7,            // the memory image could not be made (size)
        RESULT_SELECT_BITMAP_FAILED = 8,     // size beyond the config's largest pbuffer
        RESULT_MEMORY_CONTEXT_FAILED = 9,    // the memory rendering context
        RESULT_MAKE_CURRENT_FAILED = 10
    };

    KV_WGLRenderer();
    // Releases a memory context still present and, when CleanUp() was never called, leaves
    // the device-context registry and destroys the window context without throwing.
    virtual ~KV_WGLRenderer();
    KV_WGLRenderer(const KV_WGLRenderer&) = delete;
    KV_WGLRenderer& operator=(const KV_WGLRenderer&) = delete;

    // Draws one frame: make current, clear (first renderer on the window only),
    // RenderScene(), glFinish(), swap (last renderer only). While any renderer renders, a
    // nested Render() of any renderer returns at once. In memory mode the frame goes into the
    // pbuffer and is read back into MemoryImage() instead of being swapped.
    // Throws KV_WindowsException when the context cannot be made current or the swap fails,
    // KV_RenderException (and draws nothing) when an OpenGL error is pending at the start;
    // every pending error is cleared first, so the next frame can work.
    virtual void Render();
    // Shows the last window frame again without drawing the scene, when it was kept and the
    // viewport is still the one it was drawn for: what an unchanged scene needs when the
    // window system asks for the window to be drawn again (a change to the status bar redraws
    // the whole window, and a frame of a large surface takes a second). False, doing nothing,
    // otherwise. Frames are kept when Render() took at least the seconds SetKeepFramesFrom set
    // (20 ms at first); the picture is the window's size in RGBA bytes (none is kept past
    // 4096 x 4096 pixels).
    bool RenderKeptFrame();
    void SetKeepFramesFrom(double seconds) { mrKeepFramesFrom = seconds; }
    // Leaves the registry, ends a memory context, destroys the window context and forgets
    // the device context. Throws KV_WindowsException when destroying fails.
    virtual void CleanUp();
    // Prepares render to memory: a pbuffer of width x height on dc's display (this renderer's
    // own display when dc is null) with its own rendering context, which shares nothing with
    // the window context. Returns 0 or a result code above; the renderer is in memory mode
    // whatever the result, and the caller always follows with EndMemoryContext().
    virtual int BeginMemoryContext(int width, int height, const KV_DeviceContext* dc,
                                   unsigned int flags);
    // Leaves memory mode and destroys the pbuffer and its context (the image read back stays).
    // Throws KV_WindowsException when destroying fails.
    virtual void EndMemoryContext();
    // The "Windows GL settings" report of the current context.
    virtual void ReportGLSettings(std::ostream& os);
    virtual void RenderScene() = 0;
    // Called once a new context is current; sets up OpenGL state. Nothing here.
    virtual void InitialiseGLState();
    virtual void Dump(std::ostream& os) const;

    // Binds the renderer to dc. requestedFormat is normally WindowPixelFormat(); the config
    // chosen for it is described into chosenFormat. flags low byte 0 lets the GLX chooser
    // pick; otherwise the first config with all requested flags plus KV_PFD_GENERIC_FORMAT
    // is taken. Returns 0 or a result code: 1 no config, 2 describe failed, 3 the window's
    // visual does not fit the config (or the window does not exist), 4 context creation
    // failed, 10 making it current failed.
    int Initialise(const KV_DeviceContext& dc, KV_PixelFormat& chosenFormat,
                   const KV_PixelFormat& requestedFormat, unsigned int flags);
    // Makes the memory context current in memory mode, the window context otherwise.
    // Throws KV_WindowsException (X error code or a KV_GLX_ERROR_ code) on failure.
    void MakeCurrent();
    // Sets the clear colour of every renderer registered on this renderer's window.
    void SetBackgroundColour(const KV_OGLColour& colour);
    const KV_OGLColour& GetBackgroundColour() const { return mkBackgroundColour; }

    bool IsInitialised() const { return mbOGLInitialised; }
    bool IsRenderingToMemory() const { return mbRenderToMemory; }
    bool IsCleanUpCompleted() const { return mbCleanUpCompleted; }
    const KV_DeviceContext& GetDeviceContext() const { return mkDC; }
    // The last frame drawn in memory mode, row 0 at the bottom; empty before the first.
    const KV_Image<KV_RGB8>& MemoryImage() const { return mkMemoryImage; }

    // The fixed requests: RGBA, 24 colour bits, 32 depth bits; the window one
    // double-buffered for drawing to a window, the memory one single-buffered for a pbuffer.
    static KV_PixelFormat WindowPixelFormat();
    static KV_PixelFormat MemoryPixelFormat(unsigned char colourBits);
    // The X visual that Initialise() with the window template chooses on display's screen,
    // with its depth; returns false when no config fits.
    static bool ChooseWindowVisual(_XDisplay* display, int screen, unsigned long& visualId,
                                   int& depth);
    // Renderers registered on dc (for tests and diagnostics).
    static unsigned int RegisteredRendererCount(const KV_DeviceContext& dc);

private:
    struct GLXState;

    // The last steps of Initialise and BeginMemoryContext: the new context current and set up.
    int MakeCurrentAndInitialise();
    bool IsFirstOnDeviceContext() const;
    bool IsLastOnDeviceContext() const;
    void Unregister();
    // Keeps the back buffer's picture for RenderKeptFrame, or drops the kept one.
    void KeepFrame(bool keep);
    // Clears every pending OpenGL error flag.
    static void ClearGLErrors();
    // Swaps the window's buffers; throws KV_WindowsException on an X error.
    void SwapWindowBuffers();
    void ReadBackMemoryImage();
    // Destroys the memory objects present; returns the first X error code (0 when none).
    unsigned int DestroyMemoryObjects();

    bool mbOGLInitialised = false;
    KV_OGLColour mkBackgroundColour;
    bool mbRenderToMemory = false;
    bool mbCleanUpCompleted = false;
    KV_DeviceContext mkDC;
    KV_Image<KV_RGB8> mkMemoryImage;
    // The last window frame, when it took long enough to keep: RGBA rows, the bottom first.
    std::vector<unsigned char> mkKeptFrame;
    int mnKeptViewport[4] = {0, 0, 0, 0};
    double mrKeepFramesFrom = 0.02;
    GLXState* mpkGLX;

    static bool mbRendering;
};

// An X display connection with one window made with the window template's visual: what
// tests, benchmarks and command-line tools draw into when there is no toolkit window.
class KV_GLXWindow
{
public:
    KV_GLXWindow() = default;
    ~KV_GLXWindow();
    KV_GLXWindow(const KV_GLXWindow&) = delete;
    KV_GLXWindow& operator=(const KV_GLXWindow&) = delete;

    // Opens the display named by displayName (the DISPLAY variable when null) and makes a
    // width x height window, shown when mapped is set. Returns false, with ErrorText() set,
    // when there is no display or no config fits the window template.
    bool Create(int width, int height, bool mapped, const char* displayName = nullptr);
    void Destroy();

    KV_DeviceContext GetDeviceContext() const { return mkDC; }
    const char* ErrorText() const { return mpErrorText; }

private:
    KV_DeviceContext mkDC;
    unsigned long munColourmap = 0;
    const char* mpErrorText = "";
};
