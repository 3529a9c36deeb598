// Diagnostic lines of the updater: formatted failure reports with their source
// module and line, sent to the debugger output (OutputDebugStringW) only.
#pragma once

#include <windows.h>

// One line, at most 1024 UTF-16 units including the module prefix.
void LogLine(const char* module, int line, const wchar_t* text);

// printf-style; pass wide strings with %ls.
void LogFormat(const char* module, int line, const wchar_t* fmt, ...);

#define UPDATE_LOG(...) LogFormat(__FILE__, __LINE__, __VA_ARGS__)

// Tests observe the lines through this; null stops observing.
using LogObserver = void (*)(const wchar_t* line);
void SetLogObserver(LogObserver observer);
