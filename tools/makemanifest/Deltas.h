// The publisher's side of the delta index (Update/DeltaIndex.h): patches of a
// release's changed files from the contents earlier releases held, and the
// files compressed alone, written content-addressed outside the release.
#pragma once

#include "DeltaIndex.h"
#include "ManifestWriter.h"
#include "Signature.h"

#include <string>
#include <vector>

// One zstd frame of result: with withSource, made with source as its prefix
// (kPatchFromMethod), else result alone (kCompressedMethod); false when zstd fails.
bool MakePatch(const std::string& source, const std::string& result, bool withSource, std::string* patch);

// A published release whose files can serve as patch sources.
struct PreviousRelease {
    std::wstring folder;
    std::vector<std::wstring> names; // the files its manifest lists
};

// Reads folder\update.xml (its newest version) and checks that every file it
// lists is there; false, with the reason, when the folder is not a release.
bool ReadPreviousRelease(const std::wstring& folder, PreviousRelease* release, std::wstring* error);

// The server folder patches live in: ver_root's parent, then "/patches"
// ("/1.0.0.2" -> "/patches", "/rel/1.0.0.2" -> "/rel/patches"); false when
// ver_root is empty (the release is the server's root: nothing lies outside
// it) or not plain ASCII.
bool PatchServerFolder(const std::wstring& verRoot, std::string* serverFolder, std::wstring* error);

// For each file of the signed release that some earlier release held with
// other content: a patch from each distinct earlier content and the file
// compressed alone, each kept only when smaller than what it replaces,
// written as <release folder's parent>\patches\<its SHA-256>.zst (an existing
// one is the same bytes), and listed in *index (entries only). *saved: the
// files' bytes against the patches' for the first earlier release.
bool WritePatches(const std::wstring& folder, const std::string& serverFolder, const SignedRelease& release,
                  const std::vector<PreviousRelease>& previous, DeltaIndex* index, std::wstring* error);
