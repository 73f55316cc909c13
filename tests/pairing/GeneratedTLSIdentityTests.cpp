#include "pairing/GeneratedTLSIdentity.hpp"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "core/Base64.hpp"
#include "core/Json.hpp"
#include "core/Logger.hpp"
#include "core/SecureRandom.hpp"
#include "pairing/P256SigningKey.hpp"
#include "support/FakeSecretStore.hpp"

namespace quillbridge {
namespace {

const Uuid exampleID = *Uuid::parse("AB12CD34-EF56-AB78-CD90-EF12AB34CD56");
// 2026-03-04 05:06:07 UTC.
const Date exampleDate = Date::fromUnixSeconds(1772600767);

struct CommandResult {
    int exitCode = -1;
    std::string output;
};

CommandResult run(const std::string& command) {
    CommandResult result;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr)
        return result;
    char buffer[4096];
    while (std::size_t count = std::fread(buffer, 1, sizeof buffer, pipe))
        result.output.append(buffer, count);
    int status = ::pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

class TemporaryFile {
public:
    explicit TemporaryFile(ByteView content) {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "quillbridge-certificate-XXXXXX").string();
        int descriptor = ::mkstemp(pattern.data());
        EXPECT_GE(descriptor, 0);
        path_ = pattern;
        EXPECT_EQ(::write(descriptor, content.data(), content.size()), static_cast<ssize_t>(content.size()));
        ::close(descriptor);
    }
    ~TemporaryFile() { std::filesystem::remove(path_); }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

GeneratedTLSIdentity::StoredIdentity exampleIdentity() {
    std::string names[] = {GeneratedTLSIdentity::dnsName(exampleID)};
    auto stored = GeneratedTLSIdentity::makeStoredIdentity(GeneratedTLSIdentity::commonName(exampleID), names,
                                                           exampleDate);
    EXPECT_TRUE(stored);
    return std::move(*stored);
}

// The serial number INTEGER: certificate SEQUENCE, tbsCertificate SEQUENCE, [0] version, then the serial.
ByteView serialElement(ByteView certificate) {
    std::size_t cursor = 0;
    auto skipHeader = [&](std::size_t at) {
        std::size_t lengthByte = certificate[at + 1];
        return at + 2 + (lengthByte >= 0x80 ? lengthByte - 0x80 : 0);
    };
    cursor = skipHeader(0);       // certificate
    cursor = skipHeader(cursor);  // tbsCertificate
    cursor += 5;                  // A0 03 02 01 02
    return certificate.subspan(cursor, 2 + certificate[cursor + 1]);
}

TEST(GeneratedTLSIdentityTests, NamesAndAccountFollowTheLocalPeerIdentifier) {
    EXPECT_EQ(GeneratedTLSIdentity::commonName(exampleID),
              "Quillbridge-ab12cd34-ef56-ab78-cd90-ef12ab34cd56");
    EXPECT_EQ(GeneratedTLSIdentity::dnsName(exampleID), "AB12CD34-EF56-AB78-CD90-EF12AB34CD56.local");
    EXPECT_EQ(GeneratedTLSIdentity::secretAccount(exampleID),
              "local.AB12CD34-EF56-AB78-CD90-EF12AB34CD56-v2");
}

TEST(GeneratedTLSIdentityTests, StrictParsersAcceptTheCertificateAndItsContentIsAsIntended) {
    auto stored = exampleIdentity();
    ASSERT_TRUE(stored.notValidAfter);
    EXPECT_DOUBLE_EQ(stored.notValidAfter->unixSeconds(), exampleDate.unixSeconds() + 365 * 86400.0);
    EXPECT_EQ(stored.privateKeyX963.size(), 97u);
    TemporaryFile file(stored.certificateDER);

    auto openssl = run("openssl x509 -inform DER -noout -text -in " + file.path());
    ASSERT_EQ(openssl.exitCode, 0) << openssl.output;
    for (const char* expected : {
             "Version: 3 (0x2)",
             "Signature Algorithm: ecdsa-with-SHA256",
             "Issuer: CN = Quillbridge-ab12cd34-ef56-ab78-cd90-ef12ab34cd56",
             "Subject: CN = Quillbridge-ab12cd34-ef56-ab78-cd90-ef12ab34cd56",
             "Not Before: Mar  4 05:06:07 2026 GMT",
             "Not After : Mar  4 05:06:07 2027 GMT",
             "NIST CURVE: P-256",
             "X509v3 Basic Constraints: critical",
             "CA:FALSE",
             "X509v3 Key Usage: critical",
             "Digital Signature, Key Encipherment, Key Agreement",
             "TLS Web Server Authentication, TLS Web Client Authentication",
             "DNS:AB12CD34-EF56-AB78-CD90-EF12AB34CD56.local",
         }) {
        EXPECT_NE(openssl.output.find(expected), std::string::npos) << expected << "\n" << openssl.output;
    }
    // Exactly these four extensions, the last two not critical.
    EXPECT_NE(openssl.output.find("X509v3 Extended Key Usage: \n"), std::string::npos) << openssl.output;
    EXPECT_NE(openssl.output.find("X509v3 Subject Alternative Name: \n"), std::string::npos)
        << openssl.output;

    auto certtool = run("certtool --certificate-info --inder --infile " + file.path());
    EXPECT_EQ(certtool.exitCode, 0) << certtool.output;
    EXPECT_NE(certtool.output.find("Quillbridge-ab12cd34-ef56-ab78-cd90-ef12ab34cd56"), std::string::npos);

    // Python's own ssl decoder and the cryptography package, which also checks the signature with the
    // certificate's own key and reads the validity back.
    std::string script =
        "import ssl, sys, datetime\n"
        "from cryptography import x509\n"
        "from cryptography.hazmat.primitives.asymmetric import ec\n"
        "der = open(sys.argv[1], 'rb').read()\n"
        "pem = sys.argv[1] + '.pem'\n"
        "open(pem, 'w').write(ssl.DER_cert_to_PEM_cert(der))\n"
        "decoded = ssl._ssl._test_decode_cert(pem)\n"
        "assert decoded['subjectAltName'] == (('DNS', 'AB12CD34-EF56-AB78-CD90-EF12AB34CD56.local'),), "
        "decoded\n"
        "cert = x509.load_der_x509_certificate(der)\n"
        "cert.public_key().verify(cert.signature, cert.tbs_certificate_bytes, "
        "ec.ECDSA(cert.signature_hash_algorithm))\n"
        "assert cert.not_valid_after - cert.not_valid_before == datetime.timedelta(days=365)\n"
        "assert cert.serial_number > 0\n"
        "print('ok')\n";
    TemporaryFile scriptFile(asBytes(script));
    auto python = run("/usr/bin/python3 " + scriptFile.path() + " " + file.path());
    std::filesystem::remove(file.path() + ".pem");
    EXPECT_EQ(python.exitCode, 0) << python.output;
    EXPECT_EQ(python.output, "ok\n");
}

TEST(GeneratedTLSIdentityTests, ACertificateThatOutlives2049SaysSo) {
    // Made 2049-06-01 00:00:00 UTC: it expires in 2050, which a two-digit year would read as 1950.
    std::string names[] = {"host.local"};
    auto stored = GeneratedTLSIdentity::makeStoredIdentity("host", names, Date::fromUnixSeconds(2506118400));
    ASSERT_TRUE(stored);
    TemporaryFile file(stored->certificateDER);
    auto openssl = run("openssl x509 -inform DER -noout -dates -in " + file.path());
    ASSERT_EQ(openssl.exitCode, 0) << openssl.output;
    EXPECT_NE(openssl.output.find("notBefore=Jun  1 00:00:00 2049 GMT"), std::string::npos) << openssl.output;
    EXPECT_NE(openssl.output.find("notAfter=Jun  1 00:00:00 2050 GMT"), std::string::npos) << openssl.output;
}

TEST(GeneratedTLSIdentityTests, SerialNumbersAreAlwaysMinimalPositiveIntegers) {
    auto random = [](std::span<std::uint8_t> buffer) { fillSecureRandom(buffer); };
    for (int round = 0; round < 1000; ++round) {
        Bytes serial = GeneratedTLSIdentity::serialNumberContent(random);
        ASSERT_TRUE(serial.size() == 16 || serial.size() == 17);
        EXPECT_EQ(serial[0] & 0x80, 0);
        if (serial[0] == 0x00) {
            EXPECT_EQ(serial.size(), 17u);
            EXPECT_NE(serial[1] & 0x80, 0);
        } else {
            EXPECT_EQ(serial.size(), 16u);
        }
    }

    // A draw that starts with a zero byte is drawn again; a top bit set gets a zero byte in front.
    std::deque<std::uint8_t> firstBytes{0x00, 0x00, 0x7F, 0x00, 0x80, 0x01};
    auto scripted = [&](std::span<std::uint8_t> buffer) {
        std::fill(buffer.begin(), buffer.end(), 0x11);
        buffer[0] = firstBytes.front();
        firstBytes.pop_front();
    };
    EXPECT_EQ(toHex(GeneratedTLSIdentity::serialNumberContent(scripted)), "7f111111111111111111111111111111");
    EXPECT_EQ(toHex(GeneratedTLSIdentity::serialNumberContent(scripted)),
              "0080111111111111111111111111111111");
    EXPECT_EQ(toHex(GeneratedTLSIdentity::serialNumberContent(scripted)), "01111111111111111111111111111111");

    // And the certificate carries it as it is.
    auto stored = exampleIdentity();
    ByteView serial = serialElement(stored.certificateDER);
    EXPECT_EQ(serial[0], 0x02);
    EXPECT_TRUE(serial[1] == 16 || serial[1] == 17);
}

TEST(GeneratedTLSIdentityTests, TheStoredFormIsTheJSONOfItsThreeFields) {
    auto stored = exampleIdentity();
    auto json = encodeJson(stored);
    ASSERT_TRUE(json);
    auto parsed = parseJson(*json);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->size(), 3u);
    EXPECT_EQ((*parsed)["certificateDER"], encodeBase64(stored.certificateDER));
    EXPECT_EQ((*parsed)["privateKeyX963"], encodeBase64(stored.privateKeyX963));
    EXPECT_DOUBLE_EQ((*parsed)["notValidAfter"].get<double>(),
                     stored.notValidAfter->secondsSinceReferenceDate);
}

class GeneratedTLSIdentityStoreTests : public ::testing::Test {
protected:
    std::optional<GeneratedTLSIdentity::StoredIdentity> storedItem() {
        auto item =
            secrets.item(GeneratedTLSIdentity::secretService, GeneratedTLSIdentity::secretAccount(exampleID));
        if (!item)
            return std::nullopt;
        auto decoded = decodeJson<GeneratedTLSIdentity::StoredIdentity>(asText(*item));
        if (!decoded)
            return std::nullopt;
        return std::move(*decoded);
    }
    void storeItem(std::string json) {
        secrets.setItem(GeneratedTLSIdentity::secretService, GeneratedTLSIdentity::secretAccount(exampleID),
                        toBytes(json));
    }
    void storeItem(const GeneratedTLSIdentity::StoredIdentity& stored) { storeItem(*encodeJson(stored)); }

    FakeSecretStore secrets;
    ScopedLogCapture logs;
};

TEST_F(GeneratedTLSIdentityStoreTests, CreatesOnceAndThenReturnsTheSameCertificateWithoutWriting) {
    auto first = GeneratedTLSIdentity::loadOrCreate(secrets, exampleID);
    ASSERT_TRUE(first);
    EXPECT_EQ(secrets.writeCount(), 1);
    EXPECT_EQ(first->identity.certificateDER, first->certificateDER);
    auto stored = storedItem();
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->certificateDER, first->certificateDER);
    EXPECT_EQ(stored->privateKeyX963, first->identity.privateKeyX963);

    auto second = GeneratedTLSIdentity::loadOrCreate(secrets, exampleID);
    EXPECT_EQ(second, first);
    EXPECT_EQ(secrets.writeCount(), 1);
    // The key belongs to the certificate.
    EXPECT_TRUE(GeneratedTLSIdentity::tlsIdentity(*stored));
}

TEST_F(GeneratedTLSIdentityStoreTests, ReusesExpiredItemsAndItemsWithoutExpiry) {
    auto stored = exampleIdentity();
    stored.notValidAfter = Date::fromUnixSeconds(1000);
    storeItem(stored);
    auto loaded = GeneratedTLSIdentity::loadOrCreate(secrets, exampleID);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->certificateDER, stored.certificateDER);

    stored.notValidAfter.reset();
    storeItem(stored);
    loaded = GeneratedTLSIdentity::loadOrCreate(secrets, exampleID);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->certificateDER, stored.certificateDER);
    EXPECT_EQ(secrets.writeCount(), 0);
}

TEST_F(GeneratedTLSIdentityStoreTests, ReplacesItemsThatDoNotGiveAUsableIdentity) {
    auto good = exampleIdentity();
    auto otherKey = P256SigningKey::generate().x963Representation();
    GeneratedTLSIdentity::StoredIdentity nonMinimalSerial{good.certificateDER, good.privateKeyX963.copy(),
                                                          good.notValidAfter};
    ByteView serial = serialElement(nonMinimalSerial.certificateDER);
    auto offset = static_cast<std::size_t>(serial.data() - nonMinimalSerial.certificateDER.data()) + 2;
    nonMinimalSerial.certificateDER[offset] = 0x00;
    nonMinimalSerial.certificateDER[offset + 1] = 0x01;

    const std::string cases[] = {
        "{\"certificateDER\":\"" + encodeBase64(good.certificateDER) + "\"}",
        "{\"certificateDER\":\"" + encodeBase64(good.certificateDER) + "\",\"privateKeyX963\":\"" +
            encodeBase64(otherKey) + "\"}",
        *encodeJson(nonMinimalSerial),
        "{\"certificateDER\":\"AAAA\",\"privateKeyX963\":\"" + encodeBase64(good.privateKeyX963) + "\"}",
        "not json",
    };
    for (const auto& item : cases) {
        storeItem(item);
        auto loaded = GeneratedTLSIdentity::loadOrCreate(secrets, exampleID);
        ASSERT_TRUE(loaded) << item;
        EXPECT_NE(loaded->certificateDER, good.certificateDER);
        auto stored = storedItem();
        ASSERT_TRUE(stored);
        EXPECT_EQ(stored->certificateDER, loaded->certificateDER);
    }
}

TEST_F(GeneratedTLSIdentityStoreTests, UsesAGeneratedIdentityOnlyOnceItIsStored) {
    secrets.writeFailure = SecretStoreError::ioFailure;
    EXPECT_FALSE(GeneratedTLSIdentity::loadOrCreate(secrets, exampleID));
    EXPECT_EQ(secrets.itemCount(), 0u);
    EXPECT_EQ(logs.messages("GeneratedTLSIdentity"),
              std::vector<std::string>{"Unable to persist a generated TLS identity"});
}

TEST_F(GeneratedTLSIdentityStoreTests, RotationNeverCreatesTheFirstIdentity) {
    EXPECT_FALSE(GeneratedTLSIdentity::rotate(secrets, exampleID));
    EXPECT_EQ(secrets.itemCount(), 0u);
    EXPECT_EQ(secrets.writeCount(), 0);
}

TEST_F(GeneratedTLSIdentityStoreTests, RotationReplacesKeyAndSerialAndStoresThem) {
    auto original = GeneratedTLSIdentity::loadOrCreate(secrets, exampleID);
    ASSERT_TRUE(original);
    auto rotated = GeneratedTLSIdentity::rotate(secrets, exampleID);
    ASSERT_TRUE(rotated);
    EXPECT_NE(rotated->identity.privateKeyX963, original->identity.privateKeyX963);
    EXPECT_NE(
        Bytes(serialElement(rotated->certificateDER).begin(), serialElement(rotated->certificateDER).end()),
        Bytes(serialElement(original->certificateDER).begin(),
              serialElement(original->certificateDER).end()));
    EXPECT_EQ(storedItem()->certificateDER, rotated->certificateDER);
    EXPECT_EQ(GeneratedTLSIdentity::loadOrCreate(secrets, exampleID), rotated);
}

TEST_F(GeneratedTLSIdentityStoreTests, FailedRotationLeavesTheStoredIdentity) {
    auto original = GeneratedTLSIdentity::loadOrCreate(secrets, exampleID);
    ASSERT_TRUE(original);
    secrets.writeFailure = SecretStoreError::interactionRequired;
    EXPECT_FALSE(GeneratedTLSIdentity::rotate(secrets, exampleID));
    EXPECT_EQ(storedItem()->certificateDER, original->certificateDER);
    EXPECT_EQ(logs.messages("GeneratedTLSIdentity"),
              std::vector<std::string>{"Unable to persist a rotated TLS identity"});
    secrets.writeFailure.reset();
    EXPECT_EQ(GeneratedTLSIdentity::loadOrCreate(secrets, exampleID), original);
}

}  // namespace
}  // namespace quillbridge
