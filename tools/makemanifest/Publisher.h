// The publisher's side of signed updates: key pairs, the signature beside a
// manifest, and the public key stamped into a copy of the updater.
#pragma once

#include "ManifestWriter.h"

#include <string>
#include <vector>

// Writes folder\publisher.key (the private key) and folder\publisher.pub;
// never replaces an existing key. The key id is what the other verbs print.
bool NewKeyPair(const std::wstring& folder, std::string* keyId, std::wstring* error);

// Writes update.xml as WriteManifest does and update.sig beside it, signed
// with the private key file: both or neither.
bool WriteSignedRelease(const std::wstring& folder, const ManifestRelease& release, const std::wstring& keyFile,
                        std::vector<ManifestEntry>* entries, std::string* keyId, std::wstring* error);

// Writes the public key file into that copy of the updater, as its resource
// RCDATA "PUBLISHERKEY", and reads it back from the file to be sure.
bool StampUpdater(const std::wstring& publicKeyFile, const std::wstring& updater, std::string* keyId,
                  std::wstring* error);
