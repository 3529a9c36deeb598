// Simulated player controls: stand-ins for the Flash, Windows Media and Real
// ActiveX controls on machines that have none of them. One in-process server
// (Factory.cpp) serves the three class ids.
//
// A simulated control models what the real control does, derived from the
// real inputs it gets, never from what the player expects. Each file names
// the public sources its behaviour was taken from, in brackets:
// DispatchBase.h [COM], MovieFile.* [SWF], FlashControl.cpp [FLASH-...],
// MediaControl.cpp [WMP-...], RealControl.cpp [REAL-...]; MediaClock.h says
// what a source's name stands for.
//
// QZ_SIM_LOG names a log file (one line per call, appended, shared);
// QZ_SIM_OPENING_MS is how long opening takes (default 300 ms).
//
// This header: what every part shares (the class ids, the module, the live
// object count, the log and small text helpers).
#pragma once

#include <ole2.h>
#include <ocidl.h>
#include <olectl.h>
#include <windows.h>

#include <cstdint>
#include <string>

namespace sim {

extern const CLSID kFlash, kMedia, kReal;

extern HINSTANCE g_module;
extern LONG g_live;  // objects alive (controls and their sub-objects)
extern LONG g_locks; // LockServer count

// How long opening takes (QZ_SIM_OPENING_MS, default 300 ms).
ULONGLONG OpeningMs();
// Milliseconds from then to now, never negative: one clock read per call is
// handed down, so a later read can never lie before an earlier one.
ULONGLONG Since(ULONGLONG now, ULONGLONG then);
std::wstring Upper(std::wstring s);
// One line to the QZ_SIM_LOG file, if it is set.
void Log(const std::wstring& line);
std::wstring Number(double v);
std::wstring Clock(double seconds);
bool StartsWithNoCase(const std::wstring& s, const wchar_t* prefix);

} // namespace sim
