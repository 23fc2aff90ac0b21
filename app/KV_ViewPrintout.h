#pragma once
// KV_ViewPrintout: one printed page of the 3D view, for the toolkit's printing and print
// preview. The page is drawn by the view's OnDrawPrint.

#include <wx/print.h>

class KV_VerovuriRezaroView;

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
