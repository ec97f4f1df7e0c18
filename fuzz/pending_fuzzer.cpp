// The pending-stop file as it may be found on disk, cut short by a crash or
// edited by hand: loading never fails, and what loads survives a save and a
// second load unchanged.

#include <glib.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "storage/pending.hpp"
#include "support.hpp"

namespace {

std::string& pending_file() {
  static std::string path;
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  irvelo::fuzz::isolate_environment();
  g_mkdir_with_parents(irvelo::state_dir().c_str(), 0700);
  pending_file() = irvelo::state_dir() + "/pending.json";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using irvelo::fuzz::check;
  irvelo::fuzz::write_file(pending_file(), irvelo::fuzz::as_text(data, size));
  const auto loaded = irvelo::PendingFile::load();
  check(loaded == irvelo::pending_from_json(irvelo::fuzz::as_text(data, size)), "the file reads as its text parses");
  if (!loaded) return 0;
  check(!loaded->server.empty() && !loaded->workspace_id.empty() && !loaded->entry_id.empty(),
        "a loaded stop names its server, workspace and entry");
  check(irvelo::PendingFile::save(*loaded), "a loaded stop can be saved");
  check(irvelo::PendingFile::load() == loaded, "a stop survives a save");
  return 0;
}
