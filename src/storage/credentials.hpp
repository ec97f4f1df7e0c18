#pragma once

// The API key kept between runs, one per server: in the Secret
// Service through libsecret, or, when that cannot be reached, in the private
// fallback file "api-key" beside the settings. No call throws. The
// application uses the asynchronous calls: a keyring may ask for its password,
// or create a wallet, for as long as the user takes. The synchronous ones
// block the calling thread.

#include <gio/gio.h>

#include <functional>
#include <optional>
#include <string>

namespace irvelo {

// Where a key is kept, as the settings window tells the user.
enum class KeyPlace { Nowhere, Keyring, PrivateFile };

struct KeyLookup {
  std::optional<std::string> key;
  KeyPlace place = KeyPlace::Nowhere;
  // A key is in the keyring, but it stayed locked: its unlock was refused
  // or cancelled. No key is taken from elsewhere then.
  bool locked = false;
};

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

  // The key for `server`, unlocking the keyring if need be. `done` runs on
  // the main loop, unless `cancellable` was cancelled before.
  static void lookup(const std::string& server, GCancellable* cancellable, std::function<void(KeyLookup)> done);
  // Stores as `store` does; `done` gets whether the key was kept and where.
  static void save(const std::string& server, const std::string& key, GCancellable* cancellable,
                   std::function<void(bool, KeyPlace)> done);
  // Clears as `clear` does, without waiting for the Secret Service.
  static void forget(const std::string& server);
};

}  // namespace irvelo
