#include <gtest/gtest.h>

#include "platform/linux/quic/GnuTLSCredentials.hpp"
#include "support/quic/TestTLSIdentity.hpp"

namespace quillbridge {
namespace {

TEST(GnuTLSCredentials, TakesAMatchingP256IdentityAndRefusesBrokenOnes) {
    const auto identity = makeTestTLSIdentity();
    const auto other = makeTestTLSIdentity("Other");
    EXPECT_TRUE(GnuTLSCredentials::fromIdentity(identity).has_value());

    struct Case {
        const char* name;
        TLSIdentity identity;
    };
    auto truncatedKey = identity;
    truncatedKey.privateKeyX963.pop_back();
    auto compressedPrefix = identity;
    compressedPrefix.privateKeyX963[0] = 0x02;
    auto offCurve = identity;
    offCurve.privateKeyX963[40] ^= 0x01;  // Y no longer fits X
    auto wrongScalar = identity;
    std::copy(other.privateKeyX963.end() - 32, other.privateKeyX963.end(),
              wrongScalar.privateKeyX963.end() - 32);
    auto keyOfAnotherCertificate = identity;
    keyOfAnotherCertificate.privateKeyX963 = other.privateKeyX963.copy();
    auto garbageCertificate = identity;
    garbageCertificate.certificateDER = {0x30, 0x03, 0x02, 0x01, 0x01};
    auto noCertificate = identity;
    noCertificate.certificateDER.clear();
    for (const auto& c :
         {Case{"truncated key", truncatedKey}, Case{"not uncompressed", compressedPrefix},
          Case{"point off the curve", offCurve}, Case{"scalar of another key", wrongScalar},
          Case{"key of another certificate", keyOfAnotherCertificate},
          Case{"unreadable certificate", garbageCertificate}, Case{"no certificate", noCertificate}}) {
        auto credentials = GnuTLSCredentials::fromIdentity(c.identity);
        EXPECT_FALSE(credentials.has_value()) << c.name;
        if (!credentials) {
            EXPECT_FALSE(credentials.error().empty());
        }
    }
}

}  // namespace
}  // namespace quillbridge
