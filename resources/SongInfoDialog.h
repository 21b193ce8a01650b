/* The "Song info" dialog template (IDD_SONGINFO): the one description of its
 * controls, read both by the resource script (in_vantrel.rc, through the resource
 * compiler's C preprocessor) and by the plug-in, which hands it to the POSIX dialog
 * stand-in off Windows (plugin/InfoBox.cpp).
 * Only preprocessor definitions may stand here: the resource compiler reads it too. */
#ifndef VANTREL_RESOURCES_SONGINFODIALOG_H
#define VANTREL_RESOURCES_SONGINFODIALOG_H

#define IDD_SONGINFO 1016

#define IDC_SONGINFO_LOCATION 1014
#define IDC_SONGINFO_AUTHOR 1015
#define IDC_SONGINFO_TITLE 1016
#define IDC_SONGINFO_GENRE 1018
#define IDC_SONGINFO_PUBLISHER 1019
#define IDC_SONGINFO_COPYRIGHT 1020
#define IDC_SONGINFO_SIZE 1021

/* Window and control styles, by their system values (already defined when the
 * system headers were included). */
#ifndef WS_POPUP
#define WS_POPUP 0x80000000L
#define WS_CHILD 0x40000000L
#define WS_VISIBLE 0x10000000L
#define WS_CAPTION 0x00C00000L
#define WS_BORDER 0x00800000L
#define WS_VSCROLL 0x00200000L
#define WS_SYSMENU 0x00080000L
#define WS_GROUP 0x00020000L
#define WS_TABSTOP 0x00010000L
#define WS_EX_TOOLWINDOW 0x00000080L
#define DS_SETFONT 0x40L
#define DS_MODALFRAME 0x80L
#define BS_DEFPUSHBUTTON 0x00000001L
#define ES_RIGHT 0x0002L
#define ES_MULTILINE 0x0004L
#define ES_AUTOVSCROLL 0x0040L
#define ES_AUTOHSCROLL 0x0080L
#define ES_READONLY 0x0800L
#define ES_WANTRETURN 0x1000L
#endif

#define SONGINFO_DIALOG_STYLE (DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU)
#define SONGINFO_DIALOG_EXSTYLE WS_EX_TOOLWINDOW
#define SONGINFO_DIALOG_X 0
#define SONGINFO_DIALOG_Y 0
#define SONGINFO_DIALOG_WIDTH 220
#define SONGINFO_DIALOG_HEIGHT 142
#define SONGINFO_DIALOG_CAPTION "Song info"
#define SONGINFO_DIALOG_FONT_NAME "MS Sans Serif"
#define SONGINFO_DIALOG_FONT_SIZE 8

#define SONGINFO_EDIT_STYLE (WS_BORDER | WS_TABSTOP | ES_READONLY | ES_AUTOHSCROLL)

/* The controls in template order:
 * X(class, id, text, x, y, width, height, styles besides child and visible) */
#define SONGINFO_DIALOG_CONTROLS(X) \
    X("Button", 1, "OK", 163, 121, 50, 14, WS_TABSTOP | BS_DEFPUSHBUTTON) \
    X("Static", -1, "Location:", 11, 8, 30, 8, WS_GROUP) \
    X("Static", -1, "Author:", 11, 25, 24, 8, WS_GROUP) \
    X("Static", -1, "Title:", 11, 41, 16, 8, WS_GROUP) \
    X("Static", -1, "Genre:", 11, 57, 22, 8, WS_GROUP) \
    X("Static", -1, "Publisher:", 11, 72, 32, 8, WS_GROUP) \
    X("Static", -1, "Copyright notice:", 11, 87, 54, 8, WS_GROUP) \
    X("Static", -1, "Size:", 11, 127, 16, 8, WS_GROUP) \
    X("Edit", IDC_SONGINFO_LOCATION, "", 49, 7, 164, 14, SONGINFO_EDIT_STYLE) \
    X("Edit", IDC_SONGINFO_AUTHOR, "", 49, 23, 164, 14, SONGINFO_EDIT_STYLE) \
    X("Edit", IDC_SONGINFO_TITLE, "", 49, 39, 163, 14, SONGINFO_EDIT_STYLE) \
    X("Edit", IDC_SONGINFO_GENRE, "", 49, 55, 164, 14, SONGINFO_EDIT_STYLE) \
    X("Edit", IDC_SONGINFO_PUBLISHER, "", 49, 71, 164, 14, SONGINFO_EDIT_STYLE) \
    X("Edit", IDC_SONGINFO_COPYRIGHT, "", 69, 87, 144, 32, \
      WS_BORDER | WS_VSCROLL | WS_TABSTOP | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY | ES_WANTRETURN) \
    X("Edit", IDC_SONGINFO_SIZE, "", 31, 121, 53, 14, \
      WS_BORDER | WS_TABSTOP | ES_RIGHT | ES_READONLY | ES_AUTOHSCROLL) \
    X("Static", -1, "Bytes", 87, 127, 18, 8, WS_GROUP)

#endif
