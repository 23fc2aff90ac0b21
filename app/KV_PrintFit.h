#pragma once
// Fitting the 3D view onto a printed page: the printed picture keeps the window's physical
// shape and fills the page's width or height, and the off-screen picture rendered for it has
// the window's width and the printed picture's shape.

struct KV_PrintFit
{
    int mnPrintedWidth = 0;  // printer pixels
    int mnPrintedHeight = 0;
    int mnMemoryWidth = 0;  // pixels of the off-screen picture
    int mnMemoryHeight = 0;
};

// cw x ch: the window's client size; pageWidth x pageHeight: the page's printable size in
// printer pixels; ppiX, ppiY: printer pixels per inch. Returns false, leaving fit zeroed,
// when any size is not positive or the result would be an empty picture.
bool KV_FitWindowToPage(int cw, int ch, int pageWidth, int pageHeight, int ppiX, int ppiY,
                        KV_PrintFit& fit);
