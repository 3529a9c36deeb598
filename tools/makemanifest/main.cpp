// makemanifest: the publisher's tool for a release.
//
//   makemanifest <release folder> <version id> <ver_root> [description]
//       writes update.xml for the release folder
//   makemanifest --new-key <folder>
//       makes a key pair: <folder>\publisher.key (private) and publisher.pub
//   makemanifest --key <folder>\publisher.key [--days N]
//                [--rotate-to <newfolder>\publisher.key [--revoke <key id>]...]
//                [--previous <older release folder>]...
//                <release folder> <version id> <ver_root> [description]
//       writes update.xml and, signed with the private key, update.sig beside it,
//       valid N days (90 unless given), and the key chain kept beside the key
//       (update.keys) when there is one; every update.exe in the release must
//       carry the signing key. With --rotate-to the release hands over to the
//       new key, which its update.exe must carry: the handover, signed by both
//       keys, joins the chain, written into the release and beside the new key;
//       --revoke names an older key that verifies nothing from then on.
//       Each --previous names an earlier release folder (as makemanifest left
//       it): patches of every changed file from each distinct earlier content,
//       and the changed files compressed alone, are written content-addressed
//       into the "patches" folder beside the release folder (served at
//       ver_root's parent + "/patches"), and the signed delta index update.dlt
//       into the release
//   makemanifest --stamp <folder>\publisher.pub <update.exe>
//       writes the public key into that copy of the updater
//
// The version id is a decimal number or four parts a.b.c.d (as the updater's
// installed version is written). Every file below the folder is listed with
// its size and checksum; a file the updater would refuse stops the tool.
// Exit code 0 done, 1 refused (the reason on stderr), 2 usage.
#include "ManifestWriter.h"
#include "Publisher.h"

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

std::wstring Wide(const std::string& ascii)
{
    return std::wstring(ascii.begin(), ascii.end());
}

int Usage()
{
    Print(stderr, L"usage: makemanifest <release folder> <version id> <ver_root> [description]\n"
                  L"       makemanifest --new-key <folder>\n"
                  L"       makemanifest --key <folder>\\publisher.key [--days N]\n"
                  L"                    [--rotate-to <newfolder>\\publisher.key [--revoke <key id>]...]\n"
                  L"                    [--previous <older release folder>]...\n"
                  L"                    <release folder> <version id> <ver_root> [description]\n"
                  L"       makemanifest --stamp <folder>\\publisher.pub <update.exe>");
    return 2;
}

int Refused(const std::wstring& error)
{
    Print(stderr, L"makemanifest: refused: " + error);
    return 1;
}

std::wstring Folder(const wchar_t* arg)
{
    std::wstring folder = arg;
    while (folder.size() > 3 && (folder.back() == L'\\' || folder.back() == L'/'))
        folder.pop_back();
    return folder;
}

// argv: <release folder> <version id> <ver_root> [description]; no key file: unsigned.
int Release(int argc, wchar_t** argv, const SigningOptions& signing)
{
    const std::wstring& keyFile = signing.keyFile;
    if (argc < 3 || argc > 4)
        return Usage();
    ManifestRelease release;
    if (!ParseVersionId(argv[1], &release.versionId)) {
        Print(stderr, std::wstring(L"makemanifest: bad version id '") + argv[1] + L"' (a number or a.b.c.d)");
        return 2;
    }
    release.verRoot = argv[2];
    if (argc == 4)
        release.description = argv[3];
    std::wstring folder = Folder(argv[0]);

    std::vector<ManifestEntry> entries;
    std::wstring error;
    std::string keyId;
    size_t handovers = 0, patches = 0;
    bool ok = keyFile.empty()
                  ? WriteManifest(folder, release, &entries, &error)
                  : WriteSignedRelease(folder, release, signing, &entries, &keyId, &error, &handovers, &patches);
    if (!ok)
        return Refused(error);
    for (const ManifestEntry& e : entries)
        Print(stdout, e.name + L"  " + std::to_wstring(e.size) + L" bytes  crc " + std::to_wstring(e.crc));
    Print(stdout, L"makemanifest: wrote " + folder + L"\\update.xml (" + std::to_wstring(entries.size()) +
                      L" files, version " + std::to_wstring(release.versionId) + L")");
    if (!keyFile.empty())
        Print(stdout, L"makemanifest: wrote " + folder + L"\\update.sig (signed with key " + Wide(keyId) +
                          L", expires in " + std::to_wstring(signing.days) + L" days: sign again before then)");
    if (!signing.previous.empty())
        Print(stdout, L"makemanifest: wrote " + folder + L"\\update.dlt (" + std::to_wstring(patches) +
                          L" entries from " + std::to_wstring(signing.previous.size()) +
                          L" earlier releases; the patches are in the folder \"patches\" beside the release)");
    if (handovers > 0)
        Print(stdout, L"makemanifest: wrote " + folder + L"\\update.keys (" + std::to_wstring(handovers) +
                          L" key handovers): publish it at the server's root");
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    std::wstring verb = argc > 1 ? argv[1] : L"";
    std::wstring error;
    std::string keyId;
    if (verb == L"--new-key") {
        if (argc != 3)
            return Usage();
        std::wstring folder = Folder(argv[2]);
        if (!NewKeyPair(folder, &keyId, &error))
            return Refused(error);
        Print(stdout, L"makemanifest: wrote " + folder + L"\\publisher.key (private: keep it off the build machine) and " +
                          folder + L"\\publisher.pub, key " + Wide(keyId));
        return 0;
    }
    if (verb == L"--key") {
        if (argc < 4)
            return Usage();
        SigningOptions signing;
        signing.keyFile = argv[2];
        int next = 3;
        for (; next + 1 < argc; next += 2) {
            std::wstring option = argv[next];
            if (option == L"--days") {
                if (!ParseValidityDays(argv[next + 1], &signing.days)) {
                    Print(stderr, std::wstring(L"makemanifest: bad --days '") + argv[next + 1] + L"' (1 to " +
                                      std::to_wstring(kMaxValidityDays) + L")");
                    return 2;
                }
            } else if (option == L"--previous") {
                signing.previous.push_back(Folder(argv[next + 1]));
            } else if (option == L"--rotate-to") {
                signing.rotateTo = argv[next + 1];
            } else if (option == L"--revoke") {
                std::wstring id = argv[next + 1];
                if (id.size() != 16 || id.find_first_not_of(L"0123456789abcdef") != std::wstring::npos) {
                    Print(stderr, L"makemanifest: bad --revoke '" + id + L"' (a key id: 16 lower-case hex digits)");
                    return 2;
                }
                signing.revoke.emplace_back(id.begin(), id.end());
            } else {
                break;
            }
        }
        if ((next < argc && std::wstring(argv[next]).compare(0, 2, L"--") == 0) ||
            (!signing.revoke.empty() && signing.rotateTo.empty()))
            return Usage();
        return Release(argc - next, argv + next, signing);
    }
    if (verb == L"--stamp") {
        if (argc != 4)
            return Usage();
        if (!StampUpdater(argv[2], argv[3], &keyId, &error))
            return Refused(error);
        Print(stdout, std::wstring(L"makemanifest: ") + argv[3] + L" now carries key " + Wide(keyId));
        return 0;
    }
    if (verb.compare(0, 2, L"--") == 0)
        return Usage();
    return Release(argc - 1, argv + 1, SigningOptions());
}
