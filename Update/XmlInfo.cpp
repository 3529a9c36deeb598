#include "XmlInfo.h"

#include "Log.h"

#include <expat.h>

#include <cstdio>
#include <cstring>

namespace {

// Numbers convert like atoi, but wrap modulo 2^32 instead of saturating, so
// "4294967295" and "-1" give the same 32 bits.
int32_t ToNumber(const char* s)
{
    while (*s == ' ' || (*s >= '\t' && *s <= '\r'))
        ++s;
    bool negative = false;
    if (*s == '+' || *s == '-')
        negative = *s++ == '-';
    uint32_t value = 0;
    for (; *s >= '0' && *s <= '9'; ++s)
        value = value * 10u + static_cast<uint32_t>(*s - '0');
    if (negative)
        value = 0u - value;
    return static_cast<int32_t>(value);
}

// UTF-8 -> UTF-16 into a fixed field; false when the text does not fit (the
// field is then left empty). The input is whole characters: Expat checked it.
bool ToField(const char* utf8, wchar_t* field, size_t units)
{
    field[0] = L'\0';
    int len = static_cast<int>(std::strlen(utf8));
    if (len == 0)
        return true;
    int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8, len, nullptr, 0);
    if (n <= 0 || static_cast<size_t>(n) >= units)
        return false;
    ::MultiByteToWideChar(CP_UTF8, 0, utf8, len, field, n);
    field[n] = L'\0';
    return true;
}

// Like ToField, but a text that does not fit keeps its leading characters
// (never half of a surrogate pair).
void ToFieldCut(const char* utf8, wchar_t* field, size_t units)
{
    if (ToField(utf8, field, units))
        return;
    int len = static_cast<int>(std::strlen(utf8));
    int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8, len, nullptr, 0);
    if (n <= 0)
        return;
    std::unique_ptr<wchar_t[]> all(new wchar_t[static_cast<size_t>(n)]);
    ::MultiByteToWideChar(CP_UTF8, 0, utf8, len, all.get(), n);
    size_t keep = units - 1;
    if (keep > 0 && all[keep - 1] >= 0xD800 && all[keep - 1] <= 0xDBFF)
        --keep;
    std::memcpy(field, all.get(), keep * sizeof(wchar_t));
    field[keep] = L'\0';
}

bool Is(const char* a, const char* b)
{
    return std::strcmp(a, b) == 0;
}

} // namespace

// ---------------------------------------------------------------------------

void VersionInfo::AddFile(const FileInfo& record)
{
    auto copy = std::make_unique<FileInfo>();
    copy->f_id = record.f_id;
    std::memcpy(copy->f_name, record.f_name, sizeof copy->f_name);
    copy->f_size = record.f_size;
    copy->f_crc = record.f_crc;
    copy->done = 0;
    FileInfo* added = copy.get();
    if (m_last)
        m_last->next = std::move(copy);
    else
        m_files = std::move(copy);
    m_last = added;
    ++file_count;
}

FileInfo* VersionInfo::GetFile(int n) const
{
    if (n < 0)
        return nullptr;
    FileInfo* f = m_files.get();
    while (f && n-- > 0)
        f = f->next.get();
    return f;
}

void VersionInfo::Clear()
{
    // Unlinked one by one: a long list must not recurse through destructors.
    while (m_files)
        m_files = std::move(m_files->next);
    m_last = nullptr;
    ver_id = 0;
    file_count = 0;
    ver_flag = 0;
    ver_desc[0] = L'\0';
    ver_root[0] = L'\0';
    ver_root_cut = false;
}

// ---------------------------------------------------------------------------

void CXmlInfo::Reset()
{
    for (VersionInfo& v : m_versions)
        v.Clear();
    m_versionCount = 0;
    m_element[0] = '\0';
    m_versionsSeen = 0;
    m_current = nullptr;
    m_pending.next.reset();
    m_pending = FileInfo();
}

int CXmlInfo::ParseFile(const wchar_t* path)
{
    Reset();
    // Text mode, as the manifest has always been read: CR LF arrives as LF and
    // a byte 0x1A ends the data.
    FILE* file = _wfopen(path, L"rt");
    if (!file) {
        UPDATE_LOG(L"CONFIG FILE IS NOT EXIST\n");
        return -1;
    }
    static thread_local char buffer[kMaxManifest];
    size_t size = 0;
    int c;
    while (size < kMaxManifest && (c = std::fgetc(file)) != EOF)
        buffer[size++] = static_cast<char>(c);
    bool tooLarge = size == kMaxManifest && std::fgetc(file) != EOF;
    std::fclose(file);
    if (tooLarge) {
        // Beyond the format's size: parsing a cut document would only fail later.
        UPDATE_LOG(L"CONFIG FILE IS TOO LARGE, more than %u bytes\n", static_cast<unsigned>(kMaxManifest));
        return -1;
    }
    return ParseBuffer(buffer, size);
}

int CXmlInfo::ParseReceived(const std::string& bytes)
{
    std::string text;
    text.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size() && bytes[i] != '\x1A'; ++i)
        if (bytes[i] != '\r' || i + 1 == bytes.size() || bytes[i + 1] != '\n')
            text += bytes[i];
    return ParseBuffer(text.data(), text.size());
}

int CXmlInfo::ParseBuffer(const char* data, size_t size)
{
    Reset();
    if (size > kMaxManifest) {
        UPDATE_LOG(L"CONFIG FILE IS TOO LARGE, more than %u bytes\n", static_cast<unsigned>(kMaxManifest));
        return -1;
    }
    XML_Parser parser = XML_ParserCreate("UTF-8");
    if (!parser) {
        UPDATE_LOG(L"XML_ParserCreate error\n");
        return -1;
    }
    XML_SetUserData(parser, this);
    XML_SetElementHandler(parser, parseCfgStart, parseCfgEnd);
    XML_SetCharacterDataHandler(parser, parseChnlSrvCfg);
    int result = 0;
    if (XML_Parse(parser, data, static_cast<int>(size), 1) == XML_STATUS_ERROR) {
        UPDATE_LOG(L"Parse error at line %u:\n%hs\n", static_cast<unsigned>(XML_GetCurrentLineNumber(parser)),
                   XML_ErrorString(XML_GetErrorCode(parser)));
        result = -1;
    }
    XML_ParserFree(parser);
    m_element[0] = '\0';
    m_current = nullptr;
    return result;
}

VersionInfo* CXmlInfo::GetLatestVersion()
{
    VersionInfo* best = nullptr;
    uint32_t bestId = 0;
    int count = m_versionCount < kMaxVersions ? m_versionCount : kMaxVersions;
    for (int i = 0; i < count; ++i) {
        uint32_t id = static_cast<uint32_t>(m_versions[i].ver_id);
        if (id > bestId) {
            bestId = id;
            best = &m_versions[i];
        }
    }
    return best;
}

void CXmlInfo::parseCfgStart(void* userData, const char* name, const char**)
{
    auto* self = static_cast<CXmlInfo*>(userData);
    if (Is(name, "version")) {
        self->m_current = self->m_versionsSeen < kMaxVersions ? &self->m_versions[self->m_versionsSeen] : nullptr;
    } else if (Is(name, "file")) {
        self->m_pending = FileInfo();
    } else if (Is(name, "update_info")) {
        self->m_versionCount = 0;
    } else if (std::strlen(name) <= kMaxElementName) {
        std::strcpy(self->m_element, name);
    } else {
        // Longer than any name of the format: an element to ignore.
        self->m_element[0] = '\0';
    }
}

void CXmlInfo::parseCfgEnd(void* userData, const char* name)
{
    auto* self = static_cast<CXmlInfo*>(userData);
    if (Is(name, "file")) {
        if (self->m_current)
            self->m_current->AddFile(self->m_pending);
        else
            UPDATE_LOG(L"parseCfgEnd Catch Error\n");
    } else if (Is(name, "version")) {
        ++self->m_versionsSeen;
        self->m_current = nullptr;
    } else if (Is(name, "update_info")) {
        self->m_versionCount = self->m_versionsSeen < kMaxVersions ? self->m_versionsSeen : kMaxVersions;
    }
}

void CXmlInfo::parseChnlSrvCfg(void* userData, const char* text, int length)
{
    auto* self = static_cast<CXmlInfo*>(userData);
    if (self->m_element[0] == '\0')
        return;
    // A value holds at most kMaxValue bytes; a longer one is cut, at a
    // character boundary.
    char value[kMaxValue + 1] = {};
    size_t n = length > 0 ? static_cast<size_t>(length) : 0;
    bool cut = n > kMaxValue;
    if (cut) {
        n = kMaxValue;
        while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
            --n;
    }
    std::memcpy(value, text, n);

    const char* element = self->m_element;
    VersionInfo* version = self->m_current;
    FileInfo& file = self->m_pending;
    bool versionValue = Is(element, "ver_id") || Is(element, "ver_flag") || Is(element, "ver_desc") ||
                        Is(element, "ver_root");
    if (versionValue && !version) {
        UPDATE_LOG(L"CXmlInfo::parseChnlSrvCfg Catch Error\n");
    } else if (Is(element, "ver_id")) {
        version->ver_id = ToNumber(value);
    } else if (Is(element, "ver_flag")) {
        version->ver_flag = ToNumber(value);
    } else if (Is(element, "ver_desc")) {
        ToFieldCut(value, version->ver_desc, sizeof version->ver_desc / sizeof(wchar_t));
    } else if (Is(element, "ver_root")) {
        // A cut root would name another place on the server: the version's
        // files cannot be fetched at all.
        bool fits = !cut && ToField(value, version->ver_root, sizeof version->ver_root / sizeof(wchar_t));
        if (!fits)
            version->ver_root[0] = L'\0';
        version->ver_root_cut = !fits;
    } else if (Is(element, "f_id")) {
        file.f_id = ToNumber(value);
    } else if (Is(element, "f_name")) {
        // A cut name would name another file: an over-long name stays empty,
        // which no file operation accepts.
        if (cut || !ToField(value, file.f_name, sizeof file.f_name / sizeof(wchar_t)))
            file.f_name[0] = L'\0';
    } else if (Is(element, "f_size")) {
        file.f_size = ToNumber(value);
    } else if (Is(element, "f_crc")) {
        file.f_crc = ToNumber(value);
    }
    self->m_element[0] = '\0';
}
