#include "StageTimes.h"

#include "Handles.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace stagetimes {
namespace {

const char* const kStageNames[kStageCount] = {
    "settings-read", "settings-split", "list-keys", "list-rows",  "list-count", "list-pane",
    "frame-show",    "save-entries",   "save-commit", "save-read", "save-flush", "save-write", "free-rows"};
const char* const kMomentNames[kMomentCount] = {"init-begins", "frame-shown", "quit-begins", "quit-saved"};

long long g_stage[kStageCount];
long long g_moment[kMomentCount];

long long Ticks()
{
    LARGE_INTEGER t;
    ::QueryPerformanceCounter(&t);
    return t.QuadPart;
}

// The file's name; empty when the times are not wanted. Read once: the
// environment is the process's own memory, no request to anyone.
const std::wstring& Target()
{
    static const std::wstring target = [] {
        wchar_t path[MAX_PATH] = {};
        const DWORD n = ::GetEnvironmentVariableW(L"QZ_STAGE_TIMES", path, MAX_PATH);
        return std::wstring(n > 0 && n < MAX_PATH ? path : L"");
    }();
    return target;
}

} // namespace

bool Enabled()
{
    static const bool enabled = !Target().empty();
    return enabled;
}

void Mark(Moment m)
{
    if (Enabled())
        g_moment[m] = Ticks();
}

Scope::Scope(Stage s) : m_stage(s), m_start(Enabled() ? Ticks() : 0) {}

void Scope::End()
{
    if (m_start)
        g_stage[m_stage] += Ticks() - m_start;
    m_start = 0;
}

void Write()
{
    if (!Enabled())
        return;
    LARGE_INTEGER freq;
    ::QueryPerformanceFrequency(&freq);
    const double ms = 1e3 / static_cast<double>(freq.QuadPart);
    std::string text;
    char line[96];
    for (int i = 0; i < kStageCount; ++i) {
        std::snprintf(line, sizeof line, "%s %.3f\r\n", kStageNames[i], static_cast<double>(g_stage[i]) * ms);
        text += line;
    }
    // Moments in milliseconds of the shared clock; 0 for one never reached.
    for (int i = 0; i < kMomentCount; ++i) {
        std::snprintf(line, sizeof line, "%s %.3f\r\n", kMomentNames[i], static_cast<double>(g_moment[i]) * ms);
        text += line;
    }
    CFileHandle file(::CreateFileW(Target().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                   nullptr));
    DWORD written = 0;
    if (file)
        ::WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

} // namespace stagetimes
