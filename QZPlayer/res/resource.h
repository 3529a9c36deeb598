// Resource ids of the player. Other programs and saved files do not see them,
// but the numbers are kept stable so that resources stay where they were.
#pragma once

#define IDR_MAINFRAME 128
// The Flash shell movie (type "SWF")
#define IDR_SHELL_MOVIE 144

// Control bar strips
#define IDB_PLAY 136
#define IDB_MUTE 137
#define IDB_FULL 138
#define IDB_STOP 139
#define IDB_CHANGE 159
// Playlist row images
#define IDB_PROGLIST 151
// Splitter collapse button
#define IDB_SPLITTER 152
// Caption buttons
#define IDB_CAPTION_MINIMIZE 154
#define IDB_CAPTION_CLOSE 155
#define IDB_CAPTION_TOPMOST 156
#define IDB_CAPTION_MAXIMIZE 157
#define IDB_CAPTION_MENU 158

// Open URL dialog
#define IDD_OPENURL 137
#define IDC_BROWSE 1016
#define IDC_URL_COMBO 1017

// Strings
#define IDS_TIP_PLAY 101
#define IDS_TIP_STOP 102
#define IDS_TIP_MUTE 103
#define IDS_SOCKETS_INIT_FAILED 104
#define IDS_TIP_FULLSCREEN 105
#define IDS_TIP_CLOSE 106
#define IDS_TIP_MINIMIZE 107
#define IDS_TIP_TOPMOST 108
#define IDS_TIP_MENU 109
#define IDS_OLE_INIT_FAILED 110
#define IDS_TIP_MAXIMIZE 111
#define IDS_TIP_RESTORE 112
#define IDS_TIP_COLLAPSE_LIST 113
#define IDS_TIP_EXPAND_LIST 114
#define IDS_TIP_NOT_TOPMOST 115
#define IDS_TIP_CHANGE 116
