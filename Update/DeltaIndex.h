// The publisher's signed index of patches and compressed files beside a
// manifest ("update.dlt"), and applying one of them. Only a keyed updater
// reads it: what it offers is a cheaper way to the same signed bytes, never
// another content, so a missing or bad index only costs the full download.
//
// update.dlt is UTF-8 text in update.sig's strict line grammar (every line
// ended by a single LF, lower-case hex, numbers without sign or leading zeros):
//
//   qz-update-deltas 1
//   key <key id: 16 hex digits, the key that signed update.sig>
//   manifest <SHA-256 of the manifest it belongs to: 64 hex digits>
//   patch <method> <source size> <source SHA-256> <result SHA-256> <patch size> <patch SHA-256> <path>
//                                                      (any number, in any order)
//   signature <ECDSA P-256 r || s over SHA-256 of every byte above: 128 hex digits>
//
// method:  lower-case letters, digits and "-", starting with a letter.
//          "zstd-pf1": one zstd frame compressed with the source file as its
//          prefix (zstd --patch-from); "zstd1": one zstd frame of the result
//          alone. Source size and SHA-256 are "-" exactly when the method
//          needs no source. A method this updater does not know is skipped;
//          its line must still parse.
// result:  the SHA-256 of the file it makes, which is how an entry is found
//          for a listed file (its signed line in update.sig gives the size).
// path:    the patch's server path: "/", then letters, digits, ".", "_", "-"
//          and "/", no empty, "." or ".." part. Patches lie outside every
//          release folder, so a manifest never lists them.
#pragma once

#include "Crypto.h"
#include "StagedFile.h"

#include <cstdint>
#include <string>
#include <vector>

// Far above what a 10,240-byte manifest's files need from a few earlier releases.
constexpr size_t kMaxDeltaIndex = 262144;
// Patches apply in memory (source, patch and window); larger files travel whole.
constexpr uint32_t kMaxPatchedFile = 256u << 20;

extern const char kPatchFromMethod[]; // "zstd-pf1"
extern const char kCompressedMethod[]; // "zstd1"

struct DeltaEntry {
    std::string method;
    bool hasSource = false;
    uint32_t sourceSize = 0;
    Sha256Digest source{};
    Sha256Digest result{};
    uint32_t patchSize = 0;
    Sha256Digest patch{};
    std::string path;
    // Whether this updater can apply its method.
    bool Known() const;
};

struct DeltaIndex {
    std::string keyId;
    Sha256Digest manifestSha256{};
    std::vector<DeltaEntry> entries;
};

// Everything above the signature line; empty when an entry cannot be written
// (a bad method or path, a source where the method has none).
std::string DeltaIndexSignedText(const DeltaIndex& index);

// Parses the index and checks its signature with key: empty when it is well
// formed and signed by key (*index filled), else the reason. Which manifest it
// names is the caller's to compare; SignatureKeyId reads its key line.
std::wstring VerifyDeltaIndex(const std::string& bytes, const P256PublicKey& key, DeltaIndex* index);

// The best entry for a file whose signed content is result, from an installed
// content source (null when there is none): a patch from exactly that content
// before a compressed whole, the smaller patch first; known methods only.
const DeltaEntry* ChooseDelta(const DeltaIndex& index, const Sha256Digest& result, const Sha256Digest* source);

// The base-2 logarithm of the zstd window a patch between files of these sizes
// needs (the larger one's, rounded up, and one more): the writer's setting and
// the reader's limit.
int PatchWindowLog(uint64_t sourceSize, uint64_t resultSize);

// Decodes patch (already checked against its signed hash) into file, with
// source as the prefix (empty for a method without one); no more than
// resultSize bytes are written. Empty when one whole frame decoded to exactly
// resultSize bytes, else the reason.
std::wstring ApplyPatch(const DeltaEntry& entry, const std::string& source, const std::string& patch,
                        uint32_t resultSize, CStagedFile& file);
