// One file downloaded into the staging folder. It is written, hashed and
// moved into place through a single handle that lets other programs read the
// file but neither write, rename nor delete it: the content that was
// verified is the content that gets installed.
#pragma once

#include "Checksum.h"
#include "Crypto.h"
#include "Handles.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

class CStagedFile {
public:
    // What Write computes as it writes: only what the run checks the file
    // with (a keyed run its SHA-256, an unkeyed one the manifest's
    // checksum); each costs the transfer time in its thread.
    enum class Digest { None, Checksum, Sha256 };

    CStagedFile() = default;
    // A file that was neither moved into place nor kept goes with its handle.
    ~CStagedFile();
    CStagedFile(const CStagedFile&) = delete;
    CStagedFile& operator=(const CStagedFile&) = delete;

    // Creates (or empties) path below the staging folder. False when a folder
    // on the way, the staging folder included, is missing or is a link
    // (junction or symbolic link), or the file cannot be created as a plain file.
    bool Create(const std::wstring& staging, const std::wstring& path, Digest digest = Digest::None);
    // The same for a file below the staging folder that an earlier run began:
    // its bytes stay and are taken into the digest, and writing goes on at
    // its end. False as for Create, when it is missing or above maxBytes.
    bool Continue(const std::wstring& staging, const std::wstring& path, Digest digest, uint64_t maxBytes);
    bool Write(const void* data, size_t size);
    // Empties the file and starts its digest again: a transfer that begins
    // from the first byte once more.
    bool Restart() { return Restart(true); }

    uint64_t Size() const { return m_size; }
    // The checksum of everything written (Digest::Checksum).
    uint32_t Checksum() const { return m_checksum.Final(); }
    // The SHA-256 of everything written (Digest::Sha256; false otherwise); once.
    bool Sha256(Sha256Digest* digest) { return m_sha256 && m_sha256->Final(digest); }
    // The content read back through the handle; false above maxBytes.
    bool ReadAll(std::string* bytes, size_t maxBytes) const;

    // Its data onto the disk.
    bool Flush() { return m_file && ::FlushFileBuffers(m_file.Get()); }
    // Renames the file to target (a full path), replacing a file there, and
    // waits until the rename is on the disk.
    bool MoveTo(const std::wstring& target);
    // Closes the handle and leaves the file where it is, for a caller that
    // reads it by its path.
    void Keep();
    const std::wstring& Path() const { return m_path; }

private:
    bool Open(const std::wstring& staging, const std::wstring& path, Digest digest, DWORD disposition);
    // From the first byte, with a new digest; empty: the file's bytes go too.
    bool Restart(bool empty);
    // Bytes now in the file: into the digest and the size.
    void Take(const void* data, size_t size);

    CFileHandle m_file;
    std::wstring m_path;
    uint64_t m_size = 0;
    Digest m_digest = Digest::None;
    CChecksum m_checksum;
    std::unique_ptr<CSha256> m_sha256; // Digest::Sha256 only
};

// The system's own form of a full path, as a rename through a handle takes
// it: "\\??\\C:\\...", "\\??\\UNC\\server\\share\\..." for a share.
std::wstring NtPathOf(const std::wstring& path);

// Whether folder and every folder below it down to path's are plain folders
// (none missing, none a junction or symbolic link).
bool NoLinkOnTheWay(const std::wstring& folder, const std::wstring& path);
