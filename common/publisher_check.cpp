#include "common/publisher_check.h"

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include "common/system_library.h"

namespace kes {

namespace {

SystemFunction winVerifyTrust{L"wintrust.dll", "WinVerifyTrust"};
SystemFunction provDataFromState{L"wintrust.dll", "WTHelperProvDataFromStateData"};
SystemFunction signerFromChain{L"wintrust.dll", "WTHelperGetProvSignerFromChain"};
SystemFunction encodeObject{L"crypt32.dll", "CryptEncodeObjectEx"};
SystemFunction hashCertificate{L"crypt32.dll", "CryptHashCertificate"};

// The signer chain's error bits and its key digest, from the trust state.
// A chain that cannot be read is no signature that holds.
bool signerDigest(HANDLE state, KeyDigest& digest, DWORD& chainErrors) {
    const auto fromState = systemFunction<decltype(&WTHelperProvDataFromStateData)>(provDataFromState);
    const auto fromChain = systemFunction<decltype(&WTHelperGetProvSignerFromChain)>(signerFromChain);
    const auto encode = systemFunction<decltype(&CryptEncodeObjectEx)>(encodeObject);
    const auto hash = systemFunction<decltype(&CryptHashCertificate)>(hashCertificate);
    if (fromState == nullptr || fromChain == nullptr || encode == nullptr || hash == nullptr) {
        return false;
    }
    CRYPT_PROVIDER_DATA* provider = fromState(state);
    CRYPT_PROVIDER_SGNR* signer = provider != nullptr ? fromChain(provider, 0, FALSE, 0) : nullptr;
    if (signer == nullptr || signer->csCertChain == 0 || signer->pasCertChain == nullptr ||
        signer->pasCertChain[0].pCert == nullptr || signer->pChainContext == nullptr) {
        return false;
    }
    chainErrors = signer->pChainContext->TrustStatus.dwErrorStatus;
    BYTE* encoded = nullptr;
    DWORD encodedLength = 0;
    if (!encode(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO,
                &signer->pasCertChain[0].pCert->pCertInfo->SubjectPublicKeyInfo, CRYPT_ENCODE_ALLOC_FLAG, nullptr,
                &encoded, &encodedLength)) {
        return false;
    }
    DWORD digestLength = kKeyDigestBytes;
    const bool hashed = hash(0, CALG_SHA_256, 0, encoded, encodedLength, digest.bytes, &digestLength) &&
                        digestLength == kKeyDigestBytes;
    LocalFree(encoded);
    return hashed;
}

bool isPinned(const PublisherKeys& keys, const KeyDigest& digest) {
    for (const KeyDigest& key : keys.keys) {
        if (key == digest) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool isAcceptedTrustStatus(long status) {
    switch (static_cast<HRESULT>(status)) {
    case S_OK:
    case CERT_E_EXPIRED:
    case CERT_E_VALIDITYPERIODNESTING:
    case CERT_E_UNTRUSTEDROOT:
    case CERT_E_CHAINING:
    case CERT_E_UNTRUSTEDTESTROOT:
        return true;
    default:
        return false;
    }
}

bool isAcceptedChainErrors(DWORD errors) {
    constexpr DWORD kIrrelevant = CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN |
                                  CERT_TRUST_IS_NOT_TIME_VALID | CERT_TRUST_IS_NOT_TIME_NESTED;
    return (errors & ~kIrrelevant) == 0;
}

PublisherCheck checkPublisher(HANDLE file, const std::wstring& path, const PublisherKeys& keys) {
    PublisherCheck check;
    const auto verify = systemFunction<decltype(&WinVerifyTrust)>(winVerifyTrust);
    if (verify == nullptr) {
        check.status = static_cast<long>(HRESULT_FROM_WIN32(winVerifyTrust.error));
        return check;
    }
    WINTRUST_FILE_INFO fileInfo{};
    fileInfo.cbStruct = sizeof fileInfo;
    fileInfo.pcwszFilePath = path.c_str();
    fileInfo.hFile = file;
    WINTRUST_DATA data{};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &fileInfo;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL | WTD_REVOCATION_CHECK_NONE;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const HWND noWindow = static_cast<HWND>(INVALID_HANDLE_VALUE);
    check.status = verify(noWindow, &action, &data);
    if (isAcceptedTrustStatus(check.status)) {
        check.haveSigner = signerDigest(data.hWVTStateData, check.signer, check.chainErrors);
        check.verdict = !check.haveSigner || !isAcceptedChainErrors(check.chainErrors) ? PublisherVerdict::Invalid
                        : isPinned(keys, check.signer)                                 ? PublisherVerdict::Passed
                                                                                       : PublisherVerdict::OtherKey;
    } else {
        check.verdict = check.status == TRUST_E_NOSIGNATURE || check.status == TRUST_E_SUBJECT_FORM_UNKNOWN
                            ? PublisherVerdict::Unsigned
                            : PublisherVerdict::Invalid;
    }
    // The trust state is released whatever the answer.
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    verify(noWindow, &action, &data);
    return check;
}

const char* publisherVerdictText(PublisherVerdict verdict) {
    switch (verdict) {
    case PublisherVerdict::Passed:
        return "passed";
    case PublisherVerdict::Unsigned:
        return "not signed";
    case PublisherVerdict::Invalid:
        return "signature not valid";
    case PublisherVerdict::OtherKey:
        return "signed with a key that is not pinned";
    case PublisherVerdict::Unavailable:
        return "wintrust.dll or crypt32.dll not loaded";
    case PublisherVerdict::Changed:
        return "changed since it was judged";
    default:
        return "cannot be opened alone";
    }
}

}  // namespace kes
