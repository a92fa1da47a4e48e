#include "support/ThrownText.h"
#include "sys/ssl/Certificate.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "native/tls.h"
#include "support/TempDir.h"
#include "sys/ssl/TlsFixture.h"

using testsupport::thrownText;

using sys::ssl::Certificate;

namespace {
int count(const Certificate::Ptr& c) { return c ? native::cert_count(*c->x_) : -1; }
}  // namespace

TEST(Certificate, DefaultsTakeTheFirstExistingEntryOfTheList) {
    testsupport::TempDir dir;
    std::string missing = dir.file("missing.crt");
    std::string folder = dir.file("folder");
    std::filesystem::create_directory(folder);
    for (std::string name : {"ca", "localhost", "other"}) {
        std::filesystem::copy_file(tlstest::cert(name), folder + "/" + name + ".crt");
    }
    EXPECT_EQ(count(Certificate::loadDefaults({missing, tlstest::cert("ca"), folder})), 1);
    EXPECT_EQ(count(Certificate::loadDefaults({missing, folder, tlstest::cert("ca")})), 3);
    EXPECT_EQ(Certificate::loadDefaults({missing}), nullptr);
    EXPECT_EQ(Certificate::loadDefaults({}), nullptr);
}

TEST(Certificate, OneBadCertificateFailsTheWholeLoad) {
    testsupport::TempDir dir;
    std::string mixed = dir.file("mixed.crt");
    testsupport::writeFile(mixed, testsupport::readFile(tlstest::cert("ca")) +
                                      "-----BEGIN CERTIFICATE-----\nbm90IGEgY2VydGlmaWNhdGU=\n-----END CERTIFICATE-----\n" +
                                      testsupport::readFile(tlstest::cert("localhost")));
    // The library counts one certificate that failed (result 1); its text for 1 is the
    // library's own ("ERROR - Generic error" in 2.28, a numbered fallback in older ones).
    const std::string oneFailed = native::tls_error_text(1);
    EXPECT_TRUE(oneFailed == "ERROR - Generic error" || oneFailed == "UNKNOWN ERROR CODE (0001)") << oneFailed;
    EXPECT_EQ(thrownText([&] { Certificate::loadFile(mixed); }), oneFailed);
    // The first existing entry decides, even when it fails.
    EXPECT_EQ(thrownText([&] { Certificate::loadDefaults({mixed, tlstest::cert("ca")}); }), oneFailed);
    EXPECT_NE(thrownText([&] { Certificate::loadFile(dir.file("absent.crt")); }), "nothing thrown");
    EXPECT_NE(thrownText([&] { Certificate::loadPath(dir.file("absent")); }), "nothing thrown");
}

TEST(Certificate, SystemListAndDebiansOwnBundle) {
    auto linux = Certificate::defaultPaths("Linux");
    ASSERT_EQ(linux.size(), 6u);
    EXPECT_EQ(linux.front(), "/etc/ssl/certs/ca-certificates.crt");
    EXPECT_EQ(linux.back(), "/system/etc/security/cacerts");
    EXPECT_EQ(Certificate::defaultPaths("Android"), std::vector<std::string>{"/system/etc/security/cacerts"});
    EXPECT_EQ(Certificate::defaultPaths("BSD").front(), "/usr/local/share/certs/ca-root-nss.crt");
    EXPECT_TRUE(Certificate::defaultPaths("Windows").empty());
    EXPECT_GT(count(Certificate::loadDefaults()), 100);
}
