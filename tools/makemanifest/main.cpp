// makemanifest: writes update.xml for a release folder.
//
//   makemanifest <release folder> <version id> <ver_root> [description]
//
// The version id is a decimal number or four parts a.b.c.d (as the updater's
// installed version is written). Every file below the folder is listed with
// its size and checksum; a file the updater would refuse stops the tool.
#include "ManifestWriter.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

void Print(FILE* out, const std::wstring& text)
{
    int n = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &utf8[0], n, nullptr, nullptr);
    std::fwrite(utf8.data(), 1, utf8.size(), out);
    std::fputc('\n', out);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 4 || argc > 5) {
        Print(stderr, L"usage: makemanifest <release folder> <version id> <ver_root> [description]");
        return 2;
    }
    ManifestRelease release;
    if (!ParseVersionId(argv[2], &release.versionId)) {
        Print(stderr, std::wstring(L"makemanifest: bad version id '") + argv[2] + L"' (a number or a.b.c.d)");
        return 2;
    }
    release.verRoot = argv[3];
    if (argc == 5)
        release.description = argv[4];
    std::wstring folder = argv[1];
    while (folder.size() > 3 && (folder.back() == L'\\' || folder.back() == L'/'))
        folder.pop_back();

    std::vector<ManifestEntry> entries;
    std::wstring error;
    if (!WriteManifest(folder, release, &entries, &error)) {
        Print(stderr, L"makemanifest: refused: " + error);
        return 1;
    }
    for (const ManifestEntry& e : entries)
        Print(stdout, e.name + L"  " + std::to_wstring(e.size) + L" bytes  crc " + std::to_wstring(e.crc));
    Print(stdout, L"makemanifest: wrote " + folder + L"\\update.xml (" + std::to_wstring(entries.size()) +
                      L" files, version " + std::to_wstring(release.versionId) + L")");
    return 0;
}
