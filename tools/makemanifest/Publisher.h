// The publisher's side of signed updates: key pairs, the signature beside a
// manifest, and the public key stamped into a copy of the updater.
#pragma once

#include "ManifestWriter.h"

#include <cstdint>
#include <string>
#include <vector>

// How long a signature holds by default: long enough for a release's life
// between two publishes, short enough that an old release replayed by
// whoever answers in the server's place stops being installed within a
// season. A release that stays current is signed again before then.
constexpr uint32_t kDefaultValidityDays = 90;
// At most a year: a release replayed by whoever answers in the server's place
// can hold installations back no longer than its signature lasts.
constexpr uint32_t kMaxValidityDays = 365;

struct SigningOptions {
    std::wstring keyFile;                   // publisher.key
    uint32_t days = kDefaultValidityDays;   // the signature expires this many days from now
    std::wstring rotateTo;                  // publisher.key of the key this release hands over to,
                                            // which its updater carries; empty: no handover
    std::vector<std::string> revoke;        // key ids that handover revokes
    std::vector<std::wstring> previous;     // earlier release folders: patches from their files
};

// "1".."365", decimal without sign or leading zeros; false otherwise.
bool ParseValidityDays(const std::wstring& text, uint32_t* days);

// Writes folder\publisher.key (the private key) and folder\publisher.pub;
// never replaces an existing key. The key id is what the other verbs print.
bool NewKeyPair(const std::wstring& folder, std::string* keyId, std::wstring* error);

// Writes update.xml as WriteManifest does and update.sig beside it, signed
// with the private key file, and the key chain kept beside that file
// (update.keys) into the release: all or none. Refused before anything is
// written when an update.exe in the release (any folder, any case) does not
// carry the signing key, or with rotateTo exactly that key. The same files
// give the same update.xml byte for byte, so signing again only renews
// update.sig.
//
// With rotateTo the release hands the key over: a link signed by both keys
// (until: this release) joins the chain, which is written into the release
// and beside the new key file, and the release is signed with the old key
// (with the new one when the link revokes the old). Signing the same
// release again keeps the chain the new key's folder holds; any other chain
// there is never replaced. *handovers: the links the release publishes.
//
// With previous, the patches and compressed files (Deltas.h) and the delta
// index signed by the same key, update.dlt, are written too; refused before
// anything is written when one of them is not a release. *patches: the
// index's entries.
bool WriteSignedRelease(const std::wstring& folder, const ManifestRelease& release, const SigningOptions& signing,
                        std::vector<ManifestEntry>* entries, std::string* keyId, std::wstring* error,
                        size_t* handovers = nullptr, size_t* patches = nullptr);

// Writes the public key file into that copy of the updater, as its resource
// RCDATA "PUBLISHERKEY", and reads it back from the file to be sure.
bool StampUpdater(const std::wstring& publicKeyFile, const std::wstring& updater, std::string* keyId,
                  std::wstring* error);
