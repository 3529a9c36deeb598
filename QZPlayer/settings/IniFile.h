// The player's settings file, "Config\QZPlayer.ini" in the program folder.
// Sections are read from one read of the file by our own reader, which finds
// what the platform's profile functions find (under Wine they parse the whole
// file again at every read of a file written in the last two seconds); every
// write rewrites the whole file into a temporary one and moves it over the
// old, so that an end at any moment leaves the old file or the new one,
// never a part.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct IniEntry {
    std::wstring key;
    std::wstring value;
};

// A section as one read found it: its lines are views of the file's text,
// which lives as long as this does (a long list is read without a string per
// key).
struct IniSectionText {
    struct Line {
        std::wstring_view key, value;
    };
    std::shared_ptr<const std::wstring> text;
    std::vector<Line> lines;
};

class CIniFile {
public:
    // The longest value the key reader returns whole: the longest line the
    // profile functions write. The section reader returns every value whole.
    enum { kMaxValue = 32767 };

    static std::wstring GetPath();

    // TRUE with the value when the key holds text; an empty value counts as
    // absent. Through the profile functions (quotes dropped as they drop them).
    static BOOL GetString(LPCWSTR section, LPCWSTR key, std::wstring& value);
    // A null value deletes the key.
    static BOOL WriteString(LPCWSTR section, LPCWSTR key, LPCWSTR value);

    // Every key of the section in file order, each value whole and as written
    // (quotes kept: the key reader drops a surrounding pair, which would
    // change a title saved with them), as GetPrivateProfileSectionW answers:
    // the first section of the name, blanks around keys and values dropped,
    // no comment (";") or blank lines. FALSE when the section is missing or empty.
    static BOOL GetSection(LPCWSTR section, std::vector<IniEntry>& entries);
    // The same as views; FALSE when the section is missing or empty.
    static BOOL GetSection(LPCWSTR section, IniSectionText& text);
    // The value of key among a section's entries: the first of equal keys,
    // compared without regard to case, as the key reader finds it. Each profile
    // read costs a parse of the whole file under Wine, so a section read
    // once answers several keys.
    static BOOL Find(const std::vector<IniEntry>& entries, LPCWSTR key, std::wstring& value);
    // Replaces all keys of the section with these, in one replacement of the file.
    static BOOL WriteSection(LPCWSTR section, const std::vector<IniEntry>& entries);

    // While one lives, section reads share one read of the file (the start
    // reads four sections); a write through CIniEdit ends the sharing.
    class SharedRead {
    public:
        SharedRead();
        ~SharedRead();
        SharedRead(const SharedRead&) = delete;
        SharedRead& operator=(const SharedRead&) = delete;
    };

    // A decimal number as "%d" wrote it; FALSE for anything else (empty,
    // trailing text, beyond the range of int), where _wtoi would guess.
    static BOOL ParseInt(const std::wstring& text, int& value);

    // Control characters (CR, LF, tab, C1) would end or split a line of the
    // file: they become blanks.
    static std::wstring Printable(std::wstring text);
};

// Several changes, possibly to several sections, made by one replacement of
// the file: all of them reach the file or none does.
class CIniEdit {
public:
    void Set(LPCWSTR section, const std::wstring& key, const std::wstring& value);
    void Remove(LPCWSTR section, const std::wstring& key);
    void ReplaceSection(LPCWSTR section, std::vector<IniEntry> entries);
    // FALSE when the file could not be read or replaced (no Config folder, a
    // read-only file); the old file is then as it was.
    BOOL Commit() const;

private:
    enum Kind { kSet, kRemove, kReplace };
    struct Change {
        Kind kind;
        std::wstring section;
        std::wstring key;
        std::wstring value;
        std::vector<IniEntry> entries;
    };
    std::vector<Change> m_changes;
};
