#include "DownloadThread.h"

#include "Checksum.h"
#include "Log.h"
#include "SafeName.h"
#include "Settings.h"
#include "UpdateMessages.h"

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

BOOL CDownloadThread::OnThreadMessage(UINT msg, WPARAM, LPARAM)
{
    if (msg != WM_UPDATE_STEP)
        return FALSE;
    OnUpdateStep();
    return TRUE;
}

void CDownloadThread::Post(UINT msg, WPARAM wp, LPARAM lp) const
{
    if (m_hTargetWnd)
        ::PostMessageW(m_hTargetWnd, msg, wp, lp);
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
    ::WaitForSingleObject(m_hThread, INFINITE);
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
    if (!m_pDownload)
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
    Post(WM_VERSION_STATUS, 1, 0);
    std::wstring staging = m_pDownload->GetStagingFolder();
    // Only what this run downloads and verifies may ever be installed: what an
    // interrupted run left in the staging folder goes before anything else.
    m_pDownload->DeleteTree(staging);
    if (!::CreateDirectoryW(staging.c_str(), nullptr)) {
        UPDATE_LOG(L"Could not empty the staging folder %ls, ErrorCode = %d\n", staging.c_str(),
                   static_cast<int>(::GetLastError()));
    } else if (m_pDownload->DownloadFile(ManifestPath(m_strVersion).c_str(), (staging + L"\\update.xml").c_str(),
                                         4096, L"", CXmlInfo::kMaxManifest) == 0) {
        m_xml.ParseFile((staging + L"\\update.xml").c_str()); // the choice below decides, not the result
        VersionInfo* version = UsableVersion();
        if (version && (!Keyed() || CheckSignedRelease(*version))) {
            Post(WM_VERSION_STATUS, 0, version->file_count);
            m_nNextFile = 0;
            m_verified.clear();
            m_nState = kHandleFiles;
            return true;
        }
    }
    if (attempt < kAttempts)
        return false;
    Post(WM_VERSION_STATUS, static_cast<WPARAM>(-1), 0);
    return true;
}

bool CDownloadThread::CheckSignedRelease(const VersionInfo& version)
{
    std::wstring problem = SignedReleaseProblem(version);
    if (!problem.empty()) {
        UPDATE_LOG(L"Signature check failed: %ls\n", problem.c_str());
        return false;
    }
    UPDATE_LOG(L"Signature verified: release %u, %u files, signed with key %hs\n",
               static_cast<unsigned>(m_signed.versionId), static_cast<unsigned>(m_signed.files.size()),
               m_key.id.c_str());
    return true;
}

std::wstring CDownloadThread::SignedReleaseProblem(const VersionInfo& version)
{
    if (m_key.state != KeyState::Usable)
        return L"the publisher key stamped into this updater is not a public key file";
    std::wstring staging = m_pDownload->GetStagingFolder();
    std::wstring local = staging + L"\\update.sig", remote = SignaturePath(m_strVersion);
    std::string bytes;
    bool fetched = m_pDownload->DownloadFile(remote.c_str(), local.c_str(), 4096, L"", kMaxSignatureFile) == 0 &&
                   ReadSmallFile(local, kMaxSignatureFile, &bytes);
    // Read whole into memory: the file itself is never installed.
    ::DeleteFileW(local.c_str());
    if (!fetched)
        return L"the signature file " + remote + L" is missing, could not be read, or is larger than " +
               std::to_wstring(kMaxSignatureFile) + L" bytes";
    SignedRelease release;
    std::wstring problem = VerifySignatureFile(bytes, m_key.key, &release);
    if (!problem.empty())
        return problem;
    Sha256Digest manifest{};
    if (!Sha256File(staging + L"\\update.xml", &manifest, nullptr))
        return L"the manifest just fetched cannot be read again";
    problem = CompareWithSigned(release, manifest, version, VersionNumber(m_strVersion));
    if (problem.empty())
        m_signed = std::move(release);
    return problem;
}

bool CDownloadThread::InstalledIsCurrent(const FileInfo& file)
{
    if (!Keyed())
        return m_pDownload->GetFileChecksum(file.f_name) == static_cast<uint32_t>(file.f_crc);
    // The signed content, not merely a matching sum: two swapped words keep the sum.
    const SignedFile& listed = m_signed.files[static_cast<size_t>(m_nNextFile)];
    Sha256Digest digest{};
    uint64_t size = 0;
    return Sha256File(LocalPathOf(m_pDownload->GetProgramFolder(), file.f_name), &digest, &size) &&
           size == listed.size && digest == listed.sha256;
}

bool CDownloadThread::DownloadVerified(const VersionInfo& version, const FileInfo& file)
{
    std::wstring staging = m_pDownload->GetStagingFolder();
    std::wstring local = LocalPathOf(staging, file.f_name);
    // Every missing folder on the way, the staging folder included: another
    // program may have removed it since the manifest was fetched.
    for (size_t i = staging.size(); i < local.size(); ++i)
        if (local[i] == L'\\')
            ::CreateDirectoryW(local.substr(0, i).c_str(), nullptr);
    const SignedFile* listed = Keyed() ? &m_signed.files[static_cast<size_t>(m_nNextFile)] : nullptr;
    // Unsigned, the manifest's size is all there is, and a hand-written one
    // may be a little off: twice it and a megabyte more is room for any
    // honest mistake, and a bound on what a server can write to the disk.
    const uint64_t bound =
        listed ? listed->size : 2 * static_cast<uint64_t>(file.f_size > 0 ? file.f_size : 0) + (1u << 20);
    if (m_pDownload->DownloadFile(file.f_name, local.c_str(), static_cast<DWORD>(file.f_size), version.ver_root,
                                  bound) != 0) {
        if (listed)
            ::DeleteFileW(local.c_str()); // a part of a file is no file of this release
        return false;
    }
    // A short, damaged or cancelled transfer must never be installed.
    if (listed) {
        Sha256Digest digest{};
        uint64_t size = 0;
        if (!Sha256File(local, &digest, &size))
            UPDATE_LOG(L"Download of %ls refused: cannot be read back\n", file.f_name);
        else if (size != listed->size)
            UPDATE_LOG(L"Download of %ls refused: %llu bytes, signed %u\n", file.f_name,
                       static_cast<unsigned long long>(size), static_cast<unsigned>(listed->size));
        else if (digest != listed->sha256)
            UPDATE_LOG(L"Download of %ls refused: its SHA-256 is not the signed one\n", file.f_name);
        else {
            m_verified.push_back(file.f_name);
            return true;
        }
    } else {
        uint32_t sum = 0;
        if (ComputeFileChecksum(local, &sum) && sum == static_cast<uint32_t>(file.f_crc))
            return true;
        UPDATE_LOG(L"Checksum of %ls does not match the manifest, discarded\n", file.f_name);
    }
    ::DeleteFileW(local.c_str());
    return false;
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
        Post(WM_VERSION_STATUS, static_cast<WPARAM>(-1), 0);
        return true;
    }
    if (m_nNextFile >= version->file_count) {
        if (!BeginInstallation())
            return true;
        // Keyed: exactly the files verified in this run, nothing else that lies in the staging folder.
        if (Keyed())
            m_pDownload->InstallListed(m_verified);
        else
            m_pDownload->InstallFiles();
        m_nState = kFinished;
        Post(WM_COMMAND, IDOK, 0);
        return true;
    }
    FileInfo* file = version->GetFile(m_nNextFile);
    LPARAM name = reinterpret_cast<LPARAM>(file->f_name);
    Post(WM_FILE_STATUS, 1, name);

    // A name that would leave the program folder fails at once, without any
    // network or file access.
    if (!IsSafeFileName(file->f_name, m_pDownload->GetStagingFolder())) {
        UPDATE_LOG(L"Refused unsafe file name in the manifest: %ls\n", file->f_name);
        Post(WM_FILE_STATUS, static_cast<WPARAM>(-1), name);
        return true;
    }
    if (InstalledIsCurrent(*file)) {
        // Installed file is current; the pause lets the overall bar visibly advance.
        ::Sleep(kUnchangedPauseMs);
    } else if (!DownloadVerified(*version, *file)) {
        if (attempt < kAttempts)
            return false;
        Post(WM_FILE_STATUS, static_cast<WPARAM>(-1), name);
        return true;
    }
    file->done = 1;
    ++m_nNextFile;
    Post(WM_FILE_STATUS, 0, m_nNextFile);
    return true;
}
