// Without a Secret Service, in two set-ups made before anything in the test
// process uses the session bus:
// - CredentialsNoSecretService: a private session bus (GTestDBus) on which
//   org.freedesktop.secrets neither runs nor can be activated;
// - CredentialsFallback: no session bus at all (the address names a socket
//   that does not exist), for the details of the fallback file.
// Both make every libsecret call fail, so the fallback file is used. The
// details run without a bus because GTestDBus' tear-down waits up to 30
// seconds whenever libsecret still holds a reference to the bus connection,
// which libsecret 0.20.5 now and then does (always after a second
// secret_password_clear_sync): so the GTestDBus tests are few and clear once.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <optional>
#include <string>
#include <vector>

#include "credentials_test_support.hpp"
#include "storage/credentials.hpp"

namespace irvelo {
namespace {

using test::exists;
using test::fallback_file;
using test::mode_of;
using test::read_file;
using test::write_file;

const std::string kUnavailablePrefix = "Secret Service unavailable (";
const std::string kUnavailableSuffix = "), using the fallback file";

bool is_unavailable_message(const test::LogRecord& r) {
  const auto& m = r.message;
  return r.level == G_LOG_LEVEL_INFO && r.domain.empty() && m.rfind(kUnavailablePrefix, 0) == 0 &&
         m.size() > kUnavailablePrefix.size() + kUnavailableSuffix.size() &&
         m.compare(m.size() - kUnavailableSuffix.size(), kUnavailableSuffix.size(), kUnavailableSuffix) == 0;
}

template <class NoService>
class WithoutSecretService : public test::CredentialsTest {
 protected:
  void write_fallback(const std::string& content) {
    g_mkdir_with_parents(config_dir().c_str(), 0700);
    write_file(fallback_file(), content, 0600);
  }

  std::size_t unavailable_messages() const {
    std::size_t n = 0;
    for (const auto& r : this->logs_.own()) n += is_unavailable_message(r) ? 1 : 0;
    return n;
  }

  // A store into a read-only directory fails with a warning and leaves the
  // file of the key stored before as it was.
  void expect_unwritable_directory_keeps_the_old_file() {
    const std::string old_server = "https://old.example.org";
    const std::string old_key = this->key();
    const std::string k = this->key();
    write_fallback(old_server + "\n" + old_key + "\n");
    {
      test::ReadOnlyDir read_only(config_dir());
      ASSERT_TRUE(read_only.ok()) << "the directory could not be made read-only";
      EXPECT_FALSE(Credentials::store("https://new.example.org", k));
    }
    const auto own = this->logs_.own();
    ASSERT_EQ(own.size(), 2u);
    EXPECT_TRUE(is_unavailable_message(own[0])) << own[0].message;
    EXPECT_EQ(own[1].level, G_LOG_LEVEL_WARNING);
    const std::string prefix = "cannot write " + fallback_file() + ": ";
    EXPECT_EQ(own[1].message.rfind(prefix, 0), 0u) << own[1].message;
    EXPECT_GT(own[1].message.size(), prefix.size());

    EXPECT_EQ(read_file(fallback_file()), old_server + "\n" + old_key + "\n");
    EXPECT_EQ(mode_of(fallback_file()), 0600);
    EXPECT_EQ(Credentials::load(old_server), old_key);
    EXPECT_EQ(Credentials::load("https://new.example.org"), std::nullopt);
  }

  NoService no_service_;
};

class CredentialsNoSecretService : public WithoutSecretService<test::NoSecretService> {};
class CredentialsFallback : public WithoutSecretService<test::NoSessionBus> {};

// --- A session bus without a Secret Service ---

TEST_F(CredentialsNoSecretService, NothingAnywhereGivesNothingAfterTheMessage) {
  (void)key();
  EXPECT_EQ(Credentials::load("https://a.example.org"), std::nullopt);
  const auto own = logs_.own();
  ASSERT_EQ(own.size(), 1u);
  EXPECT_TRUE(is_unavailable_message(own[0])) << own[0].message;
  // The bus answered that nobody provides the Secret Service.
  EXPECT_NE(own[0].message.find("org.freedesktop.secrets"), std::string::npos) << own[0].message;
}

TEST_F(CredentialsNoSecretService, StoreLoadAndClearUseTheFallbackFile) {
  const std::string a = "https://a.example.org";
  const std::string k = key();
  ASSERT_FALSE(exists(config_dir()));

  KeyPlace stored_in = KeyPlace::Nowhere;
  ASSERT_TRUE(Credentials::store(a, k, &stored_in));
  EXPECT_EQ(stored_in, KeyPlace::PrivateFile);
  EXPECT_EQ(Credentials::fallback_path(), fallback_file());
  ASSERT_EQ(unavailable_messages(), 1u);
  EXPECT_EQ(read_file(fallback_file()), a + "\n" + k + "\n");
  EXPECT_EQ(mode_of(fallback_file()), 0600);
  EXPECT_EQ(mode_of(config_dir()), 0700);

  EXPECT_EQ(Credentials::load(a), k);
  EXPECT_EQ(Credentials::load("https://b.example.org"), std::nullopt);
  EXPECT_EQ(unavailable_messages(), 3u);

  Credentials::clear("https://b.example.org");
  EXPECT_FALSE(exists(fallback_file()));
  EXPECT_EQ(Credentials::load(a), std::nullopt);
  EXPECT_EQ(logs_.own().size(), unavailable_messages()) << "clear reports nothing";
}

TEST_F(CredentialsNoSecretService, UnwritableDirectoryFailsWithTheWarning) {
  expect_unwritable_directory_keeps_the_old_file();
}

// --- No session bus: the fallback file in detail ---

TEST_F(CredentialsFallback, NothingAnywhereGivesNothingAfterTheMessage) {
  (void)key();
  EXPECT_EQ(Credentials::load("https://a.example.org"), std::nullopt);
  const auto own = logs_.own();
  ASSERT_EQ(own.size(), 1u);
  EXPECT_TRUE(is_unavailable_message(own[0])) << own[0].message;
}

TEST_F(CredentialsFallback, StoreWritesTheFileByteForByte) {
  const std::string a = "https://a.example.org";
  const std::string k = key();
  ASSERT_FALSE(exists(config_dir()));

  ASSERT_TRUE(Credentials::store(a, k));
  const auto own = logs_.own();
  ASSERT_EQ(own.size(), 1u);
  EXPECT_TRUE(is_unavailable_message(own[0])) << own[0].message;

  EXPECT_EQ(read_file(fallback_file()), a + "\n" + k + "\n");
  EXPECT_EQ(mode_of(fallback_file()), 0600);
  EXPECT_EQ(mode_of(config_dir()), 0700);

  EXPECT_EQ(Credentials::load(a), k);
  EXPECT_EQ(unavailable_messages(), 2u);
}

TEST_F(CredentialsFallback, AnotherServersFileIsNotReturned) {
  const std::string a = "https://a.example.org";
  const std::string k = key();
  ASSERT_TRUE(Credentials::store(a, k));
  EXPECT_EQ(Credentials::load("https://b.example.org"), std::nullopt);
  EXPECT_EQ(Credentials::load(a + "/"), std::nullopt);
  EXPECT_EQ(Credentials::load("https://A.example.org"), std::nullopt);
  EXPECT_EQ(Credentials::load(""), std::nullopt);
  EXPECT_EQ(Credentials::load(a), k);
}

TEST_F(CredentialsFallback, StoreReplacesTheWholeFileWithMode0600) {
  const std::string a = "https://a.example.org";
  const std::string b = "https://b.example.org";
  const std::string ka = key();
  const std::string kb = key();
  // An older file with looser permissions and more content than the new one.
  write_fallback(a + "\n" + ka + "\nleftover line\n");
  ASSERT_EQ(chmod(fallback_file().c_str(), 0644), 0);

  ASSERT_TRUE(Credentials::store(b, kb));
  EXPECT_EQ(read_file(fallback_file()), b + "\n" + kb + "\n");
  EXPECT_EQ(mode_of(fallback_file()), 0600);
  EXPECT_EQ(Credentials::load(a), std::nullopt) << "only one server's key fits in the file";
  EXPECT_EQ(Credentials::load(b), kb);
}

TEST_F(CredentialsFallback, FirstLineEndingInCarriageReturnDoesNotMatch) {
  const std::string a = "https://a.example.org";
  const std::string k = key();
  write_fallback(a + "\r\n" + k + "\n");
  EXPECT_EQ(Credentials::load(a), std::nullopt);
  EXPECT_EQ(Credentials::load(a + "\r"), k) << "the first line is compared byte for byte";
}

TEST_F(CredentialsFallback, ShortOrEmptyKeyLinesGiveNothing) {
  const std::string a = "https://a.example.org";
  const std::string k = key();
  for (const std::string& content :
       std::vector<std::string>{a, a + "\n", a + "\n\n", a + "\n\n" + k + "\n", std::string(""), "\n" + k + "\n"}) {
    write_fallback(content);
    EXPECT_EQ(Credentials::load(a), std::nullopt) << "content: '" << content << "'";
  }
}

TEST_F(CredentialsFallback, KeyLineWithoutNewlineOrWithMoreLinesAfterIt) {
  const std::string a = "https://a.example.org";
  const std::string k = key();
  write_fallback(a + "\n" + k);
  EXPECT_EQ(Credentials::load(a), k);
  write_fallback(a + "\n" + k + "\nmore\nand more\n");
  EXPECT_EQ(Credentials::load(a), k);
  write_fallback(a + "\n" + k + " \n");
  EXPECT_EQ(Credentials::load(a), k + " ") << "no trimming";
}

TEST_F(CredentialsFallback, ClearDeletesAnotherServersFile) {
  const std::string b = "https://b.example.org";
  const std::string kb = key();
  ASSERT_TRUE(Credentials::store(b, kb));
  ASSERT_TRUE(exists(fallback_file()));
  Credentials::clear("https://a.example.org");
  EXPECT_FALSE(exists(fallback_file()));
  EXPECT_EQ(Credentials::load(b), std::nullopt);
  for (const auto& r : logs_.own()) EXPECT_TRUE(is_unavailable_message(r)) << r.message;
}

TEST_F(CredentialsFallback, ClearWithNothingStoredIsQuiet) {
  (void)key();
  Credentials::clear("https://a.example.org");
  EXPECT_FALSE(exists(fallback_file()));
  EXPECT_TRUE(logs_.own().empty()) << logs_.own().front().message;
}

TEST_F(CredentialsFallback, ClearLeavesADirectoryInPlaceOfTheFile) {
  (void)key();
  ASSERT_EQ(g_mkdir_with_parents(fallback_file().c_str(), 0700), 0);
  Credentials::clear("https://a.example.org");
  EXPECT_TRUE(g_file_test(fallback_file().c_str(), G_FILE_TEST_IS_DIR)) << "only a file is deleted";
}

TEST_F(CredentialsFallback, UnwritableDirectoryFailsWithTheWarningAndKeepsTheOldFile) {
  expect_unwritable_directory_keeps_the_old_file();
}

// A second way to make the directory unwritable for root: a regular file
// stands where the directory should be, so "<file>/api-key" cannot be created
// (ENOTDIR) whatever the permissions.
TEST_F(CredentialsFallback, DirectoryBlockedByAFileFailsWithTheWarning) {
  const std::string k = key();
  write_file(config_dir(), "blocker\n");
  EXPECT_FALSE(Credentials::store("https://a.example.org", k));
  const auto own = logs_.own();
  ASSERT_EQ(own.size(), 2u);
  EXPECT_TRUE(is_unavailable_message(own[0])) << own[0].message;
  EXPECT_EQ(own[1].level, G_LOG_LEVEL_WARNING);
  EXPECT_EQ(own[1].message.rfind("cannot write " + fallback_file() + ": ", 0), 0u) << own[1].message;
  EXPECT_EQ(read_file(config_dir()), "blocker\n");
  EXPECT_EQ(Credentials::load("https://a.example.org"), std::nullopt);
}

// A contrived key that is also part of the fallback file's path, so that the
// path and GLib's error text both hold it: the warning still must not.
TEST_F(CredentialsFallback, AKeyInsideAFailureTextIsLeftOutOfTheLog) {
  const std::string k = "irvelo-desktop";
  keys_.push_back(k);  // checked by TearDown against every message
  ASSERT_NE(fallback_file().find(k), std::string::npos);
  write_file(config_dir(), "blocker\n");
  EXPECT_FALSE(Credentials::store("https://a.example.org", k));
  const auto own = logs_.own();
  ASSERT_EQ(own.size(), 2u);
  EXPECT_EQ(own[1].level, G_LOG_LEVEL_WARNING);
  EXPECT_EQ(own[1].message.rfind("cannot write ", 0), 0u) << own[1].message;
  EXPECT_NE(own[1].message.find(g_strerror(ENOTDIR)), std::string::npos) << own[1].message;
}

}  // namespace
}  // namespace irvelo
