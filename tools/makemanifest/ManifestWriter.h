// Writes the update manifest for a release folder, within the limits the
// updater reads: every file below the folder with its size and checksum.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ManifestEntry {
    std::wstring name;  // "/sub/file.ext"
    uint64_t size = 0;
    uint32_t crc = 0;
};

struct ManifestRelease {
    uint32_t versionId = 0;
    std::wstring verRoot;      // server path prefix of the files, "" or "/..."
    std::wstring description;
};

// "16777218" or "1.0.0.2" (four parts of 0..255); false when neither.
bool ParseVersionId(const std::wstring& text, uint32_t* id);

// Why name cannot be listed, or empty when it can.
std::wstring CheckManifestName(const std::wstring& name);

// The files of folder (recursively, without its own update.xml, update.sig,
// update.dlt and update.keys), sorted by name; false with the reason when a file cannot be
// listed or read, or is a private key file (publisher.key).
bool CollectRelease(const std::wstring& folder, std::vector<ManifestEntry>* entries, std::wstring* error);

// The manifest text (UTF-8); false with the reason when a limit is exceeded.
bool BuildManifest(const ManifestRelease& release, const std::vector<ManifestEntry>& entries, std::string* xml,
                   std::wstring* error);

// Collect, build and write folder\update.xml.
bool WriteManifest(const std::wstring& folder, const ManifestRelease& release, std::vector<ManifestEntry>* entries,
                   std::wstring* error);
