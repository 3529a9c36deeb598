#include "DownloadThread.h"

#include "Checksum.h"
#include "Folders.h"
#include "Handles.h"
#include "ImageResource.h"
#include "KeptParts.h"
#include "Log.h"
#include "SafeName.h"
#include "Settings.h"
#include "UpdateMessages.h"

#include <algorithm>

namespace {

std::wstring ServerPath(const std::wstring& installedVersion, const wchar_t* file)
{
    if (installedVersion == L"0.0.0.0")
        return std::wstring(L"/") + file;
    return L"/" + installedVersion + L"/" + file;
}

} // namespace

std::wstring CDownloadThread::ManifestPath(const std::wstring& installedVersion)
{
    return ServerPath(installedVersion, L"update.xml");
}

std::wstring CDownloadThread::SignaturePath(const std::wstring& installedVersion)
{
    return ServerPath(installedVersion, L"update.sig");
}

std::wstring CDownloadThread::DeltaIndexPath(const std::wstring& installedVersion)
{
    return ServerPath(installedVersion, L"update.dlt");
}

BOOL CDownloadThread::OnThreadMessage(UINT msg, WPARAM, LPARAM)
{
    if (msg != WM_UPDATE_STEP)
        return FALSE;
    OnUpdateStep();
    return TRUE;
}

void CDownloadThread::Report(UINT msg, int code, LPARAM value, const std::wstring& text) const
{
    if (m_pReports)
        m_pReports->Report(WorkerReport{msg, code, value, text});
}

void CDownloadThread::Stop()
{
    if (!m_hThread)
        return;
    {
        // From here on no installation begins (see BeginInstallation).
        std::lock_guard<std::mutex> lock(m_stateLock);
        m_nStop = 1;
    }
    if (m_pDownload)
        m_pDownload->Abort();
    SetThreadPriority(THREAD_PRIORITY_HIGHEST);
    PostThreadMessage(WM_QUIT, 0, 0);
    // Bounded: the engine ends a transfer at once, the stop flag every later
    // step, and an installation that has begun runs to its end.
    ::WaitForSingleObject(m_hThread.Get(), INFINITE);
    // A stopped run continues nothing itself: the staging folder can be
    // emptied, but for a part a later run may continue.
    ReleasePartial();
}

void CDownloadThread::ReleasePartial()
{
    if (m_partial && m_bPartialKept)
        m_partial->Keep();
    m_partial.reset();
    m_bPartialKept = false;
}

bool CDownloadThread::MayKeepPart() const
{
    // Named by its signed hash: only for a keyed run, and for the first of
    // files with the same content (the others get their own staged copies).
    if (!Keyed() || m_nNextFile < 0 || static_cast<size_t>(m_nNextFile) >= m_signed.files.size())
        return false;
    const Sha256Digest& hash = m_signed.files[static_cast<size_t>(m_nNextFile)].sha256;
    for (int i = 0; i < m_nNextFile; ++i)
        if (m_signed.files[static_cast<size_t>(i)].sha256 == hash)
            return false;
    return true;
}

bool CDownloadThread::BeginInstallation()
{
    std::lock_guard<std::mutex> lock(m_stateLock);
    if (m_nStop)
        return false;
    m_nState = kInstalling;
    return true;
}

void CDownloadThread::OnUpdateStep()
{
    if (!m_pDownload || !m_pInstaller)
        return;
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        if (m_nStop)
            return;
        bool over = m_nState == kFetchManifest ? FetchManifest(attempt) : HandleFile(attempt);
        if (over)
            return;
    }
}

bool CDownloadThread::FetchManifest(int attempt)
{
    Report(WM_VERSION_STATUS, 1, 0);
    m_bRefused = m_bBlocked = false;
    m_staged.clear();
    // An install the machine stopped in the middle of goes back to the old
    // files first; a journal that is not this installation's stops the run,
    // and trying again would not make it so.
    if (m_pInstaller->RecoverInterruptedInstall() == CInstaller::Recovery::Refused) {
        Report(WM_VERSION_STATUS, kJournalRefused, 0);
        return true;
    }
    std::wstring staging = m_pInstaller->GetStagingFolder();
    ReleasePartial(); // a part of a file of the manifest fetched before
    m_deltas = DeltaIndex();
    m_bDeltasFetched = false;
    m_nPatchTried = -1;
    // Only what this run downloads and verifies may ever be installed: what an
    // interrupted run left in the staging folder goes before anything else,
    // but for the parts a keyed run may continue (each verified by its hash).
    m_pInstaller->DeleteTree(staging, Keyed() ? CKeptParts::kFolder : nullptr);
    std::string manifest;
    if (!::CreateDirectoryW(staging.c_str(), nullptr) && !(Keyed() && IsPlainFolder(staging))) {
        UPDATE_LOG(L"Could not empty the staging folder %ls, ErrorCode = %d\n", staging.c_str(),
                   static_cast<int>(::GetLastError()));
        m_bBlocked = true;
    } else if (m_pDownload->DownloadToMemory(ManifestPath(m_strVersion).c_str(), &manifest, CXmlInfo::kMaxManifest) ==
               0) {
        // Keyed: the parser sees no byte that the publisher did not sign.
        // Read once: the bytes parsed are the bytes whose hash was compared.
        if (!Keyed() || CheckSignature(manifest)) {
            if (Keyed())
                CKeptParts(staging).Prune(m_signed.files); // parts of files this release does not sign go
            m_xml.ParseReceived(manifest); // the choice below decides, not the result
            if (!Keyed()) // travels into the installation, as it always has
                WriteWholeFile(staging + L"\\update.xml", manifest.data(), manifest.size(), false);
            VersionInfo* version = UsableVersion();
            if (version && (!Keyed() || CheckSignedVersion(*version))) {
                Report(WM_VERSION_STATUS, 0, version->file_count);
                m_nNextFile = 0;
                m_nState = kHandleFiles;
                return true;
            }
        }
    }
    if (attempt < kAttempts)
        return false;
    Report(WM_VERSION_STATUS, Failure(), 0);
    return true;
}

bool CDownloadThread::CheckSignature(const std::string& manifest)
{
    std::wstring problem = SignatureProblem(manifest);
    if (!problem.empty())
        UPDATE_LOG(L"Signature check failed: %ls\n", problem.c_str());
    return problem.empty();
}

bool CDownloadThread::CheckSignedVersion(const VersionInfo& version)
{
    std::wstring problem = SignedVersionProblem(version);
    if (!problem.empty()) {
        UPDATE_LOG(L"Signature check failed: %ls\n", problem.c_str());
        return false;
    }
    UPDATE_LOG(L"Signature verified: release %u, %u files, signed with key %hs\n",
               static_cast<unsigned>(m_signed.versionId), static_cast<unsigned>(m_signed.files.size()),
               m_key.id.c_str());
    return true;
}

std::wstring CDownloadThread::SignatureProblem(const std::string& manifest)
{
    // From here on every problem is a refusal, but for a signature that did not arrive.
    m_bRefused = true;
    if (m_key.state != KeyState::Usable)
        return L"the publisher key stamped into this updater is not a public key file";
    std::wstring remote = SignaturePath(m_strVersion);
    std::string bytes;
    int received = m_pDownload->DownloadToMemory(remote.c_str(), &bytes, kMaxSignatureFile);
    if (received != 0) {
        m_bRefused = received == CDownload::kTooLong;
        return L"the signature file " + remote + L" is missing, could not be read, or is larger than " +
               std::to_wstring(kMaxSignatureFile) + L" bytes";
    }
    m_trusted = TrustedKeys();
    SignedRelease release;
    std::wstring problem = m_trusted.VerifySignature(bytes, &release);
    if (!problem.empty())
        return problem;
    // A signature replayed after its time would keep clients on a replaced release.
    FILETIME now = {};
    ::GetSystemTimeAsFileTime(&now);
    problem = ExpiryProblem(release, (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
    if (!problem.empty())
        return problem;
    Sha256Digest manifestSha256{};
    if (!Sha256(manifest.data(), manifest.size(), &manifestSha256))
        return L"SHA-256 is not available (bcrypt.dll)";
    if (manifestSha256 != release.manifestSha256)
        return L"the manifest is not the signed one";
    m_signed = std::move(release);
    m_signature = std::move(bytes);
    return std::wstring();
}

std::wstring CDownloadThread::SignedVersionProblem(const VersionInfo& version)
{
    m_bRefused = true;
    // Never below the installed release, and at its version only that release.
    const SignedRelease installed = InstalledRecord();
    const uint32_t lowest = std::max(VersionNumber(m_strVersion), installed.versionId);
    std::wstring problem = CompareWithSigned(m_signed, m_signed.manifestSha256 /* the received one's, see SignatureProblem */, version, lowest);
    if (problem.empty() && installed.versionId != 0 && m_signed.versionId == installed.versionId &&
        m_signed.manifestSha256 != installed.manifestSha256)
        problem = L"the signed release is another one of the installed version " +
                  std::to_wstring(installed.versionId) + L": no rollback";
    return problem;
}

SignedRelease CDownloadThread::InstalledRecord() const
{
    std::string bytes;
    SignedRelease record;
    const std::wstring path = std::wstring(m_pInstaller->GetProgramFolder()) + L"\\" + kInstalledRecord;
    // Never read through a link: whoever made it chose what it says.
    if (IsLink(path)) {
        UPDATE_LOG(L"The installed release's signature is a link: not used\n");
        return SignedRelease();
    }
    if (!ReadSmallFile(path, kMaxSignatureFile, &bytes))
        return SignedRelease(); // none yet: only the settings' version counts
    // Verified again each time; whether it has expired since does not matter.
    // A key that handed over still vouches for what it signed before.
    std::wstring problem = m_trusted.VerifySignature(bytes, &record);
    if (!problem.empty()) {
        UPDATE_LOG(L"The installed release's signature is not used: %ls\n", problem.c_str());
        return SignedRelease();
    }
    return record;
}

bool CDownloadThread::StageRecords()
{
    // Placed with the release's files, in the same journalled install: a run
    // never reports success without them, and a half-written one never
    // stands. The chain goes with the record: a record signed by a key that
    // handed over verifies only with it.
    const std::wstring staging = m_pInstaller->GetStagingFolder();
    auto stage = [&](const wchar_t* name, const std::string& bytes) {
        auto file = std::make_unique<CStagedFile>();
        if (!file->Create(staging, staging + L"\\" + name) || !file->Write(bytes.data(), bytes.size())) {
            UPDATE_LOG(L"Could not stage %ls, ErrorCode = %d\n", name, static_cast<int>(::GetLastError()));
            return false;
        }
        m_staged.emplace_back(std::wstring(L"/") + name, std::move(file));
        return true;
    };
    return stage(kInstalledRecord, m_signature) && (m_keyChainToKeep.empty() || stage(kKeyChain, m_keyChainToKeep));
}

CKeyRing CDownloadThread::TrustedKeys()
{
    m_keyChainToKeep.clear();
    std::string local, server;
    // Never read through a link: whoever made it chose what it says.
    const std::wstring kept = std::wstring(m_pInstaller->GetProgramFolder()) + L"\\" + kKeyChain;
    if (!IsLink(kept))
        ReadSmallFile(kept, kMaxKeyChainFile, &local);
    if (m_pDownload->DownloadToMemory(kKeyChainPath, &server, kMaxKeyChainFile) != 0)
        server.clear(); // none published, or none to be had: the kept one stands
    KeyChainChoice choice = ChooseKeyChain(m_key.key, local, server);
    for (const std::wstring& why : choice.ignored)
        UPDATE_LOG(L"Key chain not followed: %ls\n", why.c_str());
    if (choice.links.size() > choice.localLinks)
        m_keyChainToKeep = server;
    CKeyRing keys(m_key.key, choice.links);
    if (!choice.links.empty())
        UPDATE_LOG(L"Following %u key handovers: the newest key is %hs\n", static_cast<unsigned>(choice.links.size()),
                   keys.NewestId().c_str());
    return keys;
}

bool CDownloadThread::InstalledIsCurrent(const FileInfo& file)
{
    if (!Keyed())
        return m_pInstaller->GetFileChecksum(file.f_name) == static_cast<uint32_t>(file.f_crc);
    // The signed content, not merely a matching sum: two swapped words keep the sum.
    const SignedFile& listed = m_signed.files[static_cast<size_t>(m_nNextFile)];
    uint64_t size = 0;
    m_bInstalledKnown =
        Sha256File(LocalPathOf(m_pInstaller->GetProgramFolder(), file.f_name), &m_installedSha256, &size);
    return m_bInstalledKnown && size == listed.size && m_installedSha256 == listed.sha256;
}

const DeltaIndex& CDownloadThread::Deltas()
{
    if (m_bDeltasFetched)
        return m_deltas;
    m_bDeltasFetched = true;
    // No index, or none of this release signed by the release's key: every
    // file travels whole, as it always has.
    std::string bytes;
    const std::wstring remote = DeltaIndexPath(m_strVersion);
    if (m_pDownload->DownloadToMemory(remote.c_str(), &bytes, kMaxDeltaIndex) != 0)
        return m_deltas;
    const std::string id = SignatureKeyId(bytes);
    P256PublicKey key{};
    DeltaIndex index;
    std::wstring problem;
    if (id.empty() || id != SignatureKeyId(m_signature) || !m_trusted.UsableKey(id, &key))
        problem = L"it is not signed with the release's key";
    else
        problem = VerifyDeltaIndex(bytes, key, &index);
    if (problem.empty() && index.manifestSha256 != m_signed.manifestSha256)
        problem = L"it belongs to another manifest";
    if (!problem.empty()) {
        UPDATE_LOG(L"Delta index not used: %ls\n", problem.c_str());
        return m_deltas;
    }
    m_deltas = std::move(index);
    return m_deltas;
}

bool CDownloadThread::DownloadPatched(const FileInfo& file, const std::wstring& staging, const std::wstring& local)
{
    const SignedFile& listed = m_signed.files[static_cast<size_t>(m_nNextFile)];
    if (listed.size > kMaxPatchedFile)
        return false;
    const DeltaEntry* entry = ChooseDelta(Deltas(), listed.sha256, m_bInstalledKnown ? &m_installedSha256 : nullptr);
    if (!entry || entry->patchSize > kMaxPatchedFile || (entry->hasSource && entry->sourceSize > kMaxPatchedFile))
        return false;
    std::wstring problem;
    // The installed content read once: the bytes hashed are the bytes the
    // patch is applied to.
    std::string source, patch;
    Sha256Digest digest{};
    if (entry->hasSource &&
        (!ReadSmallFile(LocalPathOf(m_pInstaller->GetProgramFolder(), file.f_name), entry->sourceSize, &source) ||
         source.size() != entry->sourceSize || !::Sha256(source.data(), source.size(), &digest) ||
         digest != entry->source))
        problem = L"the installed file is no longer the patch's source";
    // No byte beyond its signed size, and not one decoded before its hash is the signed one.
    else if (m_pDownload->DownloadToMemory(std::wstring(entry->path.begin(), entry->path.end()).c_str(), &patch,
                                           entry->patchSize) != 0)
        problem = L"the patch could not be fetched";
    else if (patch.size() != entry->patchSize || !::Sha256(patch.data(), patch.size(), &digest) ||
             digest != entry->patch)
        problem = L"the patch is not the signed one";
    auto staged = std::make_unique<CStagedFile>();
    if (problem.empty() && !staged->Create(staging, local, CStagedFile::Digest::Sha256))
        problem = L"the staging folder holds a link on its way";
    if (problem.empty())
        problem = ApplyPatch(*entry, source, patch, listed.size, *staged);
    bool mismatch = false;
    if (!problem.empty()) {
        UPDATE_LOG(L"Patch for %ls not used: %ls; the whole file follows\n", file.f_name, problem.c_str());
        return false;
    }
    if (!Verify(file, *staged, &mismatch)) {
        UPDATE_LOG(L"Patch for %ls not used: its result is not the signed file; the whole file follows\n",
                   file.f_name);
        return false;
    }
    UPDATE_LOG(L"Patched %ls (%hs): %u bytes fetched for %u\n", file.f_name, entry->method.c_str(),
               static_cast<unsigned>(patch.size()), static_cast<unsigned>(listed.size));
    m_staged.emplace_back(file.f_name, std::move(staged));
    return true;
}

bool CDownloadThread::DownloadVerified(const VersionInfo& version, const FileInfo& file)
{
    std::wstring staging = m_pInstaller->GetStagingFolder();
    std::wstring local = LocalPathOf(staging, file.f_name);
    // Every missing folder on the way, the staging folder included: another
    // program may have removed it since the manifest was fetched.
    for (size_t i = staging.size(); i < local.size(); ++i)
        if (local[i] == L'\\')
            ::CreateDirectoryW(local.substr(0, i).c_str(), nullptr);
    // Keyed: no byte beyond the signed size. Unsigned, the manifest's size is
    // all there is, and a hand-written one may be a little off: twice it and
    // a megabyte more is room for any honest mistake, and a bound on what a
    // server can write to the disk.
    const uint64_t signedSize = Keyed() ? m_signed.files[static_cast<size_t>(m_nNextFile)].size : 0;
    const uint64_t bound =
        Keyed() ? signedSize : 2 * static_cast<uint64_t>(file.f_size > 0 ? file.f_size : 0) + (1u << 20);
    if (m_nPartialFile != m_nNextFile)
        ReleasePartial();
    // A patch first, once per file, unless a cut transfer of it waits to
    // continue in this run (a part kept by an earlier run goes once the
    // release is installed).
    if (Keyed() && !m_partial && m_nPatchTried != m_nNextFile) {
        m_nPatchTried = m_nNextFile;
        if (DownloadPatched(file, staging, local))
            return true;
    }
    const CKeptParts parts(staging);
    const Sha256Digest* hash = Keyed() ? &m_signed.files[static_cast<size_t>(m_nNextFile)].sha256 : nullptr;
    // A transfer that was cut off continues; should the whole then not be
    // the file (the server joined two contents), one clean transfer follows.
    for (int pass = 0; pass < 2; ++pass) {
        if (!m_partial) {
            // Hashed (keyed) or summed as it is written, through a handle no
            // other program can write or delete through, and installed
            // through that same handle (keyed) or closed once it verified.
            // Keyed, it lies among the kept parts, where a later run finds
            // what this one could not finish.
            const CStagedFile::Digest digest = Keyed() ? CStagedFile::Digest::Sha256 : CStagedFile::Digest::Checksum;
            m_partial = std::make_unique<CStagedFile>();
            m_resume = CResumeState();
            m_nPartialFile = m_nNextFile;
            m_bPartialKept = pass == 0 && MayKeepPart() && parts.Prepare();
            const std::wstring path = m_bPartialKept ? parts.PathOf(*hash) : local;
            if (m_bPartialKept && parts.Load(*hash, signedSize, &m_resume) &&
                m_partial->Continue(staging, path, digest, signedSize)) {
                UPDATE_LOG(L"Continuing %ls from byte %llu, where an earlier run was cut off\n", file.f_name,
                           static_cast<unsigned long long>(m_partial->Size()));
            } else {
                m_resume = CResumeState();
                if (!m_partial->Create(staging, path, digest)) {
                    UPDATE_LOG(L"Download of %ls refused: the staging folder holds a link on its way\n", file.f_name);
                    ReleasePartial();
                    return false;
                }
            }
        }
        const bool resumed = m_partial->Size() > 0;
        const int result = m_pDownload->DownloadTo(file.f_name, *m_partial, static_cast<DWORD>(file.f_size),
                                                   version.ver_root, bound, &m_resume, signedSize);
        if (result != 0 || m_resume.Cut(m_partial->Size())) {
            // A part of a file is no file of this release: never installed,
            // kept only for the next attempt (or run) to continue, and gone
            // with its handle when none will.
            if (result == CDownload::kTooLong || m_partial->Size() == 0 || m_resume.validator.empty() ||
                (m_bPartialKept && !parts.Save(*hash, m_resume))) {
                const bool wasKept = m_bPartialKept;
                m_bPartialKept = false;
                ReleasePartial();
                if (wasKept)
                    parts.Drop(*hash); // its state too: nothing of it to continue
            }
            return false;
        }
        if (m_bPartialKept)
            parts.Forget(*hash); // whole now: verified below, then staged or gone
        bool mismatch = false;
        if (Verify(file, *m_partial, &mismatch)) {
            if (Keyed())
                m_staged.emplace_back(file.f_name, std::move(m_partial));
            else
                m_partial->Keep(); // the unkeyed install takes the staged tree by its paths
            m_partial.reset();
            m_bPartialKept = false;
            return true;
        }
        m_bPartialKept = false;
        ReleasePartial(); // deleted with its handle
        if (!resumed || !mismatch)
            return false;
        UPDATE_LOG(L"%ls did not verify after a resumed transfer: once more from its first byte\n", file.f_name);
    }
    return false;
}

bool CDownloadThread::Verify(const FileInfo& file, CStagedFile& staged, bool* mismatch)
{
    *mismatch = true;
    if (!Keyed()) {
        // A short, damaged or cancelled transfer must never be installed.
        if (staged.Checksum() == static_cast<uint32_t>(file.f_crc))
            return true;
        UPDATE_LOG(L"Checksum of %ls does not match the manifest, discarded\n", file.f_name);
        return false;
    }
    const SignedFile& listed = m_signed.files[static_cast<size_t>(m_nNextFile)];
    Sha256Digest digest{};
    if (!staged.Sha256(&digest)) {
        *mismatch = false;
        UPDATE_LOG(L"Download of %ls refused: SHA-256 is not available\n", file.f_name);
    } else if (staged.Size() != listed.size) {
        UPDATE_LOG(L"Download of %ls refused: %llu bytes, signed %u\n", file.f_name,
                   static_cast<unsigned long long>(staged.Size()), static_cast<unsigned>(listed.size));
    } else if (digest != listed.sha256) {
        UPDATE_LOG(L"Download of %ls refused: its SHA-256 is not the signed one\n", file.f_name);
    } else if (!CarriesUsableKey(file, staged)) {
        *mismatch = false;
        m_bRefused = true;
        UPDATE_LOG(L"Download of %ls refused: a replacement of this updater that carries no usable key\n",
                   file.f_name);
    } else {
        return true;
    }
    return false;
}

namespace {

// Volume and file index: the same file whatever path names it (an 8.3
// name, another letter case, a hard link). False when it cannot be opened.
bool FileIdentity(const std::wstring& path, BY_HANDLE_FILE_INFORMATION* info)
{
    CFileHandle file(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return file && ::GetFileInformationByHandle(file.Get(), info);
}

} // namespace

bool CDownloadThread::CarriesUsableKey(const FileInfo& file, const CStagedFile& staged) const
{
    std::wstring own = m_strOwnProgram;
    if (own.empty()) {
        wchar_t path[MAX_PATH] = {};
        DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
        own.assign(path, n < MAX_PATH ? n : 0);
    }
    // By identity, not by spelling: a path compared as text misses an 8.3
    // name or a hard link of the running updater.
    BY_HANDLE_FILE_INFORMATION mine = {}, installed = {};
    if (!FileIdentity(own, &mine) ||
        !FileIdentity(LocalPathOf(m_pInstaller->GetProgramFolder(), file.f_name), &installed) ||
        mine.dwVolumeSerialNumber != installed.dwVolumeSerialNumber ||
        mine.nFileIndexHigh != installed.nFileIndexHigh || mine.nFileIndexLow != installed.nFileIndexLow)
        return true; // not this updater
    // An updater without a key would take any release from its next run on,
    // one with a superseded key none after its handover.
    std::string image;
    return staged.ReadAll(&image, 256u << 20) && m_trusted.MayCarry(PublisherKeyOfImage(image));
}

VersionInfo* CDownloadThread::UsableVersion()
{
    VersionInfo* version = m_xml.GetLatestVersion();
    if (version && version->ver_root_cut) {
        UPDATE_LOG(L"Version %u has a cut ver_root: not usable\n", static_cast<unsigned>(version->ver_id));
        return nullptr;
    }
    return version;
}

bool CDownloadThread::HandleFile(int attempt)
{
    VersionInfo* version = UsableVersion();
    if (!version) {
        if (attempt < kAttempts) {
            m_nState = kFetchManifest;
            return false;
        }
        Report(WM_VERSION_STATUS, -1, 0);
        return true;
    }
    if (m_nNextFile >= version->file_count) {
        if (!BeginInstallation())
            return true;
        // Keyed: exactly the files verified in this run, nothing else that lies
        // in the staging folder, and the release recorded as installed in
        // the same install.
        CInstaller::InstallFailure failure;
        bool installed = false;
        if (!Keyed()) {
            installed = m_pInstaller->InstallFiles(&failure);
        } else if (!StageRecords()) {
            failure.kind = CInstaller::InstallProblem::Failed;
            failure.path = std::wstring(m_pInstaller->GetProgramFolder()) + L"\\" + kInstalledRecord;
        } else {
            installed = m_pInstaller->InstallStaged(m_staged, &failure);
        }
        m_staged.clear();
        if (!installed) {
            // Nothing changed; another attempt begins with the manifest again.
            m_nState = kFetchManifest;
            const int code = failure.kind == CInstaller::InstallProblem::InUse        ? kInUse
                             : failure.kind == CInstaller::InstallProblem::Unplaceable ? kUnplaceable
                                                                                      : kWriteFailed;
            Report(WM_FILE_STATUS, code, 0, failure.path);
            return true;
        }
        m_nState = kFinished;
        m_pInstaller->DeleteTree(CKeptParts(m_pInstaller->GetStagingFolder()).Folder()); // nothing left to continue
        Report(WM_COMMAND, IDOK, 0);
        return true;
    }
    FileInfo* file = version->GetFile(m_nNextFile);
    const std::wstring name = file->f_name;
    Report(WM_FILE_STATUS, 1, 0, name);

    // A name that would leave the program folder fails at once, without any
    // network or file access.
    if (!IsSafeFileName(file->f_name, m_pInstaller->GetStagingFolder())) {
        UPDATE_LOG(L"Refused unsafe file name in the manifest: %ls\n", file->f_name);
        Report(WM_FILE_STATUS, -1, 0, name);
        return true;
    }
    m_bRefused = false;
    if (InstalledIsCurrent(*file)) {
        // Installed file is current; the pause lets the overall bar visibly advance.
        ::Sleep(kUnchangedPauseMs);
    } else if (!DownloadVerified(*version, *file)) {
        if (attempt < kAttempts)
            return false;
        Report(WM_FILE_STATUS, Failure(), 0, name);
        return true;
    }
    file->done = 1;
    ++m_nNextFile;
    Report(WM_FILE_STATUS, 0, m_nNextFile);
    return true;
}
