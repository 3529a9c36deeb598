#include "MediaClock.h"

#include <cwchar>

namespace sim {
namespace {

// The decimal number that ends just before end, and where it starts; -1
// when there is none.
long NumberBefore(const std::wstring& upper, size_t end, size_t* start)
{
    size_t b = end;
    while (b > 0 && iswdigit(upper[b - 1]))
        --b;
    *start = b;
    return b < end ? _wtol(upper.substr(b, end - b).c_str()) : -1;
}

} // namespace

MediaInfo Describe(const std::wstring& source)
{
    MediaInfo info;
    std::wstring name = source;
    const size_t query = name.find(L'?');
    if (query != std::wstring::npos)
        name.resize(query);
    const size_t slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos)
        name = name.substr(slash + 1);
    info.name = name;
    const std::wstring upper = Upper(name);
    const size_t dot = upper.rfind(L'.');
    info.extension = dot == std::wstring::npos ? L"" : upper.substr(dot);
    size_t start = 0;
    if (dot != std::wstring::npos && dot > 1 && upper[dot - 1] == L'S') {
        const long n = NumberBefore(upper, dot - 1, &start);
        if (n >= 0 && start > 0 && upper[start - 1] == L'-')
            info.length = n;
    }
    const size_t buffer = upper.find(L"-BUFFER");
    if (buffer != std::wstring::npos) {
        const size_t s = upper.find(L'S', buffer + 7);
        if (s != std::wstring::npos) {
            const long n = NumberBefore(upper, s, &start);
            if (n > 0 && start == buffer + 7)
                info.buffering = n;
        }
    }
    info.missing = Upper(source).find(L"MISSING") != std::wstring::npos;
    return info;
}

const wchar_t* StateName(MediaClock::State s)
{
    static const wchar_t* const names[] = {L"idle",   L"opening", L"buffering", L"playing",
                                           L"paused", L"stopped", L"ended",     L"cannot be opened"};
    return names[s];
}

} // namespace sim
