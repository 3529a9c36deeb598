// Manifest file names ("/folder/file.ext") turn into local paths. Only names
// that are plain relative paths may: nothing a manifest lists may reach
// outside the folder it is installed into.
#pragma once

#include <string>

// The name alone: begins with "/", "/"-separated segments that are neither
// empty, "." nor ".."; no backslash, colon, control character or other
// character invalid in Windows file names; no segment ending in a dot or a
// space; no device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9, with or without
// an extension); the first segment not "$Temp$" (the staging folder's
// name), in any letter case.
// Nor "/update.sig" or "/update.keys", the record and key chain a keyed
// updater keeps at the program folder's root, in any letter case.
bool IsSafeFileName(const std::wstring& name);

// The name, and its path below folder stays inside folder and fits a path
// buffer of MAX_PATH units.
bool IsSafeFileName(const std::wstring& name, const std::wstring& folder);

// folder followed by name with every "/" turned into "\".
std::wstring LocalPathOf(const std::wstring& folder, const std::wstring& name);
