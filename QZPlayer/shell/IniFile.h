// The player's settings file, "Config\QZPlayer.ini" in the program folder:
// one key at a time, or a whole section in one rewrite of the file.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct IniEntry {
    std::wstring key;
    std::wstring value;
};

class CIniFile {
public:
    // Values longer than this are cut, as the key reader's buffer holds 1024 units.
    enum { kMaxValue = 1023 };

    static std::wstring GetPath();

    // TRUE with the value when the key holds text; an empty value counts as absent.
    static BOOL GetString(LPCWSTR section, LPCWSTR key, std::wstring& value);
    // A null value deletes the key.
    static BOOL WriteString(LPCWSTR section, LPCWSTR key, LPCWSTR value);

    // Every key of the section in file order, each value as GetString would
    // read it (surrounding quotes removed, cut to kMaxValue). FALSE when the
    // section is missing or empty.
    static BOOL GetSection(LPCWSTR section, std::vector<IniEntry>& entries);
    // Replaces all keys of the section with these: one file rewrite, where
    // writing key by key costs one rewrite per key.
    static BOOL WriteSection(LPCWSTR section, const std::vector<IniEntry>& entries);

private:
    // A settings file that does not exist yet would be created in the ANSI
    // code page, which loses Chinese text; an empty UTF-16 file with a
    // byte-order mark makes the profile functions keep Unicode. The folder is
    // never created.
    static void CreateUnicodeFile(const std::wstring& path);
};
