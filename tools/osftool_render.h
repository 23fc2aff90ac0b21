#pragma once
// The "render" subcommand of osftool: draws a completed surface off-screen exactly as the
// viewer shows it just after opening (two lights and a perspective volume as the view sets
// them up, the actor added, the camera reset, the world turning about the surface centroid)
// and writes the picture as a PNG or JPEG file, by OUT's extension.
//
//   osftool render [--size WxH] [--wireframe] [--flat] [--no-texture]
//                  [--background R,G,B] [--turn DEGX,DEGY] FILE OUT.png|OUT.jpg
//
// Needs an X display with GLX (an unmapped window and an off-screen pbuffer are made on it).
// pick and measure take the same options and find the picture's pixels without drawing.

#include <vector>

class KV_PolySurface;
class KV_SurfaceAppearance;

// What the options say about the picture.
struct OsftoolRenderOptions
{
    int width = 640;
    int height = 480;
    bool wireframe = false;
    bool flat = false;
    bool noTexture = false;
    int background[3] = {0, 0, 0};
    float turnX = 0.0f;
    float turnY = 0.0f;
    bool help = false;
    std::vector<const char*> positional;
};

// Parses the picture options of render, pick and measure (argv[0] is the subcommand's name,
// which is skipped) and gathers the rest as positional arguments. False, with a message
// naming command and the option at fault on stderr, for anything the grammar does not allow.
bool OsftoolParseRenderOptions(const char* command, int argc, char** argv,
                               OsftoolRenderOptions& options);
// The options' help lines.
const char* OsftoolRenderOptionsHelp();

// argv[0] is the subcommand's name; the rest are its options, FILE and OUT, in any
// order (options may also be written --size=WxH). completedSurface is FILE's surface, read
// and completed by the caller (an empty surface when FILE is missing), appearance what the
// file carries beside it (may be null). Errors go to stderr.
// Returns 0 on success and for --help, 64 for a usage error (OUT's extension naming neither
// PNG nor JPEG is one), 3 when there is no usable X display (or OpenGL cannot be set up on
// it), 1 when drawing or writing the picture fails.
int OsftoolRenderSurface(const KV_PolySurface& completedSurface, int argc, char** argv,
                         const KV_SurfaceAppearance* appearance = nullptr);

// Checks the options and the argument count before anything is loaded: -1 when they are
// good; otherwise the exit status after printing the help (0) or the usage (64).
int OsftoolRenderCheckArguments(int argc, char** argv);

// The index in argv of FILE, skipping the values of the options that take one (so that
// "--size 640x480 FILE" finds FILE); -1 when there is none.
int OsftoolRenderFileArgument(int argc, char** argv);
