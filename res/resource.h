// Resource identifiers, shared by the rc file and the code of both builds.
#pragma once

#define IDI_PARLEX 128

#define IDD_MAINDLG 129
#define IDC_EXPLORER 1001

#define IDR_TRAYMENU 203
#define ID_TRAY_SHOW 32777
#define ID_TRAY_EXIT 32778

#define IDD_SCREENDLG 205
#define IDC_BTN_ARROW 1004
#define IDC_BTN_ELLIPSE 1005
#define IDC_BTN_RECTANGLE 1006
#define IDC_BTN_TEXT 1007
#define IDC_BTN_PEN 1008
#define IDC_BTN_MOSAIC 1009
#define IDC_BTN_UNDO 1010
#define IDC_BTN_COPY 1011
#define IDC_BTN_SAVE 1012
#define IDC_BTN_SEND 1013

// Tracker cursors, in the order of the tracker's cursor table.
#define IDC_TRACK_NWSE 207
#define IDC_TRACK_NESW 208
#define IDC_TRACK_NS 209
#define IDC_TRACK_WE 210
#define IDC_TRACK_MOVE 211
#define IDC_TRACK_MOVEDRAG 212

// Window class of our ActiveX control host; dialog templates name it for
// controls whose window text is the control's class id.
#define PARLEX_AXHOST_CLASS "ParlexAxHost"
