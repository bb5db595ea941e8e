#pragma once
// Resource and command ids of the program (shared by the resource script and the code).

#define IDS_NOTICE 4
#define IDS_TITLE 5
#define IDR_MAINMENU 106
#define IDD_SELECT_PORT 116
#define IDD_CONFIRM 119
#define IDC_PORT_LIST 1031
#define IDC_EMERGENCY 1033
#define IDC_CONFIRM_TEXT 1034
#define IDB_BANNER 40004

#define IDM_EXIT 8
#define IDM_OPEN 40004
#define IDM_ABOUT 40005
