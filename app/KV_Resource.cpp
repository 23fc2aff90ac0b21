#include "app/KV_Resource.h"

namespace
{
struct CommandPrompt
{
    int id;
    const char* prompt;
};

const CommandPrompt kPrompts[] = {
    {ID_EDIT_RESET_POSITION, "Reset viewing position\nReset View"},
    {ID_EDIT_SMOOTH_SHADING, "View the surface in smooth mode\nSmooth"},
    {ID_EDIT_TOGGLE_TEXTURE, "Toggle display of surface texture\nToggle Texture"},
    {ID_EDIT_BACKGROUND_COLOUR, "Edit background color\nBackground color"},
    {ID_EDIT_SURFACE_COLOUR, "Edit surface color\nSurface color"},
    {ID_EDIT_WIREFRAME_DISPLAY, "View the surface in wireframe mode\nWireframe"},
    {ID_FILE_EXPORT, "Export 3D surface as VRML\nExport VRML"},
    {ID_FILE_SAVE_AS_FORMAT, "Save the 3D surface as glTF, OBJ, PLY, STL or surface file\nSave As"},
    {ID_EDIT_ROTATE,
     "Continuously rotate the surface until mouse button pressed in 3D view\nRotate"},
    {ID_FILE_OPEN, "Open a 3D surface file\nOpen"},
    {ID_FILE_CLOSE, "Close the 3D surface file\nClose"},
    {ID_FILE_PRINT_SETUP, "Change the printer and printing options\nPrint Setup"},
    {ID_FILE_PRINT, "Print the contents of the main window\nPrint"},
    {ID_FILE_PRINT_PREVIEW, "Display full pages\nPrint Preview"},
    {ID_APP_ABOUT, "Display program information, version number and copyright\nAbout"},
    {ID_APP_EXIT, "Quit the application\nExit"},
    {ID_VIEW_PROPERTIES,
     "Show the counts, extents, holes and consistency of the surface\nSurface Properties"},
    {ID_VIEW_SHOW_HOLES, "Outline every boundary loop of the surface\nShow Holes"},
    {ID_VIEW_FRONT, "Look at the surface from the front\nFront"},
    {ID_VIEW_BACK, "Look at the surface from the back\nBack"},
    {ID_VIEW_LEFT, "Look at the surface from the left\nLeft"},
    {ID_VIEW_RIGHT, "Look at the surface from the right\nRight"},
    {ID_VIEW_TOP, "Look at the surface from the top\nTop"},
    {ID_VIEW_BOTTOM, "Look at the surface from the bottom\nBottom"},
    {ID_VIEW_FIT, "Frame the whole surface\nFit"},
    {ID_FILE_SAVE_IMAGE, "Save the view as a PNG or JPEG picture\nSave Image"},
    {ID_EDIT_COPY_VIEW, "Copy the view to the clipboard as a picture\nCopy View"},
    {ID_LOAD_CANCEL, "Stop loading the surface file\nCancel"},
    {ID_VIEW_MEASURE,
     "Click the surface to show a point; a second click measures the distance (Esc clears); "
     "Shift+drag selects polygons, Ctrl+Shift+drag deselects"
     "\nMeasure"},
    {ID_VIEW_ORTHOGRAPHIC,
     "Draw the surface in parallel projection, without perspective\nOrthographic"},
    {ID_EDIT_SELECT_ALL, "Select every polygon of the surface\nSelect All"},
    {ID_EDIT_INVERT_SELECTION,
     "Select the polygons not selected and deselect the others\nInvert Selection"},
    {ID_EDIT_CLEAR_SELECTION, "Deselect every polygon\nClear Selection"},
    {ID_FILE_SAVE_SELECTION,
     "Save only the selected polygons as glTF, OBJ, PLY, STL or surface file\nSave Selection As"},
};
}  // namespace

const char* KV_CommandPrompt(int commandId)
{
    for (const CommandPrompt& entry : kPrompts)
        if (entry.id == commandId)
            return entry.prompt;
    return nullptr;
}
