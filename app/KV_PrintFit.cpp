#include "app/KV_PrintFit.h"

bool KV_FitWindowToPage(int cw, int ch, int pageWidth, int pageHeight, int ppiX, int ppiY,
                        KV_PrintFit& fit)
{
    fit = KV_PrintFit();
    if (cw <= 0 || ch <= 0 || pageWidth <= 0 || pageHeight <= 0 || ppiX <= 0 || ppiY <= 0)
        return false;
    const double e = static_cast<double>(ppiY) / ppiX;  // printer pixel shape
    const double r = static_cast<double>(ch) / cw;      // window shape
    // Compare the window's width and height measured in page lengths (inches of paper).
    double printedWidth, printedHeight;
    if (static_cast<double>(cw) * pageHeight / ppiY >= static_cast<double>(ch) * pageWidth / ppiX)
    {
        printedWidth = pageWidth;
        printedHeight = static_cast<double>(pageWidth) * r * e;
    }
    else
    {
        printedHeight = pageHeight;
        printedWidth = pageHeight / (r * e);
    }
    const int pw = static_cast<int>(printedWidth);
    const int ph = static_cast<int>(printedHeight);
    if (pw <= 0 || ph <= 0)
        return false;
    const int mh = static_cast<int>(static_cast<long long>(ph) * cw / pw);
    if (mh <= 0)
        return false;
    fit.mnPrintedWidth = pw;
    fit.mnPrintedHeight = ph;
    fit.mnMemoryWidth = cw;
    fit.mnMemoryHeight = mh;
    return true;
}
