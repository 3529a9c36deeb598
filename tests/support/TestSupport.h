// Helpers for tests that run under Wine: bounded message pumping and screenshots.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace testsupport {

// Processes this thread's messages the way the framework's loops do (through
// PreTranslateMessage) until cond() holds or timeoutMs have passed.
// Returns whether cond() held.
bool PumpUntil(const std::function<bool()>& cond, DWORD timeoutMs = 5000);

// Processes the messages that are already waiting (and those they cause).
void PumpPending();

// Saves the virtual display as <screenshot folder>\<name>.png. The folder comes
// from QZ_SCREENSHOT_DIR (set by the harness); without it nothing is saved.
// Returns the Windows path written, or an empty string.
std::wstring SaveScreenshot(const std::wstring& name);

// Writes a 32-bit bitmap as a PNG file; true on success.
bool SavePng(HBITMAP bitmap, const std::wstring& path);

} // namespace testsupport
