// Parts of keyed downloads kept from one run to the next, so that a transfer
// cut off by a closed laptop or a lost line continues where it ended instead
// of starting again. Each part lies at <staging>\Temp\<SHA-256 of the whole
// file, hex>, beside <hex>.state (its If-Range validator and the length the
// server gave, two ASCII lines). Only the signed hash names a part, so a part
// serves exactly the content that release signs and no other; a part that
// nothing signs any more, an old one, or one beyond the count goes.
#pragma once

#include "Crypto.h"
#include "Download.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

struct SignedFile;

class CKeptParts {
public:
    // No release file can be named Temp: the folder never meets a staged one.
    static constexpr wchar_t kFolder[] = L"Temp";
    static constexpr size_t kMaxParts = 8;
    static constexpr uint64_t kMaxAge = 14ull * 24 * 3600 * 10000000; // FILETIME units: two weeks
    static constexpr size_t kMaxValidator = 200;                       // characters

    explicit CKeptParts(const std::wstring& staging) : m_folder(staging + L"\\" + kFolder) {}

    const std::wstring& Folder() const { return m_folder; }
    std::wstring PathOf(const Sha256Digest& whole) const;
    // Keeps the parts (and states) of these files that are younger than
    // kMaxAge, the newest kMaxParts of them; deletes everything else. Whether
    // a state can be continued is Load's to say.
    void Prune(const std::vector<SignedFile>& files) const;
    // The state kept for the part of that file; false when there is none to
    // continue (no part, or a state that is not one this updater wrote).
    bool Load(const Sha256Digest& whole, uint64_t signedSize, CResumeState* resume) const;
    // Makes the folder when needed; false when it is not a plain folder.
    bool Prepare() const;
    bool Save(const Sha256Digest& whole, const CResumeState& resume) const;
    // The state only: the part is whole, and no longer one to continue.
    void Forget(const Sha256Digest& whole) const;
    void Drop(const Sha256Digest& whole) const;

private:
    std::wstring m_folder;
};
