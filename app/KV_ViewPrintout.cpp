// The view's printing: the printout, the print commands and the drawing for a printer.
#include "app/KV_ViewPrintout.h"

#include "app/KV_Prompts.h"
#include "app/KV_Resource.h"
#include "app/KV_VerovuriRezaroApp.h"
#include "app/KV_VerovuriRezaroDoc.h"
#include "app/KV_VerovuriRezaroView.h"
#include "app/MainFrm.h"
#include "foundation/KV_Exception.h"

#include <wx/dc.h>
#include <wx/filename.h>
#include <wx/generic/printps.h>
#include <wx/image.h>
#include <wx/printdlg.h>
#include <wx/utils.h>

namespace
{
// Printer pictures are built at no more than this resolution and the printer's drawing
// surface scales the rest: a full 600 ppi page would be tens of megabytes of PostScript.
constexpr int kMaxPictureResolution = 300;

// The memory picture (row 0 at the bottom) as a toolkit image (top row first).
wxImage ImageOf(const KV_Image<KV_RGB8>& picture)
{
    const int rows = picture.Rows();
    const int cols = picture.Cols();
    wxImage image(cols, rows, false);
    unsigned char* out = image.GetData();
    for (int y = 0; y < rows; ++y)
    {
        const KV_RGB8* row = picture.Row(rows - 1 - y);
        for (int x = 0; x < cols; ++x, out += 3)
        {
            out[0] = row[x].red;
            out[1] = row[x].green;
            out[2] = row[x].blue;
        }
    }
    return image;
}

}  // namespace

KV_ViewPrintout::KV_ViewPrintout(KV_VerovuriRezaroView* view, const wxString& title)
    : wxPrintout(title), mpkView(view)
{
}

bool KV_ViewPrintout::OnPrintPage(int page)
{
    wxDC* dc = GetDC();
    if (page != 1 || dc == nullptr || mpkView == nullptr)
        return false;
    int pageWidth = 0, pageHeight = 0, ppiX = 0, ppiY = 0;
    GetPageSizePixels(&pageWidth, &pageHeight);
    GetPPIPrinter(&ppiX, &ppiY);
    mpkView->OnDrawPrint(*dc, pageWidth, pageHeight, ppiX, ppiY);
    return true;
}

void KV_ViewPrintout::GetPageInfo(int* minPage, int* maxPage, int* pageFrom, int* pageTo)
{
    *minPage = *maxPage = *pageFrom = *pageTo = 1;
}

void KV_VerovuriRezaroView::OnDrawPrint(wxDC& dc, int pageWidth, int pageHeight, int ppiX, int ppiY)
{
    wxBusyCursor wait;
    const wxSize client = DrawingSize();
    KV_PrintFit fit;
    if (!mbCreated ||
        !KV_FitWindowToPage(client.x, client.y, pageWidth, pageHeight, ppiX, ppiY, fit))
    {
        // A minimised window has no shape to print.
        ShowMessage(kMsgPrint);
        return;
    }
    mkLastPrintFit = fit;
    try
    {
        if (mkRenderer.BeginMemoryContext(fit.mnMemoryWidth, fit.mnMemoryHeight, &mkDC, 0) != 0)
        {
            ShowMessage(kMsgPrint);
        }
        else
        {
            mkRenderer.Render();
            // High-quality filtering to the printed size, at a resolution the printer's
            // drawing surface can take; its own scale covers the rest.
            int factor = 1;
            while (ppiX / factor > kMaxPictureResolution || ppiY / factor > kMaxPictureResolution)
                ++factor;
            wxImage picture = ImageOf(mkRenderer.MemoryImage());
            const int width = fit.mnPrintedWidth / factor > 0 ? fit.mnPrintedWidth / factor : 1;
            const int height = fit.mnPrintedHeight / factor > 0 ? fit.mnPrintedHeight / factor : 1;
            picture.Rescale(width, height, wxIMAGE_QUALITY_HIGH);
            double scaleX = 1.0, scaleY = 1.0;
            dc.GetUserScale(&scaleX, &scaleY);
            dc.SetUserScale(scaleX * fit.mnPrintedWidth / width,
                            scaleY * fit.mnPrintedHeight / height);
            dc.DrawBitmap(wxBitmap(picture), 0, 0, false);
            dc.SetUserScale(scaleX, scaleY);
        }
        mkRenderer.EndMemoryContext();
    }
    catch (const KV_Exception&)
    {
        try
        {
            if (mkRenderer.IsRenderingToMemory())
                mkRenderer.EndMemoryContext();
        }
        catch (const KV_Exception&)
        {
        }
        ShowMessage(kMsgPrint);
    }
}

wxString KV_VerovuriRezaroView::DefaultPrintFileName() const
{
    const wxString title =
        mpkDocument != nullptr ? wxFileName(mpkDocument->GetTitle()).GetName() : wxString();
    return wxFileName(wxGetHomeDir(), (title.empty() ? wxString("untitled") : title) + ".ps")
        .GetFullPath();
}

void KV_VerovuriRezaroView::OnFilePrint(wxCommandEvent&)
{
    wxPrintDialogData& data = wxGetApp().PrintDialogData();
    data.SetMinPage(1);
    data.SetMaxPage(1);
    data.SetFromPage(1);
    data.SetToPage(1);
    wxPrinter printer(&data);
    KV_ViewPrintout printout(this, mpkDocument ? mpkDocument->GetTitle() : wxString());
    if (printer.Print(wxGetApp().GetMainFrame(), &printout, true))
        data = printer.GetPrintDialogData();
}

void KV_VerovuriRezaroView::OnFilePrintDirect(wxCommandEvent&)
{
    // Without a dialog the desktop's print system waits for a printer that may not exist;
    // the generic PostScript printer writes the page to a file at once.
    const wxPrintData& settings = wxGetApp().PrintDialogData().GetPrintData();
    wxPrintData data;
    data.SetPaperId(settings.GetPaperId());
    data.SetOrientation(settings.GetOrientation());
    data.SetPrintMode(wxPRINT_MODE_FILE);
    data.SetFilename(settings.GetFilename().empty() ? DefaultPrintFileName()
                                                    : settings.GetFilename());
    wxPrintDialogData dialogData(data);
    dialogData.SetMinPage(1);
    dialogData.SetMaxPage(1);
    dialogData.SetFromPage(1);
    dialogData.SetToPage(1);
    wxPostScriptPrinter printer(&dialogData);
    KV_ViewPrintout printout(this, mpkDocument ? mpkDocument->GetTitle() : wxString());
    if (printer.Print(wxGetApp().GetMainFrame(), &printout, false))
        wxGetApp().GetMainFrame()->SetStatusText(
            wxString::Format("Printed to %s", data.GetFilename()), 0);
}

void KV_VerovuriRezaroView::OnFilePrintPreview(wxCommandEvent&)
{
    const wxString title = mpkDocument ? mpkDocument->GetTitle() : wxString();
    wxPrintDialogData data(wxGetApp().PrintDialogData());
    wxPrintPreview* preview = new wxPrintPreview(new KV_ViewPrintout(this, title),
                                                 new KV_ViewPrintout(this, title), &data);
    if (!preview->IsOk())
    {
        delete preview;
        ShowMessage(kMsgPrint);
        return;
    }
    wxPreviewFrame* frame = new wxPreviewFrame(preview, wxGetApp().GetMainFrame(), "Print Preview",
                                               wxDefaultPosition, wxSize(700, 800));
    frame->Initialize();
    frame->Show();
}
