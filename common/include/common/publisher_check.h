// Whether a file is signed with one of the keys a program pins.
#pragma once

#include <windows.h>

#include <string>

#include "common/publisher_keys.h"
#include "common/win_owners.h"

namespace kes {

enum class PublisherVerdict {
    Passed,       // a valid signature, by a signer whose key is pinned
    Unsigned,     // no Authenticode signature at all
    Invalid,      // the signature does not hold: the file was changed, or the platform refused it
    OtherKey,     // a valid signature, by a key that is not pinned
    Unavailable,  // wintrust.dll or crypt32.dll could not be loaded from the system folder
    NotHeld,      // the file cannot be opened without writers and deleters (status: the Windows error)
    Changed,      // the file held is not the launcher that was judged: another version, or no launcher
    PartsDiffer,  // the platform accepted it, but one link of the signature does not hold
    KeysNotKept,  // signed with a pinned key, but its own version block pins none of the caller's keys
    Link,         // its name is a link (a reparse point, or a name that resolves elsewhere), not the file
    OtherImage,   // the process created from its path runs another file than the one held
};

struct PublisherCheck {
    PublisherVerdict verdict = PublisherVerdict::Unavailable;
    long status = 0;            // what WinVerifyTrust answered
    DWORD chainErrors = 0;      // the signer chain's CERT_TRUST_* error bits, when it was read
    bool haveSigner = false;    // signer below is the signer's key digest
    KeyDigest signer;
};

// WinVerifyTrust (WINTRUST_ACTION_GENERIC_VERIFY_V2) on the file that `file`
// holds open, without user interface, revocation checks or network
// retrieval, and the signer's key digest from the trust state: its first
// chain certificate's SubjectPublicKeyInfo as CryptEncodeObjectEx encodes it,
// hashed with SHA-256. A signature that the platform accepts holds only when
// every link holds as well: its messageDigest attribute is the digest of the
// signed content, and its signature verifies with that certificate's key
// (otherwise PartsDiffer). The verdict is Passed, OtherKey, Unsigned,
// Invalid, PartsDiffer or Unavailable; with no key pinned, a signature that
// holds is OtherKey.
// wintrust.dll and crypt32.dll are loaded from the system folder at the
// first call.
PublisherCheck checkPublisher(HANDLE file, const std::wstring& path, const PublisherKeys& keys);

// Since the key is pinned, a signature holds when WinVerifyTrust objects
// only to the way to a trusted root or to validity periods: these answers,
// and only with the signer chain's error bits below.
bool isAcceptedTrustStatus(long status);

// The chain's errors that a pinned key makes irrelevant: an untrusted root,
// a partial chain, certificates out of their validity period. Anything else
// (a certificate not for code signing, broken basic constraints, an unknown
// critical extension, a bad certificate signature, a cycle, revocation) is
// a signature that does not hold.
bool isAcceptedChainErrors(DWORD errors);

// "passed", "not signed", "signature not valid", "signed with a key that is
// not pinned", "wintrust.dll or crypt32.dll not loaded", "cannot be opened
// alone", "changed since it was judged", "signature parts do not match",
// "signed, but does not pin the publisher's keys", "a link, not a file",
// "the process started is not the file checked": for logs and kes-inspect.
const char* publisherVerdictText(PublisherVerdict verdict);

}  // namespace kes
