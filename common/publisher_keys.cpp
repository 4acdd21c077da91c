#include "common/publisher_keys.h"

#include <cstring>
#include <cwchar>

#include "common/version_info.h"
#include "kestrelwood/launcher_family_id.h"

namespace kes {

namespace {

constexpr wchar_t kKeysQuery[] = L"\\StringFileInfo\\" KES_VERSION_STRING_TABLE "\\" KES_PUBLISHER_KEYS_KEY;

int hexValue(wchar_t unit) {
    if (unit >= L'0' && unit <= L'9') {
        return unit - L'0';
    }
    if (unit >= L'a' && unit <= L'f') {
        return unit - L'a' + 10;
    }
    if (unit >= L'A' && unit <= L'F') {
        return unit - L'A' + 10;
    }
    return -1;
}

bool isSeparator(wchar_t unit) {
    return unit == L' ' || unit == L',' || unit == L';';
}

// One entry, or false when it is not exactly 64 hexadecimal digits.
bool parseDigest(const wchar_t* entry, std::size_t length, KeyDigest& digest) {
    if (length != 2 * kKeyDigestBytes) {
        return false;
    }
    for (std::size_t i = 0; i < kKeyDigestBytes; ++i) {
        const int high = hexValue(entry[2 * i]);
        const int low = hexValue(entry[2 * i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        digest.bytes[i] = static_cast<unsigned char>(high * 16 + low);
    }
    return true;
}

}  // namespace

bool operator==(const KeyDigest& a, const KeyDigest& b) {
    return std::memcmp(a.bytes, b.bytes, kKeyDigestBytes) == 0;
}

PublisherKeys parsePublisherKeys(const std::wstring& value) {
    PublisherKeys result;
    result.pinned = true;
    std::size_t at = 0;
    while (at < value.size()) {
        while (at < value.size() && isSeparator(value[at])) {
            ++at;
        }
        std::size_t end = at;
        while (end < value.size() && !isSeparator(value[end])) {
            ++end;
        }
        KeyDigest digest;
        if (end > at && parseDigest(value.data() + at, end - at, digest)) {
            result.keys.push_back(digest);
        }
        at = end;
    }
    return result;
}

PublisherKeys readPublisherKeys(const std::string& path) {
    return publisherKeysOf(readVersionBlock(path));
}

PublisherKeys publisherKeysOf(const VersionBlock& block) {
    unsigned count = 0;
    const auto* value = static_cast<const wchar_t*>(findVersionValue(block, kKeysQuery, sizeof(wchar_t), count));
    if (value == nullptr) {
        return {};
    }
    // Up to the first NUL, which values are stored with.
    return parsePublisherKeys(std::wstring(value, wcsnlen(value, count)));
}

std::string digestText(const KeyDigest& digest) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (const unsigned char byte : digest.bytes) {
        text.push_back(kDigits[byte >> 4]);
        text.push_back(kDigits[byte & 15]);
    }
    return text;
}

}  // namespace kes
