#pragma once
// Command numbers, resource numbers and fixed texts of the application shell. The command
// numbers are the program's public identifiers. The toolkit takes identifiers below 0x8000
// only, so menus, toolbar buttons and events carry KV_MenuId(command number) instead.

// Menu, toolbar and document template.
constexpr int IDR_MAINFRAME = 128;
// Splash bitmap.
constexpr int IDB_SPLASH = 131;
// Cursors of the 3D view: right button (translate), both buttons (zoom), left (rotate).
constexpr int IDC_TRANSLATE = 132;
constexpr int IDC_ZOOM = 134;
constexpr int IDC_ROTATE = 136;
// About box.
constexpr int IDD_ABOUTBOX = 100;

// Edit menu.
constexpr int ID_EDIT_RESET_POSITION = 32771;
constexpr int ID_EDIT_SMOOTH_SHADING = 32772;
constexpr int ID_EDIT_TOGGLE_TEXTURE = 32776;
constexpr int ID_EDIT_BACKGROUND_COLOUR = 32777;
constexpr int ID_EDIT_SURFACE_COLOUR = 32778;
constexpr int ID_EDIT_WIREFRAME_DISPLAY = 32782;
constexpr int ID_EDIT_ROTATE = 32789;

// File menu.
constexpr int ID_FILE_EXPORT = 32787;
// Save As: the surface in another program's format (glTF, OBJ, PLY, STL) or as .osf.
constexpr int ID_FILE_SAVE_AS_FORMAT = 33040;
constexpr int ID_FILE_OPEN = 57601;
constexpr int ID_FILE_CLOSE = 57602;
constexpr int ID_FILE_PRINT_SETUP = 57606;
constexpr int ID_FILE_PRINT = 57607;
constexpr int ID_FILE_PRINT_DIRECT = 57608;
constexpr int ID_FILE_PRINT_PREVIEW = 57609;
constexpr int ID_FILE_MRU_FILE1 = 57616;
constexpr int ID_APP_ABOUT = 57664;
constexpr int ID_APP_EXIT = 57665;

// Commands beyond the original menus, numbered apart from the ones above (and from the
// toolkit's own identifiers once mapped by KV_MenuId).
constexpr int ID_VIEW_PROPERTIES = 33101;
constexpr int ID_VIEW_SHOW_HOLES = 33102;
constexpr int ID_VIEW_FRONT = 33103;
constexpr int ID_VIEW_BACK = 33104;
constexpr int ID_VIEW_LEFT = 33105;
constexpr int ID_VIEW_RIGHT = 33106;
constexpr int ID_VIEW_TOP = 33107;
constexpr int ID_VIEW_BOTTOM = 33108;
constexpr int ID_VIEW_FIT = 33109;
constexpr int ID_FILE_SAVE_IMAGE = 33110;
constexpr int ID_EDIT_COPY_VIEW = 33111;
constexpr int ID_LOAD_CANCEL = 33112;
// Measuring: Measure mode (clicks pick points and distances), the polygon selection and its
// file, and the orthographic projection.
constexpr int ID_VIEW_MEASURE = 33113;
constexpr int ID_EDIT_SELECT_ALL = 33114;
constexpr int ID_EDIT_INVERT_SELECTION = 33115;
constexpr int ID_EDIT_CLEAR_SELECTION = 33116;
constexpr int ID_FILE_SAVE_SELECTION = 33117;
constexpr int ID_VIEW_ORTHOGRAPHIC = 33118;

// The toolkit identifier of a command number and back. Command numbers from 0x8000 to
// 0xFFFF map onto 0 to 0x7FFF; none of them meets the toolkit's own identifiers
// (5000 to 5999).
constexpr int KV_MenuId(int command)
{
    return command & 0x7FFF;
}
constexpr int KV_CommandNumber(int menuId)
{
    return menuId | 0x8000;
}

// The recent-file list holds this many paths.
constexpr int KV_RECENT_FILE_COUNT = 4;

// Application title (string 57344) and the key the settings are kept under.
#define KV_APP_TITLE "Orvane Image View"

// Document template, string 128: window title, document name, new-file type name, filter
// name, filter extension, file type identifier, file type name.
#define KV_DOC_TEMPLATE                                    \
    "Orvane Image View\n\nosf File\nOrvane Surface Files " \
    "(*.osf)\n.osf\nOrvaneSurface.Document\nOrvane Surface Document"

// Idle text of the status bar.
#define KV_IDLE_PROMPT "Ready"

// The status-line prompt and, after a newline, the tooltip of a command; null for a
// command without one.
const char* KV_CommandPrompt(int commandId);
