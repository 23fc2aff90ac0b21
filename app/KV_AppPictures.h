#pragma once
// The shell's pictures: toolbar images, the view's cursors, the splash bitmap and the
// application icon, looked up by resource number. All of them are the program's own: the
// small ones are XPM drawings in app/resources/, the splash picture is drawn here.

#include <wx/bitmap.h>
#include <wx/bmpbndl.h>
#include <wx/cursor.h>
#include <wx/icon.h>

// The splash bitmap (IDB_SPLASH), drawn for a screen of the given scale factor (2 for
// GDK_SCALE=2: twice the pixels, scale factor 2, same logical size). Any other number gives
// an invalid bitmap.
wxBitmap KV_LoadBitmap(int resourceId, double scale = 1.0);

// The 16 x 16 toolbar image of a command; an invalid bitmap for a command without one.
wxBitmap KV_ToolbarBitmap(int commandId);

// The toolbar image at 16 x 16 and, for 2x screens, 32 x 32 with every pixel doubled.
wxBitmapBundle KV_ToolbarBundle(int commandId);

// The view's cursors IDC_TRANSLATE, IDC_ZOOM and IDC_ROTATE, hot spot in the middle. Any
// other number gives the arrow.
wxCursor KV_LoadCursor(int resourceId);

// The application icon (main frame, about box).
wxIcon KV_AppIcon();
