// The reports between the update run and its worker thread (carried as
// WorkerReport copies, see WorkerReports.h), their codes and what the user
// is told.
#pragma once

#include <windows.h>

// Engine callback (on the worker) -> run: code the expected size, value the bytes so far.
const UINT WM_DOWNLOAD_PROGRESS = WM_USER + 100;
// Worker -> run: code 1 started, 0 done, -1 failed, -2 refused as not
// genuine (keyed runs), -4 the install did not begin because an installed
// file is in use, -6 because a file cannot be placed at all (a link or a
// plain file where a folder is needed), -7 because the disk refused a write
// (nothing changed in each case); text the file name (1, -1, -2; the full
// path for -4, -6, -7), value the number of files handled (0).
const UINT WM_FILE_STATUS = WM_USER + 101;
// Worker -> run: code 1 started, 0 done, -1 failed, -2 refused as not
// genuine (keyed runs), -3 the staging folder could not be emptied, -5 the
// journal of an interrupted install names something that is not this
// installation's (nothing undone, the journal kept); value the file count
// when done.
const UINT WM_VERSION_STATUS = WM_USER + 102;
// -> run: code 1 started, 0 done, other failed; value 1 HTTP, else FTP. No
// sender today; a transport that connects as its own step would report it.
const UINT WM_CONNECT_STATUS = WM_USER + 104;
// Run -> worker, thread message: perform one step.
const UINT WM_UPDATE_STEP = WM_USER + 105;
// -> the run's view: reports are waiting (CUpdateRun::DeliverReports).
const UINT WM_WORKER_REPORTS = WM_USER + 106;

// The status code of a refusal, and what the user is told: a release that
// fails the publisher's checks is no network trouble, and trying again later
// will not make it genuine.
const int kRefused = -2;
const wchar_t kRefusedText[] = L"更新包未通过验证，不是官方发布的正版，已拒绝更新！";
const int kStagingBlocked = -3;
const wchar_t kStagingBlockedText[] = L"临时文件夹被其他程序占用，无法更新！";
const int kInUse = -4;
const wchar_t kInUseFormat[] = L"文件：'%ls' 正在被其他程序使用，无法更新！";
const int kJournalRefused = -5;
const wchar_t kJournalRefusedText[] = L"上次中断的更新留下的记录（Temp\\update.journal）不属于本程序，无法更新！";
const int kUnplaceable = -6;
const wchar_t kUnplaceableFormat[] = L"文件：'%ls' 所在位置是链接或文件，无法放置，无法更新！";
const int kWriteFailed = -7;
const wchar_t kWriteFailedFormat[] = L"文件：'%ls' 无法写入磁盘，无法更新！";
// What a visible run says when it waits for another run on the installation,
// when it gives up waiting, when Cancel came after the files were replaced,
// and when the program folder leaves no room for the staging folder.
const wchar_t kWaitingText[] = L"另一个更新程序正在更新，请稍候...";
const wchar_t kGaveUpWaitingText[] = L"另一个更新程序一直在更新，本次更新已退出。";
const wchar_t kAppliedText[] = L"更新已完成，文件已全部更新！";
const wchar_t kFolderTooLongText[] = L"程序所在文件夹的路径太长，无法更新！";
