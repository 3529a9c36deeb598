// The update procedure, one step per WM_UPDATE_STEP, on a worker thread:
// fetch the manifest, then one listed file per step, then install.
#pragma once

#include "App.h"
#include "Download.h"
#include "XmlInfo.h"

#include <mutex>
#include <string>

class CDownloadThread : public CWinThread {
public:
    enum State : LONG { kFetchManifest = 1, kHandleFiles = 2, kInstalling = 3, kFinished = 4 };
    static constexpr int kAttempts = 5;
    static constexpr DWORD kUnchangedPauseMs = 300;

    std::wstring m_strVersion;               // installed version, "0.0.0.0" when none
    HWND m_hTargetWnd = nullptr;             // receives the status messages
    volatile LONG m_nState = kFetchManifest;
    volatile LONG m_nStop = 0;               // set by the dialog; checked before each attempt
    int m_nNextFile = 0;                     // also the number of files handled
    CXmlInfo m_xml;
    CDownload* m_pDownload = nullptr;        // the dialog's engine

    // The manifest's server path for an installed version.
    static std::wstring ManifestPath(const std::wstring& installedVersion);

    void OnUpdateStep();

    // Ends the worker and waits until it has ended by itself: a transfer is
    // cut short at once (also one blocked in the network), an installation
    // always runs to its end, so the wait is bounded by the copies.
    void Stop();

protected:
    BOOL OnThreadMessage(UINT msg, WPARAM wp, LPARAM lp) override;

private:
    void Post(UINT msg, WPARAM wp, LPARAM lp) const;
    // One attempt of the current step; true when the step is over (done or
    // reported), false when another attempt should follow.
    bool FetchManifest(int attempt);
    // False once the worker is being stopped: an installation either runs
    // whole or does not begin.
    bool BeginInstallation();
    // The manifest's chosen version, or null when there is none or its files
    // cannot be fetched.
    VersionInfo* UsableVersion();
    bool HandleFile(int attempt);
    // Downloads the file into the staging folder and keeps it only when its
    // checksum matches the manifest.
    bool DownloadVerified(const VersionInfo& version, const FileInfo& file);

    std::mutex m_stateLock; // the stop flag against the start of an installation
};
