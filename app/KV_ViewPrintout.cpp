// The view's printing: the printout, the print commands and the drawing for a printer, and
// the off-screen drawing that printing, Save Image and Copy View share.
#include "app/KV_ViewPrintout.h"

#include "app/KV_Prompts.h"
#include "app/KV_Resource.h"
#include "app/KV_ViewServices.h"
#include "app/KV_VerovuriRezaroDoc.h"
#include "app/KV_VerovuriRezaroView.h"
#include "foundation/KV_Exception.h"

#include <wx/dc.h>
#include <wx/filename.h>
#include <wx/generic/printps.h>
#include <wx/image.h>
#include <wx/printdlg.h>
#include <wx/utils.h>

#include <algorithm>

namespace
{
// Printer pictures are built at no more than this resolution and the printer's drawing
// surface scales the rest: a full 600 ppi page would be tens of megabytes of PostScript.
constexpr double kMaxPictureResolution = 300.0;
}  // namespace

wxImage KV_TopDownImage(const KV_Image<KV_RGB8>& picture)
{
    const int rows = picture.Rows(), cols = picture.Cols();
    if (rows <= 0 || cols <= 0)
        return wxImage();
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

KV_ViewPrintout::KV_ViewPrintout(KV_VerovuriRezaroView* view, const wxString& title)
    : wxPrintout(title), mpkView(view)
{
}

bool KV_ViewPrintout::OnPrintPage(int page)
{
    if (page != 1 || GetDC() == nullptr || mpkView == nullptr)
        return false;
    mpkView->OnDrawPrint(*this, mpkView->Services().PageSetupData());
    return true;
}

void KV_ViewPrintout::GetPageInfo(int* minPage, int* maxPage, int* pageFrom, int* pageTo)
{
    *minPage = *maxPage = *pageFrom = *pageTo = 1;
}

void KV_VerovuriRezaroView::OnDrawPrint(wxPrintout& printout, const wxPageSetupDialogData& setup)
{
    wxBusyCursor wait;
    wxDC& dc = *printout.GetDC();
    // The printable area, the page inside its margins, in printer pixels: with the printout
    // mapped one logical unit to one printer pixel, whatever the target (a printer, or the
    // preview's screen-sized bitmap).
    printout.MapScreenSizeToDevice();
    const wxRect area = printout.GetLogicalPageMarginsRect(setup);
    int ppiX = 0, ppiY = 0;
    printout.GetPPIPrinter(&ppiX, &ppiY);
    const wxSize client = DrawingSize();
    KV_PrintFit fit;
    if (!mbCreated ||
        !KV_FitWindowToPage(client.x, client.y, area.width, area.height, ppiX, ppiY, fit))
    {
        // A minimised window has no shape to print.
        ShowMessage(kMsgPrint);
        return;
    }
    mkLastPrintFit = fit;

    // The picture gets as many pixels as the target shows of the printed picture (the
    // preview's bitmap holds far fewer than the printer's page), at most
    // kMaxPictureResolution per inch: the target's own scaling covers the rest.
    int targetWidth = 0, targetHeight = 0, pageWidth = 0, pageHeight = 0;
    dc.GetSize(&targetWidth, &targetHeight);
    printout.GetPageSizePixels(&pageWidth, &pageHeight);
    double density = pageWidth > 0 ? static_cast<double>(targetWidth) / pageWidth : 1.0;
    if (density <= 0.0 || density > 1.0)
        density = 1.0;
    const double targetPPI = ppiX * density;
    if (targetPPI > kMaxPictureResolution)
        density *= kMaxPictureResolution / targetPPI;
    const int width = std::max(1, static_cast<int>(fit.mnPrintedWidth * density + 0.5));
    const int height = std::max(1, static_cast<int>(fit.mnPrintedHeight * density + 0.5));
    wxImage picture = DrawOffScreen(fit.mnMemoryWidth, fit.mnMemoryHeight);
    if (!picture.IsOk())
    {
        ShowMessage(kMsgPrint);
        return;
    }
    // High-quality filtering to the printed size, then the printout's own mapping puts the
    // picture at the printable area's top-left corner, filling its width or its height as
    // the fit does.
    picture.Rescale(width, height, wxIMAGE_QUALITY_HIGH);
    printout.FitThisSizeToPageMargins(wxSize(width, height), setup);
    dc.DrawBitmap(wxBitmap(picture), 0, 0, false);
}

wxImage KV_VerovuriRezaroView::DrawOffScreen(int width, int height)
{
    wxImage picture;
    try
    {
        if (mkRenderer.BeginMemoryContext(width, height, &mkDC, 0) == 0)
        {
            mkRenderer.Render();
            picture = KV_TopDownImage(mkRenderer.MemoryImage());
        }
        mkRenderer.EndMemoryContext();
    }
    catch (const KV_Exception&)
    {
        // The memory context a failed drawing left open is ended; a failure of that is
        // ignored, the first one is what the caller reports.
        try
        {
            if (mkRenderer.IsRenderingToMemory())
                mkRenderer.EndMemoryContext();
        }
        catch (const KV_Exception&)
        {
        }
        return wxImage();
    }
    return picture;
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
    wxPrintDialogData& data = mkServices.PrintDialogData();
    data.SetMinPage(1);
    data.SetMaxPage(1);
    data.SetFromPage(1);
    data.SetToPage(1);
    wxPrinter printer(&data);
    KV_ViewPrintout printout(this, mpkDocument ? mpkDocument->GetTitle() : wxString());
    if (printer.Print(mkServices.MainWindow(), &printout, true))
        data = printer.GetPrintDialogData();
}

void KV_VerovuriRezaroView::OnFilePrintDirect(wxCommandEvent&)
{
    // Without a dialog the desktop's print system waits for a printer that may not exist;
    // the generic PostScript printer writes the page to a file at once.
    const wxPrintData& settings = mkServices.PrintDialogData().GetPrintData();
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
    if (printer.Print(mkServices.MainWindow(), &printout, false))
        mkServices.MainWindow()->SetStatusText(
            wxString::Format("Printed to %s", data.GetFilename()), 0);
}

void KV_VerovuriRezaroView::OnFilePrintPreview(wxCommandEvent&)
{
    const wxString title = mpkDocument ? mpkDocument->GetTitle() : wxString();
    wxPrintDialogData data(mkServices.PrintDialogData());
    wxPrintPreview* preview = new wxPrintPreview(new KV_ViewPrintout(this, title),
                                                 new KV_ViewPrintout(this, title), &data);
    if (!preview->IsOk())
    {
        delete preview;
        ShowMessage(kMsgPrint);
        return;
    }
    wxPreviewFrame* frame = new wxPreviewFrame(preview, mkServices.MainWindow(), "Print Preview",
                                               wxDefaultPosition, wxSize(700, 800));
    frame->Initialize();
    frame->Show();
}
