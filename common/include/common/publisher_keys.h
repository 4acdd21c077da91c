// Publisher pinning: which signing keys a program accepts its launchers from.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "common/version_info.h"

namespace kes {

inline constexpr std::size_t kKeyDigestBytes = 32;

// The SHA-256 digest of a signing certificate's DER-encoded
// SubjectPublicKeyInfo.
struct KeyDigest {
    unsigned char bytes[kKeyDigestBytes] = {};
};

bool operator==(const KeyDigest& a, const KeyDigest& b);

// What a program's version resource says about its launchers' publisher.
struct PublisherKeys {
    bool pinned = false;          // it carries KesPublisherKeys: only files signed with one of `keys` pass
    std::vector<KeyDigest> keys;  // its valid entries; pinned and empty, nothing passes
};

// The value of KesPublisherKeys: digests of 64 hexadecimal digits (either
// case), separated by blanks, commas or semicolons. Other entries are
// ignored; a value without a valid one still pins, to nothing.
PublisherKeys parsePublisherKeys(const std::wstring& value);

// From the version resource of the file at `path` (UTF-8), or from its block
// already read: not pinned when it has no KesPublisherKeys in the family's
// string table.
PublisherKeys readPublisherKeys(const std::string& path);
PublisherKeys publisherKeysOf(const VersionBlock& block);

// 64 lower-case hexadecimal digits, as the value and the log write a digest.
std::string digestText(const KeyDigest& digest);

}  // namespace kes
