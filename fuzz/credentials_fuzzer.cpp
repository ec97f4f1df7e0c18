// The credential fallback file as it may be found on disk. With no Secret
// Service (the bus address leads nowhere) Credentials::load reads the file:
// a key comes back only for the server on its first line, never empty and
// never spanning a line. Then a store of a one-line server and key into the
// same file must load back unchanged.
//
// Input: byte 0 is the length of the server text that follows; the rest is
// the file's content.

#include <glib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "storage/credentials.hpp"
#include "support.hpp"

namespace {

std::string& key_file() {
  static std::string path;
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  key_file() = irvelo::fuzz::isolate_environment() + "/api-key";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using irvelo::fuzz::check;
  if (size < 1) return 0;
  const std::size_t server_size = std::min<std::size_t>(data[0], size - 1);
  const std::string server(irvelo::fuzz::as_text(data + 1, server_size));
  const std::string content(irvelo::fuzz::as_text(data + 1 + server_size, size - 1 - server_size));
  // The program's servers are normalised text from a GTK entry, the
  // environment or the settings file, which GLib hands out only as UTF-8;
  // libsecret refuses anything else with a critical warning.
  if (!g_utf8_validate(server.data(), static_cast<gssize>(server.size()), nullptr)) return 0;

  irvelo::fuzz::write_file(key_file(), content);
  if (const auto key = irvelo::Credentials::load(server)) {
    check(!key->empty(), "a loaded key is not empty");
    check(key->find('\n') == std::string::npos, "a loaded key is one line");
    check(content.starts_with(server + "\n" + *key), "a key comes from the file, for its server");
  }

  // The file stores one line each; such a pair must come back unchanged.
  const bool one_line = server.find('\n') == std::string::npos && content.find('\n') == std::string::npos;
  if (one_line && !content.empty() && server.find('\0') == std::string::npos &&
      content.find('\0') == std::string::npos) {
    check(irvelo::Credentials::store(server, content), "the fallback file can be written");
    const auto back = irvelo::Credentials::load(server);
    check(back.has_value() && *back == content, "a stored key loads back");
  }
  irvelo::Credentials::clear(server);
  return 0;
}
