#include "Log.h"

#include <atomic>
#include <cstdarg>
#include <cstring>
#include <cwchar>

namespace {

const size_t kMaxLine = 1024;
std::atomic<LogObserver> g_observer{nullptr};

const char* BaseName(const char* path)
{
    const char* base = path;
    for (const char* p = path; *p; ++p)
        if (*p == '/' || *p == '\\')
            base = p + 1;
    return base;
}

} // namespace

void SetLogObserver(LogObserver observer)
{
    g_observer = observer;
}

void LogLine(const char* module, int line, const wchar_t* text)
{
    wchar_t out[kMaxLine];
    int n = std::swprintf(out, kMaxLine, L"%hs(%d): ", BaseName(module), line);
    if (n < 0)
        n = 0;
    size_t used = static_cast<size_t>(n);
    // Cut at the limit, keeping room for the terminator.
    for (const wchar_t* p = text; *p && used < kMaxLine - 1; ++p)
        out[used++] = *p;
    out[used] = L'\0';
    ::OutputDebugStringW(out);
    if (LogObserver observer = g_observer.load())
        observer(out);
}

void LogFormat(const char* module, int line, const wchar_t* fmt, ...)
{
    wchar_t text[kMaxLine] = {};
    va_list ap;
    va_start(ap, fmt);
    int n = std::vswprintf(text, kMaxLine, fmt, ap);
    va_end(ap);
    // An over-long text fails to format: keep what fits.
    if (n < 0)
        text[kMaxLine - 1] = L'\0';
    LogLine(module, line, text);
}
