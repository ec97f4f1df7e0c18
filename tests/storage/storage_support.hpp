#pragma once

// Helpers shared by the storage tests: files, captured log messages, a session
// bus without a Secret Service, and a directory that is read-only even for root.

#include <glib.h>
#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

typedef struct _GTestDBus GTestDBus;

namespace irvelo::test {

[[nodiscard]] std::optional<std::string> read_file(const std::string& path);
void write_file(const std::string& path, const std::string& content, mode_t mode = 0644);
[[nodiscard]] bool exists(const std::string& path);
// The permission bits of `path` (lstat), or -1 when it cannot be examined.
[[nodiscard]] int mode_of(const std::string& path);
[[nodiscard]] std::string join(const std::string& dir, const std::string& name);

// Removes what the storage code writes under the user configuration directory
// ("irvelo-desktop" and "autostart"). Each CTest case runs in a fresh process
// with a fresh directory anyway; this keeps the tests independent also when
// the whole executable runs in one process.
void reset_config_home();

// A server address no other test process uses, so tests that share the one
// keyring of the test session can run in parallel.
[[nodiscard]] std::string unique_server(const std::string& tag);
// A key made of random characters, long enough that it cannot turn up in a log
// text by chance.
[[nodiscard]] std::string unique_key();

struct LogRecord {
  GLogLevelFlags level;
  std::string domain;  // empty for messages logged without a domain
  std::string message;
};

// Records every log message of the process, at every level and from every
// domain (including debug messages: G_MESSAGES_DEBUG is set to "all"), while
// it exists. GLib allows one writer function per process; it is installed at
// the first construction and stays, recording only while a capture is alive.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  [[nodiscard]] std::vector<LogRecord> records() const;
  // The messages logged without a domain, as this project logs.
  [[nodiscard]] std::vector<LogRecord> own() const;
  // Every record whose text contains `needle`.
  [[nodiscard]] std::vector<LogRecord> containing(const std::string& needle) const;
};

// No session bus at all: DBUS_SESSION_BUS_ADDRESS names a socket in a fresh
// empty directory, so connecting fails and libsecret reports an error at once.
// Construct it before anything in the process touches the session bus; the
// destructor puts the former address back.
class NoSessionBus {
 public:
  NoSessionBus();
  ~NoSessionBus();
  NoSessionBus(const NoSessionBus&) = delete;
  NoSessionBus& operator=(const NoSessionBus&) = delete;

 private:
  std::string dir_;
  std::optional<std::string> previous_address_;
};

// A private session bus (GTestDBus) on which no Secret Service runs and none
// can be activated (the private bus has no service files). Construct it
// before anything in the process touches the session bus: it points
// DBUS_SESSION_BUS_ADDRESS at the private bus, and the destructor puts the
// former address back.
class NoSecretService {
 public:
  NoSecretService();
  ~NoSecretService();
  NoSecretService(const NoSecretService&) = delete;
  NoSecretService& operator=(const NoSecretService&) = delete;

 private:
  GTestDBus* bus_ = nullptr;
  std::optional<std::string> previous_address_;
};

// Makes an existing directory read-only for this thread, root included.
//
// The test suite runs as root, and root ignores permission bits because it has
// the capability CAP_DAC_OVERRIDE. So, besides setting the mode to 0500, this
// removes CAP_DAC_OVERRIDE from the calling thread's effective capability set
// (it stays in the permitted set; the destructor raises it again and restores
// the mode). Capabilities are per thread in Linux; the code under test writes
// on the calling thread. `ok()` tells whether a probe file could indeed not be
// created afterwards.
class ReadOnlyDir {
 public:
  explicit ReadOnlyDir(std::string path);
  ~ReadOnlyDir();
  ReadOnlyDir(const ReadOnlyDir&) = delete;
  ReadOnlyDir& operator=(const ReadOnlyDir&) = delete;

  [[nodiscard]] bool ok() const { return ok_; }

 private:
  std::string path_;
  bool dropped_ = false;
  bool ok_ = false;
};

}  // namespace irvelo::test
