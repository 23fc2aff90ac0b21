#pragma once
// osftool's exit statuses, shared by its subcommands (the manual page lists them).

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;      // the check or the write failed
constexpr int kExitNoSurface = 1;   // pick and measure: no surface under the pixel
constexpr int kExitLoadFailed = 2;  // the file did not load
constexpr int kExitNoDisplay = 3;   // render: no X display with GLX
constexpr int kExitUsage = 64;      // the command line is wrong
