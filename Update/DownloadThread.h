// The update procedure, one step per WM_UPDATE_STEP, on a worker thread:
// fetch the manifest, then one listed file per step, then install; each
// step's outcome goes to the run as a WorkerReport.
#pragma once

#include "App.h"
#include "DeltaIndex.h"
#include "Download.h"
#include "Installer.h"
#include "KeyChain.h"
#include "Signature.h"
#include "UpdateMessages.h"
#include "WorkerReports.h"
#include "XmlInfo.h"

#include <mutex>
#include <string>
#include <vector>

class CDownloadThread : public CWinThread {
public:
    enum State : LONG { kFetchManifest = 1, kHandleFiles = 2, kInstalling = 3, kFinished = 4 };
    static constexpr int kAttempts = 5;
    static constexpr DWORD kUnchangedPauseMs = 300;

    std::wstring m_strVersion;               // installed version, "0.0.0.0" when none
    IWorkerReports* m_pReports = nullptr;    // the run's, or a test's
    volatile LONG m_nState = kFetchManifest;
    volatile LONG m_nStop = 0;               // set by the run; checked before each attempt
    int m_nNextFile = 0;                     // also the number of files handled
    CXmlInfo m_xml;
    CDownload* m_pDownload = nullptr;        // the run's transport
    CInstaller* m_pInstaller = nullptr;      // and its installer
    // Set by the run before the first step. With a key the run is keyed:
    // the manifest must come with the publisher's signature, every file with
    // its signed size and SHA-256, and only verified files are installed.
    PublisherKey m_key;
    SignedRelease m_signed;                  // what the signature vouched for, the received manifest's hash among it (keyed runs)
    std::string m_signature;                 // its bytes, kept as the record once installed
    std::vector<CInstaller::StagedEntry> m_staged; // downloaded in this run and found as signed (keyed runs)
    // The keys this run trusts, from the stamped key and the key chain it
    // follows (keyed runs, once the signature arrived).
    CKeyRing m_trusted;
    // The server's key chain when it is followed and longer than the one
    // kept in the program folder: kept beside the record once installed.
    std::string m_keyChainToKeep;
    // The updater's own executable: a staged replacement must carry a key.
    // Empty: this process's.
    std::wstring m_strOwnProgram;

    // The kept signature of the installed release, in the program folder: only
    // a release signed by the publisher is ever recorded, and none older than
    // it, or another of its version, is accepted after it.
    static constexpr wchar_t kInstalledRecord[] = L"update.sig";
    // The key chain this installation follows, in the program folder; the
    // server's is always at its root, whatever version asks.
    static constexpr wchar_t kKeyChain[] = L"update.keys";
    static constexpr wchar_t kKeyChainPath[] = L"/update.keys";

    // The manifest's server path for an installed version, and the
    // signature's beside it.
    static std::wstring ManifestPath(const std::wstring& installedVersion);
    static std::wstring SignaturePath(const std::wstring& installedVersion);
    // The signed delta index beside the signature (keyed runs only).
    static std::wstring DeltaIndexPath(const std::wstring& installedVersion);

    void OnUpdateStep();

    // Ends the worker and waits until it has ended by itself: a transfer is
    // cut short at once (also one blocked in the network), an installation
    // always runs to its end, so the wait is bounded by the copies.
    void Stop();

protected:
    BOOL OnThreadMessage(UINT msg, WPARAM wp, LPARAM lp) override;

private:
    void Report(UINT msg, int code, LPARAM value, const std::wstring& text = std::wstring()) const;
    // One attempt of the current step; true when the step is over (done or
    // reported), false when another attempt should follow.
    bool FetchManifest(int attempt);
    // False once the worker is being stopped: an installation either runs
    // whole or does not begin.
    bool BeginInstallation();
    // The manifest's chosen version, or null when there is none or its files
    // cannot be fetched.
    VersionInfo* UsableVersion();
    bool Keyed() const { return m_key.state != KeyState::None; }
    // Keyed runs, before the manifest is parsed: fetches the signature and
    // checks it, its expiry and the manifest's hash; false, with the reason
    // logged, when anything is amiss.
    bool CheckSignature(const std::string& manifest);
    std::wstring SignatureProblem(const std::string& manifest);
    // Then the parsed version against what was signed, and against the installed release.
    bool CheckSignedVersion(const VersionInfo& version);
    std::wstring SignedVersionProblem(const VersionInfo& version);
    // The installed release as its kept signature records it; versionId 0 when
    // there is none that verifies with the key.
    SignedRelease InstalledRecord() const;
    // The verified signature as a staged file, and the key chain followed
    // when it is longer than the kept one, installed with the release.
    bool StageRecords();
    // The keys to trust: the stamped key with the kept key chain, or the
    // server's when it extends that one (a server without one is no failure).
    CKeyRing TrustedKeys();
    // The failure of the step: -2 when a keyed run refused what it got as not
    // genuine, -1 otherwise.
    int Failure() const { return m_bBlocked ? kStagingBlocked : m_bRefused ? kRefused : -1; }
    bool HandleFile(int attempt);
    // Whether the installed file is the one the release lists.
    bool InstalledIsCurrent(const FileInfo& file);
    // Downloads the file into the staging folder and keeps it only when it
    // is the one listed: its signed size and SHA-256 in a keyed run, its
    // checksum otherwise.
    bool DownloadVerified(const VersionInfo& version, const FileInfo& file);
    // Keyed runs: the file made from a patch or a compressed copy the signed
    // delta index offers for it, verified as a download is; false, with the
    // reason logged, when there is none or it fails (the full download follows).
    bool DownloadPatched(const FileInfo& file, const std::wstring& staging, const std::wstring& local);
    // The index for this run's release, fetched once per manifest; empty
    // entries when there is none that verifies.
    const DeltaIndex& Deltas();
    // False for a staged replacement of this updater's own executable (the
    // same file, not the same spelling) that carries no key it may hand over
    // to (CKeyRing::MayCarry); true for every other file.
    bool CarriesUsableKey(const FileInfo& file, const CStagedFile& staged) const;

    // Whether a verified file is the one listed; false, with the reason
    // logged, when not. mismatch: the bytes were not the file's (and a
    // resumed transfer may have joined two contents).
    bool Verify(const FileInfo& file, CStagedFile& staged, bool* mismatch);

    // The kept part's place for the file being downloaded (keyed; see
    // KeptParts.h): whether one may be kept, and then where.
    bool MayKeepPart() const;
    // Lets go of the part: kept on the disk for a later run when it is a
    // kept part (m_bPartialKept), else deleted.
    void ReleasePartial();

    // A file download cut off in an earlier attempt of this step: the next
    // one continues it (the file keeps its handle and its running digest).
    std::unique_ptr<CStagedFile> m_partial;
    bool m_bPartialKept = false; // it lies among the kept parts (see KeptParts.h)
    CResumeState m_resume;
    int m_nPartialFile = -1;                 // whose it is (m_nNextFile)

    // The delta index (keyed runs), and the installed file's content as
    // InstalledIsCurrent found it (for the file being handled).
    DeltaIndex m_deltas;
    bool m_bDeltasFetched = false;
    Sha256Digest m_installedSha256{};
    bool m_bInstalledKnown = false;
    int m_nPatchTried = -1;                  // a file gets one patch per manifest (m_nNextFile)

    std::mutex m_stateLock; // the stop flag against the start of an installation
    bool m_bRefused = false; // the last attempt's failure was a refusal, not the network
    bool m_bBlocked = false; // the staging folder could not be emptied
};
