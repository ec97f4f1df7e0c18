// Each test process gets fresh HOME and XDG directories before anything asks
// GLib for them (GLib caches the user directories at first use), and removes
// them at exit, so no test reads or writes the user's own files.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/temp_dir.hpp"

int main(int argc, char** argv) {
  irvelo::test::TempDir home("irvelo-test-home");
  const std::string root = home.path();
  const std::string config = root + "/.config";
  const std::string data = root + "/.local/share";
  const std::string cache = root + "/.cache";
  const std::string state = root + "/.local/state";
  for (const auto& dir : {config, data, cache, state}) std::filesystem::create_directories(dir);
  setenv("HOME", root.c_str(), 1);
  setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  setenv("XDG_DATA_HOME", data.c_str(), 1);
  setenv("XDG_CACHE_HOME", cache.c_str(), 1);
  setenv("XDG_STATE_HOME", state.c_str(), 1);
  if (const char* tz = std::getenv("TZ"); tz == nullptr || *tz == '\0') setenv("TZ", "UTC", 1);

  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
