#pragma once
// The "pick" and "measure" subcommands of osftool: what lies under a pixel of the picture
// that "osftool render" draws with the same options, found by casting the pixel's ray
// through the same camera at the surface (no display needed).
//
//   osftool pick [render options] FILE X,Y
//   osftool measure [render options] FILE X1,Y1 X2,Y2
//
// Pixels count from the picture's top-left corner, X to the right and Y down.

#include "measure/KV_PickCamera.h"

class KV_Executor;
class KV_PolySurface;
struct OsftoolRenderOptions;

// The camera "osftool render" draws surface with under options: the view's reset camera
// framing the surface's vertex box, then the --turn rotations about the vertex centroid.
// The surface may be as read or completed: only its vertices count.
KV_PickCamera OsftoolViewCamera(const KV_PolySurface& surface, const OsftoolRenderOptions& options);

// Checks the options and the argument count of command ("pick" or "measure") before
// anything is loaded: -1 when they are good; otherwise the exit status after printing the
// help (0) or the usage (64).
int OsftoolPickCheckArguments(const char* command, int argc, char** argv);

// Runs command on surface as read (not completed, so that polygon numbers are the file's).
// Prints the lines on stdout. Returns 0, 1 when a pixel shows no surface ("no surface at
// X,Y" on stderr), 64 for a usage error.
int OsftoolPickSurface(const char* command, const KV_PolySurface& surface, int argc, char** argv,
                       KV_Executor* executor);
