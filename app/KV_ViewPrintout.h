#pragma once
// KV_ViewPrintout: one printed page of the 3D view, for the toolkit's printing and print
// preview. The page is drawn by the view's OnDrawPrint.

#include "image/KV_Image.h"

#include <wx/image.h>
#include <wx/print.h>

class KV_VerovuriRezaroView;

// A rendered picture (rows stored bottom-up) as a top-down toolkit image; an invalid image
// for an empty picture.
wxImage KV_TopDownImage(const KV_Image<KV_RGB8>& picture);

class KV_ViewPrintout : public wxPrintout
{
public:
    KV_ViewPrintout(KV_VerovuriRezaroView* view, const wxString& title);

    bool OnPrintPage(int page) override;
    bool HasPage(int page) override { return page == 1; }
    void GetPageInfo(int* minPage, int* maxPage, int* pageFrom, int* pageTo) override;

private:
    KV_VerovuriRezaroView* mpkView;
};
