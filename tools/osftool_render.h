#pragma once
// The "render" subcommand of osftool: draws a completed surface off-screen exactly as the
// viewer shows it just after opening (two lights and a perspective volume as the view sets
// them up, the actor added, the camera reset, the world turning about the surface centroid)
// and writes the picture as a PNG file.
//
//   osftool render [--size WxH] [--wireframe] [--flat] [--no-texture]
//                  [--background R,G,B] [--turn DEGX,DEGY] FILE OUT.png
//
// Needs an X display with GLX (an unmapped window and an off-screen pbuffer are made on it).

class KV_PolySurface;
class KV_SurfaceAppearance;

// argv[0] is the subcommand's name; the rest are its options, FILE and OUT.png, in any
// order (options may also be written --size=WxH). completedSurface is FILE's surface, read
// and completed by the caller (an empty surface when FILE is missing), appearance what the
// file carries beside it (may be null). Errors go to stderr.
// Returns 0 on success and for --help, 64 for a usage error, 3 when there is no usable X
// display (or OpenGL cannot be set up on it), 1 when drawing or writing the PNG fails.
int OsftoolRenderSurface(const KV_PolySurface& completedSurface, int argc, char** argv,
                         const KV_SurfaceAppearance* appearance = nullptr);

// Checks the options and the argument count before anything is loaded: -1 when they are
// good; otherwise the exit status after printing the help (0) or the usage (64).
int OsftoolRenderCheckArguments(int argc, char** argv);

// The index in argv of FILE, skipping the values of the options that take one (so that
// "--size 640x480 FILE" finds FILE); -1 when there is none.
int OsftoolRenderFileArgument(int argc, char** argv);
