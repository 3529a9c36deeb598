// Resources read from the bytes of an executable image, without loading it:
// the updater checks a staged copy of itself that it holds open for writing,
// which the system's loader could not open beside it.
#pragma once

#include "Signature.h"

#include <string>
#include <vector>

// The data of every language of the named RCDATA resource in a PE image
// (32 or 64-bit); empty when there is none. False when the bytes are not a
// well-formed image or its resource directory points outside them.
bool ReadRcData(const std::string& image, const wchar_t* name, std::vector<std::string>* languages);

// The publisher key an image carries, as LoadPublisherKey reads it from a
// loaded module: None without the resource, Unusable for a malformed image,
// a resource in more than one language, or one that is no public key file.
PublisherKey PublisherKeyOfImage(const std::string& image);
