#pragma once

// The API key kept between runs, one per server: in the Secret
// Service through libsecret, or, when that cannot be reached, in the private
// fallback file "api-key" beside the settings. No call throws; the libsecret
// calls are synchronous and block the calling (GUI) thread.

#include <optional>
#include <string>

namespace irvelo {

// Where a key is kept, as the settings window tells the user.
enum class KeyPlace { Nowhere, Keyring, PrivateFile };

struct Credentials {
  // The key stored for `server` (compared byte for byte), or nothing; with
  // `where`, also where it was found.
  [[nodiscard]] static std::optional<std::string> load(const std::string& server, KeyPlace* where = nullptr);

  // True when the key went to the Secret Service or to the fallback file;
  // false means it is lost at the next start, which the caller must say.
  // With `where`, also which of them took it.
  [[nodiscard]] static bool store(const std::string& server, const std::string& key, KeyPlace* where = nullptr);

  // The fallback file's path.
  [[nodiscard]] static std::string fallback_path();

  // Removes the Secret Service item for `server` and the fallback file,
  // whichever server that file holds. Reports nothing.
  static void clear(const std::string& server);
};

}  // namespace irvelo
