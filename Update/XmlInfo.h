// The update manifest ("update.xml") and its parser.
//
// <update_info> holds <version> elements (only the first ten count); each has
// <ver_id>, <ver_flag>, <ver_desc>, <ver_root> and <file> elements with
// <f_id>, <f_name>, <f_size>, <f_crc>. Values are element texts: only the first
// piece of text after a value element's start tag counts (a line break or an
// entity reference ends it), numbers convert like atoi with 32-bit wrap.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

struct FileInfo {
    int32_t f_id = 0;
    wchar_t f_name[64] = {};
    int32_t f_size = 0;
    int32_t f_crc = 0;
    uint8_t done = 0;          // set by the update procedure once handled
    std::unique_ptr<FileInfo> next;
};

struct VersionInfo {
    VersionInfo() = default;
    ~VersionInfo() { Clear(); }
    VersionInfo(const VersionInfo&) = delete;
    VersionInfo& operator=(const VersionInfo&) = delete;

    int32_t ver_id = 0;        // compared as unsigned
    int32_t file_count = 0;
    int32_t ver_flag = 0;
    wchar_t ver_desc[128] = {};
    wchar_t ver_root[260] = {};
    // The manifest's root was too long to keep: no file of this version can
    // be fetched, so the version is not usable.
    bool ver_root_cut = false;

    // Appends a copy of record (done = 0).
    void AddFile(const FileInfo& record);
    // The n-th file from 0 in document order, or null.
    FileInfo* GetFile(int n) const;
    void Clear();

private:
    std::unique_ptr<FileInfo> m_files;
    FileInfo* m_last = nullptr;
};

class CXmlInfo {
public:
    static constexpr int kMaxVersions = 10;
    static constexpr size_t kMaxManifest = 10240;  // bytes of the manifest file
    static constexpr size_t kMaxValue = 99;        // bytes of one value text
    static constexpr size_t kMaxElementName = 31;  // bytes of a value element name

    CXmlInfo() = default;
    CXmlInfo(const CXmlInfo&) = delete;
    CXmlInfo& operator=(const CXmlInfo&) = delete;

    // Parses the manifest file into the version table: 0, or -1 on any failure
    // (what the handlers stored before a parse error stays in the table).
    int ParseFile(const wchar_t* path);
    // Parses manifest bytes as the file would provide them (after text mode).
    int ParseBuffer(const char* data, size_t size);
    // Parses the manifest's bytes as they were received, read as the file
    // always was (text mode: CR LF arrives as LF, a byte 0x1A ends the data).
    int ParseReceived(const std::string& bytes);

    // The version with the largest id (unsigned; the first of equal ids), or
    // null; id 0 is never chosen.
    VersionInfo* GetLatestVersion();

    int GetVersionCount() const { return m_versionCount; }
    VersionInfo& Slot(int i) { return m_versions[i]; }

    // Expat's handlers; userData is the CXmlInfo.
    static void parseCfgStart(void* userData, const char* name, const char** atts);
    static void parseCfgEnd(void* userData, const char* name);
    static void parseChnlSrvCfg(void* userData, const char* text, int length);

private:
    void Reset();

    VersionInfo m_versions[kMaxVersions];
    int m_versionCount = 0;

    // Parser state, valid during one parse.
    char m_element[kMaxElementName + 1] = {}; // current value element; empty: none
    int m_versionsSeen = 0;
    VersionInfo* m_current = nullptr;
    FileInfo m_pending;
};
