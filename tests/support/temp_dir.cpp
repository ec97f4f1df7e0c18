#include "support/temp_dir.hpp"

#include <glib.h>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <system_error>

namespace irvelo::test {

TempDir::TempDir(const std::string& prefix) {
  GError* error = nullptr;
  std::unique_ptr<gchar, decltype(&g_free)> dir(g_dir_make_tmp((prefix + "-XXXXXX").c_str(), &error), &g_free);
  if (!dir) {
    const std::string message = error ? error->message : "unknown error";
    g_clear_error(&error);
    throw std::runtime_error("cannot create a temporary directory: " + message);
  }
  path_ = dir.get();
}

TempDir::~TempDir() {
  std::error_code ec;
  // Tests may leave read-only folders behind; make them writable so removal works.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
  }
  std::filesystem::remove_all(path_, ec);
}

}  // namespace irvelo::test
