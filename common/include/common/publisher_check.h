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
};

struct PublisherCheck {
    PublisherVerdict verdict = PublisherVerdict::Unavailable;
    long status = 0;            // what WinVerifyTrust answered
    bool haveSigner = false;    // signer below is the signer's key digest
    KeyDigest signer;
};

// WinVerifyTrust (WINTRUST_ACTION_GENERIC_VERIFY_V2) on the file that `file`
// holds open, without user interface, revocation checks or network
// retrieval, and the signer's key digest from the trust state: its first
// chain certificate's SubjectPublicKeyInfo as CryptEncodeObjectEx encodes it,
// hashed with SHA-256. Since the key is pinned, errors about the chain to a
// trusted root and about validity periods are accepted. wintrust.dll and
// crypt32.dll are loaded from the system folder at the first call.
PublisherCheck checkPublisher(HANDLE file, const std::wstring& path, const PublisherKeys& keys);

// Opens the file with openHeldForStart and checks it: `held` keeps it open,
// so that the file checked is the file then started or copied.
PublisherCheck holdAndCheckPublisher(const std::wstring& path, const PublisherKeys& keys, UniqueHandle& held);

// "passed", "not signed", "signature not valid", "signed with a key that is
// not pinned", "wintrust.dll or crypt32.dll not loaded", "cannot be opened
// alone": for logs and kes-inspect.
const char* publisherVerdictText(PublisherVerdict verdict);

// Opens a file for reading while it is checked and started: readers are let
// in, writers and deleters are not, so the file that was checked is the file
// that starts.
UniqueHandle openHeldForStart(const std::wstring& path);

}  // namespace kes
