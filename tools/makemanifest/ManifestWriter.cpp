#include "ManifestWriter.h"

#include "Checksum.h"
#include "Folders.h"
#include "SafeName.h"
#include "XmlInfo.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>

namespace {

const size_t kMaxName = 63;      // UTF-16 units of f_name
const size_t kMaxDesc = 127;     // UTF-16 units of ver_desc

std::string Utf8(const std::wstring& s)
{
    if (s.empty())
        return std::string();
    int n = ::WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), &out[0], n, nullptr, nullptr);
    return out;
}

// The updater takes only the first piece of text of a value: an entity
// reference or a line break would cut it there.
std::wstring CheckValueText(const std::wstring& what, const std::wstring& text, size_t maxUnits)
{
    if (text.size() > maxUnits)
        return what + L" is longer than " + std::to_wstring(maxUnits) + L" characters";
    if (Utf8(text).size() > CXmlInfo::kMaxValue)
        return what + L" is longer than " + std::to_wstring(CXmlInfo::kMaxValue) + L" bytes in UTF-8";
    for (wchar_t c : text) {
        if (c == L'&' || c == L'<')
            return what + L" contains '" + std::wstring(1, c) +
                   L"', which the manifest can only carry as an entity reference, where the updater cuts the text";
        if (c < 0x20 || c == 0x7F)
            return what + L" contains a control character or line break, where the updater cuts the text";
        if (c >= 0xD800 && c <= 0xDFFF)
            return what + L" contains a character outside the basic plane";
    }
    return std::wstring();
}

bool Collect(const std::wstring& folder, const std::wstring& prefix, bool top, std::vector<ManifestEntry>* entries,
             std::wstring* error)
{
    bool ok = true;
    bool listed = ForEachEntry(folder, [&](const WIN32_FIND_DATAW& fd) {
        std::wstring name = fd.cFileName;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            ok = Collect(folder + L"\\" + name, prefix + L"/" + name, false, entries, error);
            return ok;
        }
        // The manifest, its signature, its delta index and the key chain are not part of the release.
        if (top && (::CompareStringOrdinal(name.c_str(), -1, L"update.xml", -1, TRUE) == CSTR_EQUAL ||
                    ::CompareStringOrdinal(name.c_str(), -1, L"update.sig", -1, TRUE) == CSTR_EQUAL ||
                    ::CompareStringOrdinal(name.c_str(), -1, L"update.dlt", -1, TRUE) == CSTR_EQUAL ||
                    ::CompareStringOrdinal(name.c_str(), -1, L"update.keys", -1, TRUE) == CSTR_EQUAL))
            return true;
        if (::CompareStringOrdinal(name.c_str(), -1, L"publisher.key", -1, TRUE) == CSTR_EQUAL) {
            *error = prefix + L"/" + name + L": a private key is never part of a release";
            ok = false;
            return false;
        }
        ManifestEntry entry;
        entry.name = prefix + L"/" + name;
        if (!ComputeFileChecksum(folder + L"\\" + name, &entry.crc, &entry.size)) {
            *error = L"cannot read " + entry.name;
            ok = false;
            return false;
        }
        entries->push_back(entry);
        return true;
    });
    if (!listed) {
        *error = L"cannot list the folder " + folder;
        return false;
    }
    return ok;
}

} // namespace

bool ParseVersionId(const std::wstring& text, uint32_t* id)
{
    if (text.empty())
        return false;
    if (text.find(L'.') == std::wstring::npos) {
        if (text.find_first_not_of(L"0123456789") != std::wstring::npos || text.size() > 10)
            return false;
        unsigned long long v = std::stoull(text);
        if (v > 0xFFFFFFFFull)
            return false;
        *id = static_cast<uint32_t>(v);
        return true;
    }
    uint32_t value = 0;
    size_t start = 0;
    for (int part = 0; part < 4; ++part) {
        size_t dot = text.find(L'.', start);
        if ((part < 3) != (dot != std::wstring::npos))
            return false;
        std::wstring digits = text.substr(start, dot == std::wstring::npos ? std::wstring::npos : dot - start);
        if (digits.empty() || digits.size() > 3 || digits.find_first_not_of(L"0123456789") != std::wstring::npos)
            return false;
        unsigned v = static_cast<unsigned>(std::stoul(digits));
        if (v > 255)
            return false;
        value = (value << 8) | v;
        start = dot + 1;
    }
    *id = value;
    return true;
}

std::wstring CheckManifestName(const std::wstring& name)
{
    if (!IsSafeFileName(name))
        return L"is not a plain relative path the updater accepts (device name, trailing dot or space, "
               L"or a character invalid in Windows file names)";
    return CheckValueText(L"the name", name, kMaxName);
}

bool CollectRelease(const std::wstring& folder, std::vector<ManifestEntry>* entries, std::wstring* error)
{
    entries->clear();
    if (!Collect(folder, L"", true, entries, error))
        return false;
    std::sort(entries->begin(), entries->end(),
              [](const ManifestEntry& a, const ManifestEntry& b) { return a.name < b.name; });
    return true;
}

bool BuildManifest(const ManifestRelease& release, const std::vector<ManifestEntry>& entries, std::string* xml,
                   std::wstring* error)
{
    if (release.versionId == 0) {
        *error = L"version id 0 is never applied by the updater";
        return false;
    }
    if (!release.verRoot.empty() && (release.verRoot[0] != L'/' || release.verRoot.back() == L'/')) {
        *error = L"ver_root must be empty or begin with '/' and not end with '/' (file names begin with '/')";
        return false;
    }
    std::wstring why = CheckValueText(L"ver_root", release.verRoot, CXmlInfo::kMaxValue);
    if (why.empty())
        why = CheckValueText(L"the description", release.description, kMaxDesc);
    if (!why.empty()) {
        *error = why;
        return false;
    }
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<update_info>\n<version>\n";
    out += "<ver_id>" + std::to_string(release.versionId) + "</ver_id>\n";
    out += "<ver_flag>0</ver_flag>\n";
    if (!release.description.empty())
        out += "<ver_desc>" + Utf8(release.description) + "</ver_desc>\n";
    out += "<ver_root>" + Utf8(release.verRoot) + "</ver_root>\n";
    int id = 0;
    for (const ManifestEntry& e : entries) {
        why = CheckManifestName(e.name);
        if (!why.empty()) {
            *error = e.name + L": " + why;
            return false;
        }
        if (e.size > 0xFFFFFFFFull) {
            *error = e.name + L": larger than 4 GB, its size does not fit the manifest";
            return false;
        }
        out += "<file>\n<f_id>" + std::to_string(++id) + "</f_id>\n";
        out += "<f_name>" + Utf8(e.name) + "</f_name>\n";
        out += "<f_size>" + std::to_string(e.size) + "</f_size>\n";
        out += "<f_crc>" + std::to_string(e.crc) + "</f_crc>\n</file>\n";
    }
    out += "</version>\n</update_info>\n";
    if (out.size() > CXmlInfo::kMaxManifest) {
        *error = L"the manifest would take " + std::to_wstring(out.size()) + L" bytes, more than the " +
                 std::to_wstring(CXmlInfo::kMaxManifest) + L" the updater reads: split the release";
        return false;
    }
    *xml = out;
    return true;
}

bool WriteManifest(const std::wstring& folder, const ManifestRelease& release, std::vector<ManifestEntry>* entries,
                   std::wstring* error)
{
    std::string xml;
    if (!CollectRelease(folder, entries, error) || !BuildManifest(release, *entries, &xml, error))
        return false;
    std::wstring path = folder + L"\\update.xml";
    FILE* f = _wfopen(path.c_str(), L"wb");
    if (!f) {
        *error = L"cannot write " + path;
        return false;
    }
    bool ok = std::fwrite(xml.data(), 1, xml.size(), f) == xml.size();
    ok = std::fclose(f) == 0 && ok;
    if (!ok)
        *error = L"cannot write " + path;
    return ok;
}
