#include "common/publisher_check.h"

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cstring>
#include <memory>

#include "common/system_library.h"

namespace kes {

namespace {

SystemFunction winVerifyTrust{L"wintrust.dll", "WinVerifyTrust"};
SystemFunction provDataFromState{L"wintrust.dll", "WTHelperProvDataFromStateData"};
SystemFunction signerFromChain{L"wintrust.dll", "WTHelperGetProvSignerFromChain"};
SystemFunction encodeObject{L"crypt32.dll", "CryptEncodeObjectEx"};
SystemFunction hashCertificate{L"crypt32.dll", "CryptHashCertificate"};
SystemFunction msgGetParam{L"crypt32.dll", "CryptMsgGetParam"};
SystemFunction msgControl{L"crypt32.dll", "CryptMsgControl"};
SystemFunction oidToAlgId{L"crypt32.dll", "CertOIDToAlgId"};

// The signer chain's error bits and its key digest, from the trust state.
// A chain that cannot be read is no signature that holds.
bool signerDigest(const CRYPT_PROVIDER_SGNR& signer, KeyDigest& digest, DWORD& chainErrors) {
    const auto encode = systemFunction<decltype(&CryptEncodeObjectEx)>(encodeObject);
    const auto hash = systemFunction<decltype(&CryptHashCertificate)>(hashCertificate);
    if (encode == nullptr || hash == nullptr) {
        return false;
    }
    chainErrors = signer.pChainContext->TrustStatus.dwErrorStatus;
    BYTE* encoded = nullptr;
    DWORD encodedLength = 0;
    if (!encode(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, &signer.pasCertChain[0].pCert->pCertInfo->SubjectPublicKeyInfo,
                CRYPT_ENCODE_ALLOC_FLAG, nullptr, &encoded, &encodedLength)) {
        return false;
    }
    DWORD digestLength = kKeyDigestBytes;
    const bool hashed = hash(0, CALG_SHA_256, 0, encoded, encodedLength, digest.bytes, &digestLength) &&
                        digestLength == kKeyDigestBytes;
    LocalFree(encoded);
    return hashed;
}

// The value of a DER element that spans the whole buffer: what follows its
// tag and length. False when the buffer is not exactly one element with `tag`.
bool derValue(const BYTE* der, DWORD size, BYTE tag, const BYTE*& value, DWORD& valueSize) {
    if (size < 2 || der[0] != tag) {
        return false;
    }
    DWORD header = 2;
    DWORD length = der[1];
    if ((length & 0x80) != 0) {
        const DWORD lengthBytes = length & 0x7F;
        if (lengthBytes == 0 || lengthBytes > 4 || size < 2 + lengthBytes) {
            return false;
        }
        length = 0;
        for (DWORD i = 0; i < lengthBytes; ++i) {
            length = (length << 8) | der[2 + i];
        }
        header += lengthBytes;
    }
    if (length != size - header) {
        return false;
    }
    value = der + header;
    valueSize = length;
    return true;
}

// The signer's one messageDigest attribute, as the octets it holds. A signer
// with none, with two, or with one of another form has no digest to compare.
bool messageDigestOf(const CMSG_SIGNER_INFO& info, BYTE* digest, DWORD& digestSize) {
    const CRYPT_ATTRIBUTE* found = nullptr;
    for (DWORD i = 0; i < info.AuthAttrs.cAttr; ++i) {
        const CRYPT_ATTRIBUTE& attribute = info.AuthAttrs.rgAttr[i];
        if (attribute.pszObjId != nullptr && std::strcmp(attribute.pszObjId, szOID_PKCS_9_MESSAGE_DIGEST) == 0) {
            if (found != nullptr) {
                return false;
            }
            found = &attribute;
        }
    }
    if (found == nullptr || found->cValue != 1) {
        return false;
    }
    const BYTE* value = nullptr;
    DWORD valueSize = 0;
    if (!derValue(found->rgValue[0].pbData, found->rgValue[0].cbData, 0x04, value, valueSize) ||
        valueSize > digestSize) {
        return false;
    }
    CopyMemory(digest, value, valueSize);
    digestSize = valueSize;
    return true;
}

// The hashes an Authenticode signer may name; anything else is no digest
// this program can compare.
ALG_ID digestAlgorithmOf(const CMSG_SIGNER_INFO& info) {
    const auto toAlgId = systemFunction<decltype(&CertOIDToAlgId)>(oidToAlgId);
    const ALG_ID algorithm =
        toAlgId != nullptr && info.HashAlgorithm.pszObjId != nullptr ? toAlgId(info.HashAlgorithm.pszObjId) : 0;
    switch (algorithm) {
    case CALG_SHA1:
    case CALG_SHA_256:
    case CALG_SHA_384:
    case CALG_SHA_512:
        return algorithm;
    default:
        return 0;
    }
}

// Every link of an Authenticode signature, from the trust state that
// WinVerifyTrust accepted: the file's digest is in the signed content
// (SpcIndirectData), the signer's messageDigest attribute is the digest of
// that content, and the signer's signature over its attributes verifies with
// the key of the certificate that is compared with the pins. Wine's
// WinVerifyTrust checks the first and the last but never compares
// messageDigest with the content, so that a publisher's SignerInfo and
// certificate, copied around another file's content, would pass there; on
// Windows this agrees with the platform. The message must have exactly one
// signer, as Authenticode has.
bool signatureLinksHold(const CRYPT_PROVIDER_DATA& provider, const CRYPT_PROVIDER_SGNR& signer) {
    const auto getParam = systemFunction<decltype(&CryptMsgGetParam)>(msgGetParam);
    const auto control = systemFunction<decltype(&CryptMsgControl)>(msgControl);
    const auto hash = systemFunction<decltype(&CryptHashCertificate)>(hashCertificate);
    if (getParam == nullptr || control == nullptr || hash == nullptr || provider.hMsg == nullptr ||
        signer.psSigner == nullptr) {
        return false;
    }
    DWORD signers = 0;
    DWORD size = sizeof signers;
    if (!getParam(provider.hMsg, CMSG_SIGNER_COUNT_PARAM, 0, &signers, &size) || signers != 1) {
        return false;
    }
    size = 0;
    if (!getParam(provider.hMsg, CMSG_CONTENT_PARAM, 0, nullptr, &size) || size == 0) {
        return false;
    }
    const std::unique_ptr<BYTE[]> content(new BYTE[size]);
    const BYTE* signedValue = nullptr;
    DWORD signedSize = 0;
    if (!getParam(provider.hMsg, CMSG_CONTENT_PARAM, 0, content.get(), &size) ||
        !derValue(content.get(), size, 0x30, signedValue, signedSize)) {
        return false;
    }
    const ALG_ID algorithm = digestAlgorithmOf(*signer.psSigner);
    BYTE attributeDigest[64];
    DWORD attributeSize = sizeof attributeDigest;
    BYTE contentDigest[64];
    DWORD contentSize = sizeof contentDigest;
    if (algorithm == 0 || !messageDigestOf(*signer.psSigner, attributeDigest, attributeSize) ||
        !hash(0, algorithm, 0, signedValue, signedSize, contentDigest, &contentSize) ||
        contentSize != attributeSize || std::memcmp(contentDigest, attributeDigest, contentSize) != 0) {
        return false;
    }
    CMSG_CTRL_VERIFY_SIGNATURE_EX_PARA verify{};
    verify.cbSize = sizeof verify;
    verify.dwSignerIndex = 0;
    verify.dwSignerType = CMSG_VERIFY_SIGNER_CERT;
    verify.pvSigner = const_cast<CERT_CONTEXT*>(signer.pasCertChain[0].pCert);
    return control(provider.hMsg, 0, CMSG_CTRL_VERIFY_SIGNATURE_EX, &verify) != FALSE;
}

// The trust state's one signer, with its chain and certificate; null when
// there is none to read.
const CRYPT_PROVIDER_SGNR* signerOf(HANDLE state, const CRYPT_PROVIDER_DATA*& provider) {
    const auto fromState = systemFunction<decltype(&WTHelperProvDataFromStateData)>(provDataFromState);
    const auto fromChain = systemFunction<decltype(&WTHelperGetProvSignerFromChain)>(signerFromChain);
    if (fromState == nullptr || fromChain == nullptr) {
        return nullptr;
    }
    CRYPT_PROVIDER_DATA* data = fromState(state);
    const CRYPT_PROVIDER_SGNR* signer = data != nullptr ? fromChain(data, 0, FALSE, 0) : nullptr;
    if (signer == nullptr || signer->csCertChain == 0 || signer->pasCertChain == nullptr ||
        signer->pasCertChain[0].pCert == nullptr || signer->pChainContext == nullptr) {
        return nullptr;
    }
    provider = data;
    return signer;
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
        const CRYPT_PROVIDER_DATA* provider = nullptr;
        const CRYPT_PROVIDER_SGNR* signer = signerOf(data.hWVTStateData, provider);
        check.haveSigner = signer != nullptr && signerDigest(*signer, check.signer, check.chainErrors);
        check.verdict = !check.haveSigner || !isAcceptedChainErrors(check.chainErrors) ? PublisherVerdict::Invalid
                        : !signatureLinksHold(*provider, *signer)                      ? PublisherVerdict::PartsDiffer
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
    case PublisherVerdict::PartsDiffer:
        return "signature parts do not match";
    case PublisherVerdict::KeysNotKept:
        return "signed, but does not pin the publisher's keys";
    case PublisherVerdict::Link:
        return "a link, not a file";
    case PublisherVerdict::OtherImage:
        return "the process started is not the file checked";
    default:
        return "cannot be opened alone";
    }
}

}  // namespace kes
