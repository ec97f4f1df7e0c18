#pragma once

// The API key kept between runs, one per server: in the Secret
// Service through libsecret, or, when that cannot be reached, in the private
// fallback file "api-key" beside the settings. No call throws; the libsecret
// calls are synchronous and block the calling (GUI) thread.

#include <optional>
#include <string>

namespace irvelo {

struct Credentials {
  // The key stored for `server` (compared byte for byte), or nothing.
  [[nodiscard]] static std::optional<std::string> load(const std::string& server);

  // True when the key went to the Secret Service or to the fallback file;
  // false means it is lost at the next start, which the caller must say.
  [[nodiscard]] static bool store(const std::string& server, const std::string& key);

  // Removes the Secret Service item for `server` and the fallback file,
  // whichever server that file holds. Reports nothing.
  static void clear(const std::string& server);
};

}  // namespace irvelo
