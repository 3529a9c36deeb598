// The updater's command line, its settings files and the presence test of
// the client's named mutexes.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// Decimal text to 32 bits like the C library's wide string-to-long conversion
// (white space, optional sign, digits up to the first non-digit, 0 when there
// are none), wrapping modulo 2^32 instead of saturating.
uint32_t ParseWrappingDecimal(const wchar_t* text);

// The installed version: "%d.%d.%d.%d" of the four bytes, highest first.
std::wstring VersionString(uint32_t version);
// Back from that text to the 32 bits; 0 for anything else.
uint32_t VersionNumber(const std::wstring& text);

struct UpdateCommandLine {
    int visible = 1;
    std::wstring builderId;
    HWND notifyWindow = nullptr;   // a 32-bit value from the caller
    UINT notifyMessage = 0;
};

// "hide", "builderid=", "hwnd=", "message=", looked for independently in the
// lower-cased text; values end at the next space.
UpdateCommandLine ParseUpdateCommandLine(const wchar_t* commandLine);

// The host name the updater falls back to when no settings file names one.
extern const wchar_t kDefaultServer[];

struct UpdateSettings {
    std::wstring server;          // at most 19 characters
    std::wstring clientProgram;   // "AppName"
    std::wstring version;         // "%d.%d.%d.%d"
    std::wstring settingsFile;    // the file AppName and Version came from
};

// Reads "Update.ini", falling back to "Server.ini" (and the built-in server)
// when Update.ini names no server.
UpdateSettings ReadUpdateSettings(const std::wstring& programFolder);

// Writes BuilderID to Update.ini, clearing the file's read-only attribute first.
void WriteBuilderId(const std::wstring& programFolder, const std::wstring& builderId);

enum class MutexPresence { Present, Absent, Unknown };

// Opens and at once closes the named mutex: present when it opens or access
// is denied, absent when no object has the name, unknown otherwise.
MutexPresence TestMutexPresence(const wchar_t* name);

// The percentage of a transfer, without overflow for any 32-bit counts.
int TransferPercent(DWORD expected, DWORD done);
