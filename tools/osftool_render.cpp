#include "tools/osftool_render.h"

#include "document/KV_DocumentCore.h"
#include "foundation/KV_Exception.h"
#include "render/KV_OGLRenderer.h"
#include "render/KV_PolySurfaceGeometry3D.h"
#include "render/KV_ViewDefaults.h"
#include "tools/osftool_exit.h"
#include "image/KV_PngWriter.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

// After <cstdio>: jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>

namespace
{

const char* kUsage =
    "usage: osftool render [--size WxH] [--wireframe] [--flat] [--no-texture] "
    "[--background R,G,B] [--turn DEGX,DEGY] FILE OUT.png|OUT.jpg";

using RenderOptions = OsftoolRenderOptions;

bool TakesValue(const char* option)
{
    return std::strcmp(option, "--size") == 0 || std::strcmp(option, "--background") == 0 ||
           std::strcmp(option, "--turn") == 0;
}

// Parses "N<sep>N..." into count integers in [low, high]; the whole text must be used.
bool ParseIntegers(const char* text, char separator, int count, int low, int high, int* out)
{
    const char* p = text;
    for (int i = 0; i < count; ++i)
    {
        if (*p < '0' || *p > '9')
            return false;
        char* end = nullptr;
        const long value = std::strtol(p, &end, 10);
        if (value < low || value > high)
            return false;
        out[i] = static_cast<int>(value);
        p = end;
        if (i + 1 < count)
        {
            if (*p != separator)
                return false;
            ++p;
        }
    }
    return *p == '\0';
}

bool ParseAngles(const char* text, float* x, float* y)
{
    char* end = nullptr;
    const double a = std::strtod(text, &end);
    if (end == text || *end != ',')
        return false;
    const char* second = end + 1;
    const double b = std::strtod(second, &end);
    if (end == second || *end != '\0' || !std::isfinite(a) || !std::isfinite(b))
        return false;
    *x = static_cast<float>(a);
    *y = static_cast<float>(b);
    return true;
}

}  // namespace

bool OsftoolParseRenderOptions(const char* command, int argc, char** argv,
                               OsftoolRenderOptions& options)
{
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i)
    {
        std::string arg = argv[i];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-")
        {
            options.positional.push_back(argv[i]);
            continue;
        }
        if (arg == "--")
        {
            optionsEnded = true;
            continue;
        }
        if (arg == "--help" || arg == "-h")
        {
            options.help = true;
            continue;
        }
        if (arg == "--wireframe")
        {
            options.wireframe = true;
            continue;
        }
        if (arg == "--flat")
        {
            options.flat = true;
            continue;
        }
        if (arg == "--no-texture")
        {
            options.noTexture = true;
            continue;
        }
        std::string name = arg, value;
        const size_t equals = arg.find('=');
        if (equals != std::string::npos)
        {
            name = arg.substr(0, equals);
            value = arg.substr(equals + 1);
        }
        else if (TakesValue(arg.c_str()))
        {
            if (i + 1 >= argc)
            {
                std::fprintf(stderr, "osftool %s: %s needs a value\n", command, arg.c_str());
                return false;
            }
            value = argv[++i];
        }
        if (name == "--size")
        {
            int size[2];
            if (!ParseIntegers(value.c_str(), 'x', 2, 1, 16384, size))
            {
                std::fprintf(stderr, "osftool %s: --size takes WxH, each 1 to 16384\n", command);
                return false;
            }
            options.width = size[0];
            options.height = size[1];
        }
        else if (name == "--background")
        {
            if (!ParseIntegers(value.c_str(), ',', 3, 0, 255, options.background))
            {
                std::fprintf(stderr, "osftool %s: --background takes R,G,B, each 0 to 255\n",
                             command);
                return false;
            }
        }
        else if (name == "--turn")
        {
            if (!ParseAngles(value.c_str(), &options.turnX, &options.turnY))
            {
                std::fprintf(stderr, "osftool %s: --turn takes DEGX,DEGY in degrees\n", command);
                return false;
            }
        }
        else
        {
            std::fprintf(stderr, "osftool %s: unknown option '%s'\n", command, name.c_str());
            return false;
        }
    }
    return true;
}

namespace
{
void PrintHelp()
{
    std::printf("%s\n\n", kUsage);
    std::printf(
        "Draws FILE off-screen as the viewer shows it just after opening (two lights, a\n"
        "perspective view framing the whole surface, the texture on) and writes the picture\n"
        "as PNG (OUT.png) or JPEG (OUT.jpg or OUT.jpeg). Needs an X display with OpenGL (GLX).\n\n"
        "%s\n"
        "Exit status: 0 written, 1 drawing or writing failed, 2 FILE does not load,\n"
        "3 no usable X display, 64 usage error.\n",
        OsftoolRenderOptionsHelp());
}

enum class PictureFormat
{
    Png,
    Jpeg,
    Unknown
};

// By the name's extension, in any case.
PictureFormat FormatOf(const char* path)
{
    const std::string name = path;
    const size_t dot = name.rfind('.');
    const size_t slash = name.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return PictureFormat::Unknown;
    std::string extension = name.substr(dot + 1);
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (extension == "png")
        return PictureFormat::Png;
    if (extension == "jpg" || extension == "jpeg")
        return PictureFormat::Jpeg;
    return PictureFormat::Unknown;
}

// libjpeg reports a failure by calling error_exit, which must not return: it jumps back to
// WriteJpeg with the library's message.
struct JpegError
{
    jpeg_error_mgr manager;
    std::jmp_buf back;
    char message[JMSG_LENGTH_MAX];
};

void JpegErrorExit(j_common_ptr info)
{
    JpegError* error = reinterpret_cast<JpegError*>(info->err);
    (*info->err->format_message)(info, error->message);
    std::longjmp(error->back, 1);
}

// Baseline JPEG, quality 95, top row first (the image's row 0 is its bottom). A partly
// written file is removed.
bool WriteJpeg(const KV_Image<KV_RGB8>& picture, const char* path, std::string& error)
{
    if (picture.IsEmpty())
    {
        error = "the picture is empty";
        return false;
    }
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr)
    {
        error = std::string("cannot create the file: ") + std::strerror(errno);
        return false;
    }
    jpeg_compress_struct info;
    JpegError jpegError;
    info.err = jpeg_std_error(&jpegError.manager);
    jpegError.manager.error_exit = JpegErrorExit;
    if (setjmp(jpegError.back) != 0)
    {
        jpeg_destroy_compress(&info);
        std::fclose(file);
        std::remove(path);
        error = std::string("the JPEG library failed: ") + jpegError.message;
        return false;
    }
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, file);
    info.image_width = static_cast<JDIMENSION>(picture.Cols());
    info.image_height = static_cast<JDIMENSION>(picture.Rows());
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 95, TRUE);
    jpeg_start_compress(&info, TRUE);
    const int rows = picture.Rows();
    while (info.next_scanline < info.image_height)
    {
        // libjpeg takes rows as writable pointers but only reads them.
        const KV_RGB8* row = picture.Row(rows - 1 - static_cast<int>(info.next_scanline));
        JSAMPROW samples = const_cast<JSAMPROW>(reinterpret_cast<const JSAMPLE*>(row));
        jpeg_write_scanlines(&info, &samples, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    const bool closed = std::fclose(file) == 0;
    if (!closed)
    {
        std::remove(path);
        error = "the file could not be written to the end";
        return false;
    }
    return true;
}

int UsageError()
{
    std::fprintf(stderr, "%s\n", kUsage);
    return kExitUsage;
}

// The view's set-up after its window is made: two lights, a perspective volume, the
// background, the window size and the viewport.
bool SetUpAsTheView(KV_OGLRenderer& renderer, const RenderOptions& options)
{
    try
    {
        KV_AddViewLights(renderer);
    }
    catch (const KV_WindowsException& e)
    {
        std::fprintf(stderr, "osftool render: cannot set up the lights (X error %u)\n",
                     e.ErrorCode());
        return false;
    }
    renderer.SetClippingVolume(KV_ViewClippingVolume());
    renderer.SetBackgroundColour(KV_OGLColour(options.background[0] / 255.0f,
                                              options.background[1] / 255.0f,
                                              options.background[2] / 255.0f, 0.0f));
    renderer.SetWindowSize(options.width, options.height);
    renderer.SetViewport(KV_Viewport(0, 0, static_cast<unsigned int>(options.width),
                                     static_cast<unsigned int>(options.height)));
    return true;
}

// Draws the geometry into a memory context; on success picture holds the frame.
int Draw(KV_OGLRenderer& renderer, KV_PolySurfaceGeometry3D& geometry, const RenderOptions& options,
         KV_Image<KV_RGB8>& picture)
{
    try
    {
        KV_Actor3D* actor = geometry.CreateActor();
        actor->SetDisplayedWireframe(options.wireframe);
        actor->SetDisplayedSmooth(!options.flat);
        actor->SetDisplayedTextured(!options.noTexture);
        renderer.AddActor(actor);
        renderer.ResetCamera(KV_OGLRenderer::CAMERA_PERSPECTIVE);
        renderer.mkWorldCentreOfRotation = geometry.GetCentre();
        if (options.turnX != 0.0f)
            renderer.RotateWorld(KV_Vector3D(1, 0, 0), options.turnX);
        if (options.turnY != 0.0f)
            renderer.RotateWorld(KV_Vector3D(0, 1, 0), options.turnY);

        const int result = renderer.BeginMemoryContext(options.width, options.height, nullptr, 0);
        if (result != 0)
        {
            renderer.EndMemoryContext();
            std::fprintf(stderr,
                         "osftool render: cannot make an off-screen picture of %dx%d (code %d)\n",
                         options.width, options.height, result);
            return kExitFailed;
        }
        renderer.Render();
        picture = renderer.MemoryImage();
        renderer.EndMemoryContext();
    }
    catch (const KV_WindowsException& e)
    {
        std::fprintf(stderr, "osftool render: the window system failed (X error %u)\n",
                     e.ErrorCode());
        return kExitFailed;
    }
    catch (const KV_RenderException& e)
    {
        std::fprintf(stderr, "osftool render: OpenGL failed (error %u)\n", e.ErrorCode());
        return kExitFailed;
    }
    return kExitOk;
}
}  // namespace

const char* OsftoolRenderOptionsHelp()
{
    return "  --size WxH          picture size in pixels (default 640x480)\n"
           "  --wireframe         draw the triangles' outlines only\n"
           "  --flat              flat shading instead of smooth shading\n"
           "  --no-texture        draw with the surface material instead of the texture\n"
           "  --background R,G,B  background colour, each 0 to 255 (default 0,0,0)\n"
           "  --turn DEGX,DEGY    turn the surface about the screen's x axis, then its y axis,\n"
           "                      through the surface centroid\n";
}

int OsftoolRenderFileArgument(int argc, char** argv)
{
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i)
    {
        const char* arg = argv[i];
        if (!optionsEnded && std::strcmp(arg, "--") == 0)
        {
            optionsEnded = true;
            continue;
        }
        if (optionsEnded || arg[0] != '-' || arg[1] == '\0')
            return i;
        if (TakesValue(arg))
            ++i;
    }
    return -1;
}

namespace
{
// Parses the arguments into options: -1 when rendering may go on, else the exit status
// (help printed, or a usage error).
int ReadArguments(int argc, char** argv, RenderOptions& options)
{
    if (!OsftoolParseRenderOptions("render", argc, argv, options))
        return UsageError();
    if (options.help)
    {
        PrintHelp();
        return kExitOk;
    }
    if (options.positional.size() != 2)
        return UsageError();
    if (FormatOf(options.positional[1]) == PictureFormat::Unknown)
    {
        std::fprintf(stderr,
                     "osftool render: cannot tell the picture format of '%s': name it .png, "
                     ".jpg or .jpeg\n",
                     options.positional[1]);
        return UsageError();
    }
    return -1;
}
}  // namespace

int OsftoolRenderCheckArguments(int argc, char** argv)
{
    RenderOptions options;
    return ReadArguments(argc, argv, options);
}

int OsftoolRenderSurface(const KV_PolySurface& completedSurface, int argc, char** argv,
                         const KV_SurfaceAppearance* appearance)
{
    RenderOptions options;
    if (const int status = ReadArguments(argc, argv, options); status >= 0)
        return status;
    const char* outPath = options.positional[1];

    // The window is never shown: it only carries the rendering context, as the view's does.
    KV_GLXWindow window;
    if (!window.Create(options.width, options.height, false))
    {
        std::fprintf(stderr, "osftool render: no X display to draw on: %s\n", window.ErrorText());
        return kExitNoDisplay;
    }
    KV_PolySurfaceGeometry3D geometry;
    if (appearance != nullptr)
        geometry.Appearance() = *appearance;
    geometry.SetSurface(completedSurface, false);
    geometry.mkMaterial = KV_DocumentCore::NewSurfaceMaterial();

    KV_Image<KV_RGB8> picture;
    int status = kExitOk;
    {
        KV_OGLRenderer renderer;
        KV_PixelFormat chosen;
        const int result = renderer.Initialise(window.GetDeviceContext(), chosen,
                                               KV_WGLRenderer::WindowPixelFormat(), 0);
        if (result != 0)
        {
            std::fprintf(stderr,
                         "osftool render: cannot set up OpenGL on the X display (code %d)\n",
                         result);
            status = kExitNoDisplay;
        }
        else if (!SetUpAsTheView(renderer, options))
        {
            status = kExitNoDisplay;
        }
        else
        {
            status = Draw(renderer, geometry, options, picture);
        }
        try
        {
            renderer.CleanUp();
        }
        catch (const KV_WindowsException&)
        {
            // The picture is made; the display goes with the window anyway.
        }
    }
    if (status != kExitOk)
        return status;

    std::string error;
    const bool written = FormatOf(outPath) == PictureFormat::Jpeg
                             ? WriteJpeg(picture, outPath, error)
                             : KV_PngWriter::Write(picture, outPath, error);
    if (!written)
    {
        std::fprintf(stderr, "Failed to save file %s\nosftool render: %s\n", outPath,
                     error.c_str());
        return kExitFailed;
    }
    return kExitOk;
}
