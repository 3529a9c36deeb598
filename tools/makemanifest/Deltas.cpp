#include "Deltas.h"

#include "Handles.h"
#include "SafeName.h"
#include "XmlInfo.h"

#include <zstd.h>

#include <map>
#include <memory>
#include <set>

namespace {

struct CCtxDeleter {
    void operator()(ZSTD_CCtx* c) const { ZSTD_freeCCtx(c); }
};

// Level 19: a release is compressed once and fetched by every client.
constexpr int kLevel = 19;

std::wstring ParentOf(const std::wstring& folder)
{
    size_t slash = folder.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring(L".") : folder.substr(0, slash);
}

bool WritePatchFile(const std::wstring& path, const std::string& bytes)
{
    // Content-addressed: one already there holds these bytes (or is replaced by them).
    std::string existing;
    if (ReadSmallFile(path, bytes.size(), &existing) && existing == bytes)
        return true;
    return WriteWholeFile(path, bytes.data(), bytes.size(), false);
}

} // namespace

bool MakePatch(const std::string& source, const std::string& result, bool withSource, std::string* patch)
{
    std::unique_ptr<ZSTD_CCtx, CCtxDeleter> cctx(ZSTD_createCCtx());
    if (!cctx)
        return false;
    // The window the updater allows for these sizes, so that every match
    // into the source reaches it.
    size_t r = ZSTD_CCtx_setParameter(cctx.get(), ZSTD_c_compressionLevel, kLevel);
    if (!ZSTD_isError(r))
        r = ZSTD_CCtx_setParameter(cctx.get(), ZSTD_c_windowLog,
                                   PatchWindowLog(withSource ? source.size() : 0, result.size()));
    if (!ZSTD_isError(r) && withSource)
        r = ZSTD_CCtx_refPrefix(cctx.get(), source.data(), source.size());
    if (ZSTD_isError(r))
        return false;
    patch->resize(ZSTD_compressBound(result.size()));
    r = ZSTD_compress2(cctx.get(), &(*patch)[0], patch->size(), result.data(), result.size());
    if (ZSTD_isError(r))
        return false;
    patch->resize(r);
    return true;
}

bool ReadPreviousRelease(const std::wstring& folder, PreviousRelease* release, std::wstring* error)
{
    std::string xml;
    CXmlInfo info;
    VersionInfo* version = nullptr;
    if (!ReadSmallFile(folder + L"\\update.xml", CXmlInfo::kMaxManifest, &xml) || info.ParseReceived(xml) != 0 ||
        !(version = info.GetLatestVersion())) {
        *error = L"--previous " + folder + L" is not a release: it has no update.xml with a version";
        return false;
    }
    release->folder = folder;
    release->names.clear();
    for (int i = 0; i < version->file_count; ++i) {
        const FileInfo* f = version->GetFile(i);
        if (!f || ::GetFileAttributesW(LocalPathOf(folder, f->f_name).c_str()) == INVALID_FILE_ATTRIBUTES) {
            *error = L"--previous " + folder + L" is not a release: its update.xml lists " +
                     (f ? f->f_name : L"a file") + L", which is not there";
            return false;
        }
        release->names.push_back(f->f_name);
    }
    return true;
}

bool PatchServerFolder(const std::wstring& verRoot, std::string* serverFolder, std::wstring* error)
{
    size_t slash = verRoot.find_last_of(L'/');
    if (verRoot.empty() || slash == std::wstring::npos) {
        *error = L"--previous needs a ver_root below the server's root: patches are published beside the release, "
                 L"outside it";
        return false;
    }
    std::string folder;
    for (wchar_t c : verRoot.substr(0, slash)) {
        if (c > 0x7E || c < 0x21) {
            *error = L"--previous needs a ver_root of printable ASCII: " + verRoot;
            return false;
        }
        folder += static_cast<char>(c);
    }
    *serverFolder = folder + "/patches";
    return true;
}

bool WritePatches(const std::wstring& folder, const std::string& serverFolder, const SignedRelease& release,
                  const std::vector<PreviousRelease>& previous, DeltaIndex* index, std::wstring* error)
{
    const std::wstring patches = ParentOf(folder) + L"\\patches";
    ::CreateDirectoryW(patches.c_str(), nullptr);
    auto add = [&](const std::string& method, const std::string* source, const Sha256Digest& sourceSha,
                   const SignedFile& file, const std::string& patch) {
        DeltaEntry e;
        e.method = method;
        e.hasSource = source != nullptr;
        if (source) {
            e.sourceSize = static_cast<uint32_t>(source->size());
            e.source = sourceSha;
        }
        e.result = file.sha256;
        e.patchSize = static_cast<uint32_t>(patch.size());
        if (!Sha256(patch.data(), patch.size(), &e.patch)) {
            *error = L"SHA-256 is not available (bcrypt.dll)";
            return false;
        }
        const std::string hex = ToHex(e.patch.data(), e.patch.size());
        e.path = serverFolder + "/" + hex + ".zst";
        if (!WritePatchFile(patches + L"\\" + std::wstring(hex.begin(), hex.end()) + L".zst", patch)) {
            *error = L"cannot write a patch into " + patches;
            return false;
        }
        index->entries.push_back(e);
        return true;
    };
    for (const SignedFile& file : release.files) {
        if (file.size > kMaxPatchedFile)
            continue; // the updater fetches such a file whole
        std::string result;
        if (!ReadSmallFile(LocalPathOf(folder, file.name), file.size, &result) || result.size() != file.size) {
            *error = L"cannot read " + file.name + L" again";
            return false;
        }
        // Every distinct earlier content of the same name that is not this one.
        std::set<Sha256Digest> seen = {file.sha256};
        bool changed = false;
        for (const PreviousRelease& p : previous) {
            bool listed = false;
            for (const std::wstring& n : p.names)
                listed = listed || ::CompareStringOrdinal(n.c_str(), -1, file.name.c_str(), -1, TRUE) == CSTR_EQUAL;
            std::string source;
            Sha256Digest sourceSha{};
            if (!listed) {
                changed = true;
                continue;
            }
            if (!ReadSmallFile(LocalPathOf(p.folder, file.name), kMaxPatchedFile, &source) ||
                !Sha256(source.data(), source.size(), &sourceSha)) {
                *error = L"cannot read " + file.name + L" of " + p.folder;
                return false;
            }
            if (!seen.insert(sourceSha).second)
                continue;
            changed = true;
            std::string patch;
            if (!MakePatch(source, result, true, &patch)) {
                *error = L"zstd could not make a patch of " + file.name;
                return false;
            }
            if (patch.size() < result.size() && !add(kPatchFromMethod, &source, sourceSha, file, patch))
                return false;
        }
        if (!changed)
            continue;
        std::string packed;
        if (!MakePatch(std::string(), result, false, &packed)) {
            *error = L"zstd could not compress " + file.name;
            return false;
        }
        if (packed.size() < result.size() && !add(kCompressedMethod, nullptr, Sha256Digest{}, file, packed))
            return false;
    }
    return true;
}
