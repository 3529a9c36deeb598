#include "IniFile.h"

#include "Handles.h"
#include "StageTimes.h"

#include <algorithm>
#include <climits>
#include <cwchar>
#include <cwctype>
#include <deque>
#include <string_view>
#include <vector>

namespace {

const wchar_t kSettingsFile[] = L"\\Config\\QZPlayer.ini";

// How a file's text is stored; a file keeps its form when it is rewritten,
// except that an ANSI file takes UTF-16 once it must hold text the code page
// cannot (the profile functions read all three).
enum class Encoding { Utf16, Utf8, Ansi };

// The lines are views into the text as read and into the lines the edits
// made: a long list is read and rewritten without a string per line.
struct Document {
    Encoding encoding = Encoding::Utf16;
    std::wstring text;
    std::deque<std::wstring> made;        // stays where it is while it grows
    std::vector<std::wstring_view> lines; // without their line ends

    std::wstring_view Add(std::wstring line)
    {
        made.push_back(std::move(line));
        return made.back();
    }
};

// The profile reader's blanks, around lines, keys and values (^Z, the DOS
// end of file, among them).
bool ProfileBlank(wchar_t c)
{
    return (c >= 0x09 && c <= 0x0D) || c == 0x1A || c == 0x20;
}

// The reader's blanks: the editor finds a key exactly where the reader does.
std::wstring Trim(std::wstring_view s, size_t from = 0, size_t to = std::wstring::npos)
{
    to = std::min(to, s.size());
    while (from < to && ProfileBlank(s[from]))
        ++from;
    while (to > from && ProfileBlank(s[to - 1]))
        --to;
    return std::wstring(s.substr(from, to - from));
}

bool SameName(std::wstring_view a, std::wstring_view b)
{
    return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

std::wstring KeyOfLine(std::wstring_view line)
{
    return Trim(line, 0, line.find(L'='));
}

enum class ReadResult { kRead, kMissing, kFailed };

// The file's text, decoded as the profile functions decode it: a UTF-16 LE or
// UTF-8 byte order mark, else the ANSI code page. bigEndian: the file starts
// with a UTF-16 BE mark, which they read and we never write.
ReadResult ReadText(const std::wstring& path, std::wstring& text, Encoding& encoding, bool* bigEndian = nullptr)
{
    text.clear();
    encoding = Encoding::Utf16;
    CFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return ::GetLastError() == ERROR_FILE_NOT_FOUND ? ReadResult::kMissing : ReadResult::kFailed;
    LARGE_INTEGER size = {};
    if (!::GetFileSizeEx(file.Get(), &size) || size.QuadPart > (256LL << 20))
        return ReadResult::kFailed;
    const size_t length = static_cast<size_t>(size.QuadPart);
    unsigned char mark[2] = {};
    DWORD got = 0;
    if (length >= 2 && (!::ReadFile(file.Get(), mark, 2, &got, nullptr) || got != 2))
        return ReadResult::kFailed;
    if (bigEndian)
        *bigEndian = mark[0] == 0xFE && mark[1] == 0xFF;
    if (mark[0] == 0xFF && mark[1] == 0xFE) {
        // UTF-16, the player's own form: straight into the text, no second copy.
        text.resize((length - 2) / sizeof(wchar_t));
        const DWORD want = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        if (want && (!::ReadFile(file.Get(), &text[0], want, &got, nullptr) || got != want))
            return ReadResult::kFailed;
        return ReadResult::kRead;
    }
    std::string bytes(length, '\0');
    if (length >= 2)
        bytes.assign(reinterpret_cast<const char*>(mark), 2).resize(length);
    const DWORD rest = static_cast<DWORD>(length - (length >= 2 ? 2 : 0));
    if (rest && (!::ReadFile(file.Get(), &bytes[length - rest], rest, &got, nullptr) || got != rest))
        return ReadResult::kFailed;

    if (bytes.empty()) {
        // An empty file: a new one, Unicode.
    } else {
        UINT codePage = CP_ACP;
        size_t skip = 0;
        encoding = Encoding::Ansi;
        if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
            codePage = CP_UTF8;
            skip = 3;
            encoding = Encoding::Utf8;
        }
        const int n = ::MultiByteToWideChar(codePage, 0, bytes.data() + skip, static_cast<int>(bytes.size() - skip),
                                            nullptr, 0);
        text.resize(static_cast<size_t>(n));
        if (n > 0)
            ::MultiByteToWideChar(codePage, 0, bytes.data() + skip, static_cast<int>(bytes.size() - skip), &text[0], n);
    }
    return ReadResult::kRead;
}

bool ReadDocument(const std::wstring& path, Document& doc)
{
    doc = Document();
    const ReadResult result = ReadText(path, doc.text, doc.encoding);
    if (result != ReadResult::kRead)
        return result == ReadResult::kMissing; // a new file; no folder fails when written
    // Lines end where the reader ends them: at CR, LF or both (each is
    // written back with CR LF, as the profile functions write).
    const std::wstring& text = doc.text;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find_first_of(L"\r\n", at);
        if (end == std::wstring::npos)
            end = text.size();
        doc.lines.emplace_back(text.data() + at, end - at);
        at = end + (text.compare(end, 2, L"\r\n") == 0 ? 2 : 1);
    }
    return true;
}

// The one grammar of a section header, for the reader and the editor: after
// blanks, "[" and the name up to the line's last "]", blanks around the name
// dropped ("[]" is a section without a name; "[name" without "]" is no
// header). FALSE for any other line.
bool HeaderName(const wchar_t* from, const wchar_t* to, std::wstring_view& name)
{
    while (from < to && ProfileBlank(*from))
        ++from;
    if (from == to || *from != L'[')
        return false;
    const wchar_t* close = to;
    while (close > from + 1 && close[-1] != L']')
        --close;
    if (close <= from + 1)
        return false;
    const wchar_t* begin = from + 1;
    const wchar_t* end = close - 1;
    while (begin < end && ProfileBlank(*begin))
        ++begin;
    while (end > begin && ProfileBlank(end[-1]))
        --end;
    name = std::wstring_view(begin, static_cast<size_t>(end - begin));
    return true;
}

bool HeaderName(std::wstring_view line, std::wstring_view& name)
{
    return HeaderName(line.data(), line.data() + line.size(), name);
}

// What the profile functions answer stops at a zero character.
std::wstring_view UpToZero(const wchar_t* from, const wchar_t* to)
{
    const wchar_t* zero = std::wmemchr(from, L'\0', static_cast<size_t>(to - from));
    return std::wstring_view(from, static_cast<size_t>((zero ? zero : to) - from));
}

// Where the lines that may start a section begin (their "["), in one pass.
std::vector<size_t> SectionStarts(const std::wstring& text)
{
    std::vector<size_t> starts;
    bool lineStart = true;
    for (size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (c == L'\n' || c == L'\r')
            lineStart = true;
        else if (lineStart && c == L'[')
            starts.push_back(i), lineStart = false;
        else if (lineStart && !ProfileBlank(c))
            lineStart = false;
    }
    return starts;
}

// The section's lines when the line at "at" is its header, as
// GetPrivateProfileSectionW finds them: lines end at CR or LF; blanks around
// a line, before "=" and after it go; a header (HeaderName) starts a section
// ("[name" without "]" is a key of the one before); blank,
// comment (";") and lone "=" lines are left out; a line without "=" is a key
// without a value. FALSE when that line is no header of the section.
bool SectionAt(const std::wstring& text, size_t at, LPCWSTR section, std::vector<IniSectionText::Line>& lines)
{
    const std::wstring_view wanted(section);
    const wchar_t* p = text.data() + at;
    const wchar_t* const end = text.data() + text.size();
    bool inside = false;
    while (p < end) {
        const wchar_t* from = p;
        while (p < end && *p != L'\n' && *p != L'\r')
            ++p;
        const wchar_t* to = p;
        while (p < end && (*p == L'\n' || *p == L'\r'))
            ++p;
        while (from < to && ProfileBlank(*from))
            ++from;
        if (from == to)
            continue;
        while (to > from && ProfileBlank(to[-1]))
            --to;
        std::wstring_view name;
        if (HeaderName(from, to, name)) {
            if (inside)
                return true;
            inside = SameName(name, wanted);
            if (!inside)
                return false;
            continue;
        }
        if (!inside)
            return false;
        if (*from == L';')
            continue;
        const wchar_t* eq = std::wmemchr(from, L'=', static_cast<size_t>(to - from));
        if (!eq) {
            lines.push_back({UpToZero(from, to), std::wstring_view()});
            continue;
        }
        const wchar_t* keyEnd = eq;
        while (keyEnd > from && ProfileBlank(keyEnd[-1]))
            --keyEnd;
        const wchar_t* value = eq + 1;
        while (value < to && ProfileBlank(*value))
            ++value;
        if (keyEnd > from || value < to) // "=" alone is no key
            lines.push_back({UpToZero(from, keyEnd), UpToZero(value, to)});
    }
    return inside;
}

// The first section of the name counts.
void FindSectionLines(const std::wstring& text, const std::vector<size_t>& starts, LPCWSTR section,
                      std::vector<IniSectionText::Line>& lines)
{
    for (size_t at : starts)
        if (SectionAt(text, at, section, lines))
            return;
}

// The start reads several sections: while a SharedRead lives they come from
// one read of the file, until a write.
struct SharedText {
    int holders = 0;
    std::shared_ptr<const std::wstring> text;
    std::vector<size_t> starts;
    bool bigEndian = false;
} g_shared;

// The profile functions keep a parsed copy of a file they read; only then
// must a write drop it (dropping it parses the file when there is none).
bool g_profileCopy = false;

// The lines of a section's body: [begin, end) after its header.
struct Range {
    size_t header, begin, end;
};

bool FindSection(const Document& doc, const std::wstring& section, Range& r)
{
    std::wstring_view name;
    for (size_t i = 0; i < doc.lines.size(); ++i) {
        if (!HeaderName(doc.lines[i], name) || !SameName(name, section))
            continue;
        size_t end = i + 1;
        while (end < doc.lines.size() && !HeaderName(doc.lines[end], name))
            ++end;
        r = {i, i + 1, end};
        return true;
    }
    return false;
}

std::wstring Line(const std::wstring& key, const std::wstring& value)
{
    std::wstring line;
    line.reserve(key.size() + 1 + value.size());
    line.append(key).append(1, L'=').append(value);
    return CIniFile::Printable(std::move(line));
}

// Where a new key of the section goes: after its last line that is not blank.
size_t InsertionPoint(const Document& doc, const Range& r)
{
    size_t at = r.end;
    while (at > r.begin && Trim(doc.lines[at - 1]).empty())
        --at;
    return at;
}

Range AddSection(Document& doc, const std::wstring& section)
{
    if (!doc.lines.empty() && !Trim(doc.lines.back()).empty())
        doc.lines.emplace_back();
    doc.lines.push_back(doc.Add(L"[" + section + L"]"));
    const size_t at = doc.lines.size();
    return {at - 1, at, at};
}

std::string Encode(const Document& doc)
{
    size_t units = 0;
    for (std::wstring_view l : doc.lines)
        units += l.size() + 2;
    std::wstring text;
    text.reserve(units);
    for (std::wstring_view l : doc.lines) {
        text += l;
        text += L"\r\n";
    }
    if (doc.encoding != Encoding::Utf16) {
        const UINT codePage = doc.encoding == Encoding::Utf8 ? CP_UTF8 : CP_ACP;
        BOOL lost = FALSE;
        // No best fit: a character the code page lacks ("ç" where it has
        // only "c") must switch the file to UTF-16, not quietly become another.
        const DWORD flags = codePage == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
        const int n = ::WideCharToMultiByte(codePage, flags, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                            nullptr, codePage == CP_UTF8 ? nullptr : &lost);
        if (!lost && (n > 0 || text.empty())) {
            std::string bytes(doc.encoding == Encoding::Utf8 ? "\xEF\xBB\xBF" : "");
            const size_t skip = bytes.size();
            bytes.resize(skip + static_cast<size_t>(n));
            if (n > 0)
                ::WideCharToMultiByte(codePage, flags, text.data(), static_cast<int>(text.size()), &bytes[skip], n,
                                      nullptr, nullptr);
            return bytes;
        }
    }
    std::string bytes("\xFF\xFE", 2);
    bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    return bytes;
}

// The new file beside the old one (a move within one volume is a rename),
// flushed to the disk before it takes the old one's place.
bool ReplaceFile(const std::wstring& path, const std::string& bytes)
{
    // A read-only file is not to be written, as the profile functions would
    // not (Windows refuses to move over it; Wine's move would replace it).
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        return false;
    const std::wstring temp = path + L".new";
    {
        CFileHandle file(::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                       nullptr));
        if (!file)
            return false;
        DWORD written = 0;
        const bool ok = ::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                        written == bytes.size() && ::FlushFileBuffers(file.Get());
        if (!file.Close() || !ok) {
            ::DeleteFileW(temp.c_str());
            return false;
        }
    }
    // Wine keeps parsed profile files and notices a new one only by its time
    // of last write: its copy of the old file, if this process read it
    // through them (GetString), is dropped (the documented flush of the
    // cache), so that the next read parses the new one. Done before the move,
    // it costs no parse of the new file.
    if (g_profileCopy) {
        stagetimes::Scope flush(stagetimes::kSaveFlush);
        ::WritePrivateProfileStringW(nullptr, nullptr, nullptr, path.c_str());
    }
    // A file someone holds open cannot be replaced; a reader that holds it
    // for a moment (a backup, a scanner) is waited for a little.
    for (int attempt = 0;; ++attempt) {
        if (::MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        const DWORD error = ::GetLastError();
        if (attempt >= 10 || (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION))
            break;
        ::Sleep(10);
    }
    ::DeleteFileW(temp.c_str());
    return false;
}

} // namespace

std::wstring CIniFile::GetPath()
{
    wchar_t module[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, module, MAX_PATH);
    std::wstring path(module);
    size_t slash = path.rfind(L'\\');
    path.resize(slash == std::wstring::npos ? 0 : slash);
    return path + kSettingsFile;
}

BOOL CIniFile::GetString(LPCWSTR section, LPCWSTR key, std::wstring& value)
{
    std::vector<wchar_t> buf(kMaxValue + 1, L'\0');
    g_profileCopy = true;
    DWORD n = ::GetPrivateProfileStringW(section, key, L"", buf.data(), kMaxValue + 1, GetPath().c_str());
    if (n == 0) {
        value.clear();
        return FALSE;
    }
    value.assign(buf.data(), n);
    return TRUE;
}

BOOL CIniFile::WriteString(LPCWSTR section, LPCWSTR key, LPCWSTR value)
{
    if (!section || !key)
        return FALSE;
    CIniEdit edit;
    if (value)
        edit.Set(section, key, value);
    else
        edit.Remove(section, key);
    return edit.Commit();
}

namespace {

// The old way, for a file only the profile functions read (UTF-16 BE).
void ReadSectionByProfile(LPCWSTR section, const std::wstring& path, IniSectionText& out)
{
    g_profileCopy = true;
    // The reader answers size - 2 when the section did not fit. A section is
    // no longer than the file in characters.
    WIN32_FILE_ATTRIBUTE_DATA info = {};
    size_t size = 64 * 1024;
    if (::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &info) && !info.nFileSizeHigh &&
        info.nFileSizeLow + size_t{2} > size)
        size = std::min<size_t>(info.nFileSizeLow + size_t{2}, 64u << 20);
    std::wstring buf(size, L'\0');
    DWORD n = 0;
    for (;;) {
        n = ::GetPrivateProfileSectionW(section, &buf[0], static_cast<DWORD>(buf.size()), path.c_str());
        if (n + 2 < buf.size() || buf.size() >= (64u << 20))
            break;
        buf.assign(buf.size() * 4, L'\0');
    }
    buf.resize(n);
    auto text = std::make_shared<const std::wstring>(std::move(buf));
    // "key=value\0key=value\0\0"; a line without "=" is a key without a value.
    for (size_t at = 0; at < text->size() && (*text)[at];) {
        const wchar_t* line = text->data() + at;
        const size_t length = wcslen(line);
        const wchar_t* eq = wmemchr(line, L'=', length);
        if (eq)
            out.lines.push_back({std::wstring_view(line, static_cast<size_t>(eq - line)),
                                 std::wstring_view(eq + 1, length - static_cast<size_t>(eq - line) - 1)});
        else
            out.lines.push_back({std::wstring_view(line, length), std::wstring_view()});
        at += length + 1;
    }
    out.text = std::move(text);
}

} // namespace

BOOL CIniFile::GetSection(LPCWSTR section, IniSectionText& out)
{
    out.lines.clear();
    out.text.reset();
    const std::wstring path = GetPath();
    bool bigEndian = false;
    std::vector<size_t> ownStarts;
    const std::vector<size_t>* starts = &ownStarts;
    if (g_shared.holders > 0 && g_shared.text) {
        out.text = g_shared.text;
        bigEndian = g_shared.bigEndian;
        starts = &g_shared.starts;
    } else {
        stagetimes::Scope read(stagetimes::kSettingsRead);
        auto text = std::make_shared<std::wstring>();
        Encoding encoding;
        // A file that cannot be read has no sections, as for the profile functions.
        ReadText(path, *text, encoding, &bigEndian);
        out.text = std::move(text);
        read.End();
        stagetimes::Scope split(stagetimes::kSettingsSplit);
        ownStarts = SectionStarts(*out.text);
        if (g_shared.holders > 0) {
            g_shared.text = out.text;
            g_shared.starts = std::move(ownStarts);
            g_shared.bigEndian = bigEndian;
            starts = &g_shared.starts;
        }
    }
    if (bigEndian) {
        out.text.reset();
        ReadSectionByProfile(section, path, out);
        return !out.lines.empty();
    }
    stagetimes::Scope split(stagetimes::kSettingsSplit);
    FindSectionLines(*out.text, *starts, section, out.lines);
    return !out.lines.empty();
}

CIniFile::SharedRead::SharedRead()
{
    ++g_shared.holders;
}

CIniFile::SharedRead::~SharedRead()
{
    if (--g_shared.holders == 0) {
        g_shared.text.reset();
        g_shared.starts.clear();
    }
}

BOOL CIniFile::GetSection(LPCWSTR section, std::vector<IniEntry>& entries)
{
    entries.clear();
    IniSectionText text;
    GetSection(section, text);
    stagetimes::Scope split(stagetimes::kSettingsSplit);
    entries.reserve(text.lines.size());
    for (const IniSectionText::Line& l : text.lines)
        entries.push_back({std::wstring(l.key), std::wstring(l.value)});
    return !entries.empty();
}

BOOL CIniFile::Find(const std::vector<IniEntry>& entries, LPCWSTR key, std::wstring& value)
{
    value.clear();
    const int length = static_cast<int>(wcslen(key));
    for (const IniEntry& e : entries) {
        if (::CompareStringOrdinal(e.key.c_str(), static_cast<int>(e.key.size()), key, length, TRUE) == CSTR_EQUAL) {
            value = e.value;
            return !value.empty();
        }
    }
    return FALSE;
}

BOOL CIniFile::WriteSection(LPCWSTR section, const std::vector<IniEntry>& entries)
{
    CIniEdit edit;
    edit.ReplaceSection(section, entries);
    return edit.Commit();
}

BOOL CIniFile::ParseInt(const std::wstring& text, int& value)
{
    const std::wstring t = Trim(text);
    size_t at = 0;
    const bool negative = !t.empty() && t[0] == L'-';
    if (negative || (!t.empty() && t[0] == L'+'))
        ++at;
    if (at >= t.size())
        return FALSE;
    long long v = 0;
    for (; at < t.size(); ++at) {
        if (t[at] < L'0' || t[at] > L'9')
            return FALSE;
        v = v * 10 + (t[at] - L'0');
        if (v > static_cast<long long>(INT_MAX) + 1)
            return FALSE;
    }
    if (negative)
        v = -v;
    if (v > INT_MAX || v < INT_MIN)
        return FALSE;
    value = static_cast<int>(v);
    return TRUE;
}

std::wstring CIniFile::Printable(std::wstring text)
{
    for (wchar_t& c : text)
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029)
            c = L' ';
    return text;
}

// ---------------------------------------------------------------------------
// CIniEdit

void CIniEdit::Set(LPCWSTR section, const std::wstring& key, const std::wstring& value)
{
    m_changes.push_back({kSet, section, key, value, {}});
}

void CIniEdit::Remove(LPCWSTR section, const std::wstring& key)
{
    m_changes.push_back({kRemove, section, key, {}, {}});
}

void CIniEdit::ReplaceSection(LPCWSTR section, std::vector<IniEntry> entries)
{
    m_changes.push_back({kReplace, section, {}, {}, std::move(entries)});
}

BOOL CIniEdit::Commit() const
{
    stagetimes::Scope commit(stagetimes::kSaveCommit);
    // The file changes (or may have): a shared read is out of date.
    g_shared.text.reset();
    g_shared.starts.clear();
    const std::wstring path = CIniFile::GetPath();
    Document doc;
    // A file that cannot be read is never replaced by one made of nothing.
    stagetimes::Scope read(stagetimes::kSaveRead);
    if (!ReadDocument(path, doc))
        return FALSE;
    read.End();
    for (const Change& c : m_changes) {
        Range r;
        const bool found = FindSection(doc, c.section, r);
        if (c.kind == kReplace) {
            if (!found)
                r = AddSection(doc, c.section);
            // A blank line stays before the next section.
            const size_t keep = found ? InsertionPoint(doc, r) : r.end;
            // The section's lines in one string, cut into views once it is whole.
            std::wstring block;
            size_t units = 0;
            for (const IniEntry& e : c.entries)
                units += e.key.size() + 1 + e.value.size();
            block.reserve(units);
            for (const IniEntry& e : c.entries)
                block.append(e.key).append(1, L'=').append(e.value);
            const std::wstring_view made = doc.Add(CIniFile::Printable(std::move(block)));
            std::vector<std::wstring_view> lines;
            lines.reserve(c.entries.size());
            size_t at = 0;
            for (const IniEntry& e : c.entries) {
                const size_t length = e.key.size() + 1 + e.value.size();
                lines.push_back(made.substr(at, length));
                at += length;
            }
            doc.lines.erase(doc.lines.begin() + static_cast<std::ptrdiff_t>(r.begin),
                            doc.lines.begin() + static_cast<std::ptrdiff_t>(keep));
            doc.lines.insert(doc.lines.begin() + static_cast<std::ptrdiff_t>(r.begin), lines.begin(), lines.end());
            continue;
        }
        if (!found) {
            if (c.kind == kRemove)
                continue;
            r = AddSection(doc, c.section);
        }
        const std::wstring key = Trim(c.key);
        bool done = false;
        for (size_t i = r.begin; i < r.end;) {
            if (!SameName(KeyOfLine(doc.lines[i]), key)) {
                ++i;
            } else if (c.kind == kSet && !done) {
                doc.lines[i] = doc.Add(Line(key, c.value));
                done = true;
                ++i;
            } else {
                // Later copies of a key are never read: they go with it.
                doc.lines.erase(doc.lines.begin() + static_cast<std::ptrdiff_t>(i));
                --r.end;
            }
        }
        if (c.kind == kSet && !done)
            doc.lines.insert(doc.lines.begin() + static_cast<std::ptrdiff_t>(InsertionPoint(doc, r)),
                             doc.Add(Line(key, c.value)));
    }
    const std::string bytes = Encode(doc);
    stagetimes::Scope write(stagetimes::kSaveWrite);
    return ReplaceFile(path, bytes) ? TRUE : FALSE;
}
