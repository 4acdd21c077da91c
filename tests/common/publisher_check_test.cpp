// Which answers of the platform's trust check a pinned key makes irrelevant:
// WinVerifyTrust's result codes and the signer chain's error bits. Under Wine
// the test publishers verify with S_OK and no chain error, so these rows are
// the only way to reach the rest of the rule.
#include <gtest/gtest.h>
#include <windows.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <ostream>

#include "common/publisher_check.h"
#include "support/test_support.h"

using namespace kes;

namespace {

struct TrustRow {
    const char* name;
    long status;
    DWORD chainErrors;
    bool holds;
};
void PrintTo(const TrustRow& row, std::ostream* os) { *os << row.name; }

class PinnedTrust : public ::testing::TestWithParam<TrustRow> {};

TEST_P(PinnedTrust, HoldsOnlyWhereTheKeyDecides) {
    const TrustRow& row = GetParam();
    EXPECT_EQ(isAcceptedTrustStatus(row.status) && isAcceptedChainErrors(row.chainErrors), row.holds);
}

constexpr DWORD kNoError = CERT_TRUST_NO_ERROR;

INSTANTIATE_TEST_SUITE_P(
    Publisher, PinnedTrust,
    ::testing::Values(
        // The way to a trusted root and the validity periods do not matter
        // when the signer's key itself is pinned.
        TrustRow{"Verified", S_OK, kNoError, true},
        TrustRow{"UntrustedRoot", CERT_E_UNTRUSTEDROOT, CERT_TRUST_IS_UNTRUSTED_ROOT, true},
        TrustRow{"PartialChain", CERT_E_CHAINING, CERT_TRUST_IS_PARTIAL_CHAIN, true},
        TrustRow{"UntrustedTestRoot", CERT_E_UNTRUSTEDTESTROOT, CERT_TRUST_IS_UNTRUSTED_ROOT, true},
        TrustRow{"Expired", CERT_E_EXPIRED, CERT_TRUST_IS_NOT_TIME_VALID, true},
        TrustRow{"ValidityNotNested", CERT_E_VALIDITYPERIODNESTING, CERT_TRUST_IS_NOT_TIME_NESTED, true},
        TrustRow{"ExpiredSelfSigned", CERT_E_EXPIRED,
                 CERT_TRUST_IS_NOT_TIME_VALID | CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN, true},
        // An accepted code can stand for a chain with other problems as well.
        TrustRow{"ChainingAndWrongUsage", CERT_E_CHAINING,
                 CERT_TRUST_IS_PARTIAL_CHAIN | CERT_TRUST_IS_NOT_VALID_FOR_USAGE, false},
        TrustRow{"UntrustedRootAndBasicConstraints", CERT_E_UNTRUSTEDROOT,
                 CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_INVALID_BASIC_CONSTRAINTS, false},
        TrustRow{"UnknownCriticalExtension", CERT_E_UNTRUSTEDROOT,
                 CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_HAS_NOT_SUPPORTED_CRITICAL_EXT, false},
        TrustRow{"BadCertificateSignature", CERT_E_CHAINING, CERT_TRUST_IS_NOT_SIGNATURE_VALID, false},
        TrustRow{"Cycle", CERT_E_CHAINING, CERT_TRUST_IS_PARTIAL_CHAIN | CERT_TRUST_IS_CYCLIC, false},
        TrustRow{"Revoked", CERT_E_EXPIRED, CERT_TRUST_IS_NOT_TIME_VALID | CERT_TRUST_IS_REVOKED, false},
        TrustRow{"InvalidExtension", S_OK, CERT_TRUST_INVALID_EXTENSION, false},
        // Codes that say the file or its signature does not hold are never
        // accepted, whatever the chain says.
        TrustRow{"FileChangedAfterSigning", TRUST_E_BAD_DIGEST, kNoError, false},
        TrustRow{"NotSigned", TRUST_E_NOSIGNATURE, kNoError, false},
        TrustRow{"NotAFormThatCanBeSigned", TRUST_E_SUBJECT_FORM_UNKNOWN, kNoError, false},
        TrustRow{"ExplicitDistrust", TRUST_E_EXPLICIT_DISTRUST, kNoError, false},
        TrustRow{"RevokedCode", CERT_E_REVOKED, kNoError, false},
        TrustRow{"WrongUsageCode", CERT_E_WRONG_USAGE, kNoError, false},
        TrustRow{"BadSignatureCode", TRUST_E_CERT_SIGNATURE, kNoError, false},
        TrustRow{"NoSignerCertificate", TRUST_E_NO_SIGNER_CERT, kNoError, false},
        TrustRow{"DisallowedByPolicy", CRYPT_E_SECURITY_SETTINGS, kNoError, false}),
    test::RowName());

}  // namespace
