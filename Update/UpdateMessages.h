// Messages between the update dialog and its worker thread.
#pragma once

#include <windows.h>

// Engine callback (on the worker) -> dialog: wParam expected size, lParam bytes so far.
const UINT WM_DOWNLOAD_PROGRESS = WM_USER + 100;
// Worker -> dialog: wParam 1 started, 0 done, -1 failed, -2 refused as not
// genuine (keyed runs); lParam the file name (1, -1, -2) or the number of
// files handled (0).
const UINT WM_FILE_STATUS = WM_USER + 101;
// Worker -> dialog: wParam 1 started, 0 done, -1 failed, -2 refused as not
// genuine (keyed runs); lParam the file count when done.
const UINT WM_VERSION_STATUS = WM_USER + 102;
// -> dialog: wParam 1 started, 0 done, other failed; lParam 1 HTTP, else FTP.
const UINT WM_CONNECT_STATUS = WM_USER + 104;
// Dialog -> worker, thread message: perform one step.
const UINT WM_UPDATE_STEP = WM_USER + 105;

// The status code of a refusal, and what the user is told: a release that
// fails the publisher's checks is no network trouble, and trying again later
// will not make it genuine.
const int kRefused = -2;
const wchar_t kRefusedText[] = L"更新包未通过验证，不是官方发布的正版，已拒绝更新！";
