#include "DownloadThread.h"

#include "Checksum.h"
#include "Log.h"
#include "SafeName.h"
#include "UpdateMessages.h"

std::wstring CDownloadThread::ManifestPath(const std::wstring& installedVersion)
{
    if (installedVersion == L"0.0.0.0")
        return L"/update.xml";
    return L"/" + installedVersion + L"/update.xml";
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
                                         4096) == 0) {
        m_xml.ParseFile((staging + L"\\update.xml").c_str()); // the choice below decides, not the result
        if (VersionInfo* version = UsableVersion()) {
            Post(WM_VERSION_STATUS, 0, version->file_count);
            m_nNextFile = 0;
            m_nState = kHandleFiles;
            return true;
        }
    }
    if (attempt < kAttempts)
        return false;
    Post(WM_VERSION_STATUS, static_cast<WPARAM>(-1), 0);
    return true;
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
    if (m_pDownload->DownloadFile(file.f_name, local.c_str(), static_cast<DWORD>(file.f_size), version.ver_root) != 0)
        return false;
    // A short, damaged or cancelled transfer must never be installed.
    uint32_t sum = 0;
    if (ComputeFileChecksum(local, &sum) && sum == static_cast<uint32_t>(file.f_crc))
        return true;
    UPDATE_LOG(L"Checksum of %ls does not match the manifest, discarded\n", file.f_name);
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
    if (m_pDownload->GetFileChecksum(file->f_name) == static_cast<uint32_t>(file->f_crc)) {
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
