#include "storage/credentials.hpp"

#include <glib.h>
#include <glib/gstdio.h>
#include <libsecret/secret.h>

#include "core/owned.hpp"
#include "storage/settings.hpp"

namespace irvelo {
namespace {

constexpr const char* kAttribute = "server";

const SecretSchema* schema() {
  static const SecretSchema instance = [] {
    SecretSchema s{};
    s.name = "com.larkspan.Irvelo.ApiKey";
    s.flags = SECRET_SCHEMA_NONE;
    s.attributes[0].name = kAttribute;
    s.attributes[0].type = SECRET_SCHEMA_ATTRIBUTE_STRING;
    return s;
  }();
  return &instance;
}

std::string fallback_file() {
  const CharPtr path(g_build_filename(config_dir().c_str(), "api-key", nullptr));
  return path.get();
}

// Every text this file logs passes through here with the key in hand, so that
// the key can never reach a log message, whatever a library put in its error
// text. Removal repeats until no occurrence is left (the text shrinks each
// round, so this ends).
std::string without_key(std::string text, const std::string& key) {
  if (key.empty()) return text;
  for (auto at = text.find(key); at != std::string::npos; at = text.find(key)) text.erase(at, key.size());
  return text;
}

std::optional<std::string> load_fallback(const std::string& server) {
  CharPtr data;
  gsize length = 0;
  if (!g_file_get_contents(fallback_file().c_str(), out(data), &length, nullptr)) return std::nullopt;
  const std::string content(data.get(), length);

  // At most three pieces at newlines: the server, the key, the rest.
  const auto first_end = content.find('\n');
  if (first_end == std::string::npos) return std::nullopt;
  const auto second_start = first_end + 1;
  const auto second_end = content.find('\n', second_start);
  std::string second =
      content.substr(second_start, second_end == std::string::npos ? std::string::npos : second_end - second_start);
  if (content.compare(0, first_end, server) != 0 || second.empty()) return std::nullopt;
  return second;
}

}  // namespace

std::string Credentials::fallback_path() {
  return fallback_file();
}

std::optional<std::string> Credentials::load(const std::string& server, KeyPlace* where) {
  KeyPlace unused = KeyPlace::Nowhere;
  KeyPlace& place = where != nullptr ? *where : unused;
  place = KeyPlace::Nowhere;
  const auto from_file = [&server, &place] {
    auto key = load_fallback(server);
    if (key) place = KeyPlace::PrivateFile;
    return key;
  };
  ErrorPtr error;
  const SecretPtr secret(
      secret_password_lookup_sync(schema(), nullptr, out(error), kAttribute, server.c_str(), nullptr));
  if (error != nullptr) {
    // The key is not known here; a lookup error carries no secret.
    g_info("Secret Service unavailable (%s), using the fallback file", error->message);
    return from_file();
  }
  if (secret != nullptr) {
    place = KeyPlace::Keyring;
    return std::string(secret.get());
  }
  return from_file();
}

bool Credentials::store(const std::string& server, const std::string& key, KeyPlace* where) {
  KeyPlace unused = KeyPlace::Nowhere;
  KeyPlace& place = where != nullptr ? *where : unused;
  place = KeyPlace::Nowhere;
  const std::string label = "Irvelo API key (" + server + ")";
  ErrorPtr error;
  const gboolean stored = secret_password_store_sync(schema(), SECRET_COLLECTION_DEFAULT, label.c_str(), key.c_str(),
                                                     nullptr, out(error), kAttribute, server.c_str(), nullptr);
  const std::string path = fallback_file();
  if (stored && error == nullptr) {
    (void)g_unlink(path.c_str());
    place = KeyPlace::Keyring;
    return true;
  }

  const std::string reason = without_key(error != nullptr ? error->message : "unknown error", key);
  g_info("Secret Service unavailable (%s), using the fallback file", reason.c_str());

  (void)g_mkdir_with_parents(config_dir().c_str(), 0700);
  const std::string content = server + "\n" + key + "\n";
  if (!g_file_set_contents_full(path.c_str(), content.data(), static_cast<gssize>(content.size()),
                                G_FILE_SET_CONTENTS_CONSISTENT, 0600, out(error))) {
    const std::string message = without_key(error != nullptr ? error->message : "unknown error", key);
    g_warning("cannot write %s: %s", without_key(path, key).c_str(), message.c_str());
    return false;
  }
  place = KeyPlace::PrivateFile;
  return true;
}

void Credentials::clear(const std::string& server) {
  // Reports nothing (see the header): without a Secret Service, as on most
  // machines that use the fallback file, every call would fail here.
  (void)secret_password_clear_sync(schema(), nullptr, nullptr, kAttribute, server.c_str(), nullptr);
  (void)g_unlink(fallback_file().c_str());
}

}  // namespace irvelo
