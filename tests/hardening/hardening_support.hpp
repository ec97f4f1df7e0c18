#pragma once

// Helpers of the hardening checks: reading /proc, finding files that hold a
// text, and running the executable with its output kept in files.

#include <gio/gio.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app_fixture.hpp"
#include "support/main_loop.hpp"
#include "support/temp_dir.hpp"

namespace irvelo::test {

inline std::string read_whole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// The command line of a process with its NULs as spaces; empty once it ended.
inline std::string command_line_of(int pid) {
  std::string text = read_whole("/proc/" + std::to_string(pid) + "/cmdline");
  for (char& c : text) {
    if (c == '\0') c = ' ';
  }
  return text;
}

// Every living descendant of `pid`, found through the parent field of /proc/N/stat.
inline std::vector<int> descendants_of(int pid) {
  std::map<int, std::vector<int>> children;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string stat = read_whole(entry.path().string() + "/stat");
    // "pid (comm) state ppid ...": the name may hold spaces, so read after the last ')'.
    const auto close = stat.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(stat.substr(close + 1));
    std::string state;
    int parent = 0;
    rest >> state >> parent;
    children[parent].push_back(std::stoi(name));
  }
  std::vector<int> out;
  std::vector<int> queue = {pid};
  while (!queue.empty()) {
    const int next = queue.back();
    queue.pop_back();
    for (int child : children[next]) {
      out.push_back(child);
      queue.push_back(child);
    }
  }
  return out;
}

// Regular files under `root` whose content holds `text`.
inline std::vector<std::string> files_holding(const std::string& root, const std::string& text) {
  std::vector<std::string> out;
  std::error_code ec;
  if (!std::filesystem::exists(root, ec)) return out;
  for (auto it = std::filesystem::recursive_directory_iterator(
           root, std::filesystem::directory_options::skip_permission_denied, ec);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (ec) break;
    if (!it->is_regular_file(ec) || it->is_symlink(ec)) continue;
    if (read_whole(it->path().string()).find(text) != std::string::npos) out.push_back(it->path().string());
  }
  return out;
}

// The session fixture with the executable's stdout and stderr appended to
// files of the test's own.
class LoggedAppSession : public AppSession {
 protected:
  std::string out_path() const { return logs_.path() + "/stdout"; }
  std::string err_path() const { return logs_.path() + "/stderr"; }

  int spawn_logged(const std::vector<std::string>& arguments, const std::map<std::string, std::string>& extra = {}) {
    // exec keeps the process id: the fixture's tray item name and clean-up rely on it.
    gchar* out = g_shell_quote(out_path().c_str());
    gchar* err = g_shell_quote(err_path().c_str());
    std::vector<std::string> args = {"/bin/sh", "-c", std::string("exec \"$@\" >>") + out + " 2>>" + err, "sh",
                                     IRVELO_DESKTOP_EXE};
    g_free(out);
    g_free(err);
    args.insert(args.end(), arguments.begin(), arguments.end());
    return spawn_command(std::move(args), extra);
  }

  std::optional<int> invoke_logged(const std::vector<std::string>& arguments,
                                   const std::map<std::string, std::string>& extra = {}) {
    const int pid = spawn_logged(arguments, extra);
    if (pid == 0) return std::nullopt;
    return wait_exit(pid);
  }

  TempDir logs_{"irvelo-hardening-logs"};
};

}  // namespace irvelo::test
