// Resource ids of the player. Other programs and saved files do not see them,
// but the numbers are kept stable so that resources stay where they were.
#pragma once

#define IDR_MAINFRAME 128
// The Flash shell movie (type "SWF"): the build for URLs, the one for files
#define IDR_SHELL_MOVIE 144
#define IDR_LOCAL_SHELL_MOVIE 145

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

// The control bar under the video (its controls in Tab order)
#define IDD_PLAYER_CONTROL 132
#define IDC_BAR_SEEK 1010
#define IDC_BAR_PLAY 1007
#define IDC_BAR_STOP 1008
#define IDC_BAR_STATE 1013
#define IDC_BAR_TIME 1014
#define IDC_BAR_MUTE 1012
#define IDC_BAR_VOLUME 1011
#define IDC_BAR_FULL 1015
#define IDC_BAR_CHANGE 1016 // pressed by the client too (Protocol.h)

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
#define IDS_TIP_NO_PAUSE 117

// Playlist pane and its list view
#define IDD_PLAYLIST 149
#define IDC_PLAYLIST 1019

// Popup menus: 0 the frame's main menu, 1 the playlist's context menu
#define IDR_POPUP_MENU 150
#define IDR_ACCELERATORS 160
#define ID_FILE_OPEN_MEDIA 32772
#define ID_FILE_OPEN_URL 32774
#define ID_VIEW_TOPMOST 32776
#define ID_VIEW_HIDE_LIST 32778
#define ID_PROG_DELETE 32782
#define ID_PROG_ADD 32783
#define ID_PROG_PLAY 32784
#define ID_PROG_REPEAT 32785
#define ID_PROG_RAND 32787
#define ID_PROG_MOVE_UP 32788
#define ID_PROG_MOVE_DOWN 32789
#define ID_PROG_SORT 32791
#ifndef ID_APP_ABOUT
#define ID_APP_ABOUT 0xE140
#define ID_APP_EXIT 0xE141
#endif
