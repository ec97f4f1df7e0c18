#include "storage_support.hpp"

#include <gio/gio.h>
#include <libsecret/secret.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <stdexcept>

namespace irvelo::test {
namespace {

std::mutex g_log_mutex;
bool g_capturing = false;
std::vector<LogRecord> g_records;

GLogWriterOutput record_writer(GLogLevelFlags level, const GLogField* fields, gsize n_fields, gpointer) {
  {
    LogRecord record{static_cast<GLogLevelFlags>(level & G_LOG_LEVEL_MASK), {}, {}};
    for (gsize i = 0; i < n_fields; ++i) {
      const std::string_view key = fields[i].key;
      if (key != "MESSAGE" && key != "GLIB_DOMAIN") continue;
      const char* value = static_cast<const char*>(fields[i].value);
      if (value == nullptr) continue;
      std::string text = fields[i].length < 0 ? std::string(value) : std::string(value, fields[i].length);
      (key == "MESSAGE" ? record.message : record.domain) = std::move(text);
    }
    std::lock_guard<std::mutex> lock(g_log_mutex);
    if (g_capturing) g_records.push_back(std::move(record));
  }
  // Shown in the test's output, except the (many) debug messages.
  if ((level & G_LOG_LEVEL_DEBUG) != 0) return G_LOG_WRITER_HANDLED;
  return g_log_writer_default(level, fields, n_fields, nullptr);
}

void install_writer_once() {
  static std::once_flag once;
  std::call_once(once, [] {
    g_setenv("G_MESSAGES_DEBUG", "all", TRUE);
    g_log_set_writer_func(record_writer, nullptr, nullptr);
  });
}

bool set_dac_override(bool on) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
  if (syscall(SYS_capget, &header, data) != 0) return false;
  const __u32 bit = 1u << CAP_DAC_OVERRIDE;
  if (on) {
    data[0].effective |= bit;
  } else {
    data[0].effective &= ~bit;
  }
  return syscall(SYS_capset, &header, data) == 0;
}

bool has_dac_override() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
  if (syscall(SYS_capget, &header, data) != 0) return false;
  return (data[0].effective & (1u << CAP_DAC_OVERRIDE)) != 0;
}

}  // namespace

std::optional<std::string> read_file(const std::string& path) {
  gchar* data = nullptr;
  gsize length = 0;
  if (!g_file_get_contents(path.c_str(), &data, &length, nullptr)) return std::nullopt;
  std::string out(data, length);
  g_free(data);
  return out;
}

void write_file(const std::string& path, const std::string& content, mode_t mode) {
  GError* error = nullptr;
  if (!g_file_set_contents_full(path.c_str(), content.data(), static_cast<gssize>(content.size()),
                                G_FILE_SET_CONTENTS_CONSISTENT, static_cast<int>(mode), &error)) {
    const std::string message = error->message;
    g_error_free(error);
    throw std::runtime_error("cannot write " + path + ": " + message);
  }
  chmod(path.c_str(), mode);
}

bool exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

int mode_of(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return -1;
  return static_cast<int>(st.st_mode & 07777);
}

std::string join(const std::string& dir, const std::string& name) {
  gchar* joined = g_build_filename(dir.c_str(), name.c_str(), nullptr);
  std::string out(joined);
  g_free(joined);
  return out;
}

void reset_config_home() {
  for (const char* name : {"irvelo-desktop", "autostart"}) {
    const std::filesystem::path dir = join(g_get_user_config_dir(), name);
    std::error_code ec;
    if (std::filesystem::is_directory(dir, ec)) {
      std::filesystem::permissions(dir, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    }
    std::filesystem::remove_all(dir, ec);
  }
}

std::string unique_server(const std::string& tag) {
  gchar* suffix = g_uuid_string_random();
  std::string out = "https://" + tag + "-" + std::to_string(getpid()) + "-" + std::string(suffix, 8) + ".example.org";
  g_free(suffix);
  return out;
}

std::string unique_key() {
  gchar* uuid = g_uuid_string_random();
  std::string out = std::string("irvk_") + uuid;
  g_free(uuid);
  return out;
}

LogCapture::LogCapture() {
  install_writer_once();
  std::lock_guard<std::mutex> lock(g_log_mutex);
  g_records.clear();
  g_capturing = true;
}

LogCapture::~LogCapture() {
  std::lock_guard<std::mutex> lock(g_log_mutex);
  g_capturing = false;
  g_records.clear();
}

std::vector<LogRecord> LogCapture::records() const {
  std::lock_guard<std::mutex> lock(g_log_mutex);
  return g_records;
}

std::vector<LogRecord> LogCapture::own() const {
  std::vector<LogRecord> out;
  for (auto& record : records()) {
    if (record.domain.empty()) out.push_back(record);
  }
  return out;
}

std::vector<LogRecord> LogCapture::containing(const std::string& needle) const {
  std::vector<LogRecord> out;
  for (auto& record : records()) {
    if (record.message.find(needle) != std::string::npos || record.domain.find(needle) != std::string::npos) {
      out.push_back(record);
    }
  }
  return out;
}

NoSessionBus::NoSessionBus() {
  if (const char* address = g_getenv("DBUS_SESSION_BUS_ADDRESS")) previous_address_ = address;
  gchar* dir = g_dir_make_tmp("irvelo-nobus-XXXXXX", nullptr);
  if (dir == nullptr) throw std::runtime_error("cannot create a temporary directory");
  dir_ = dir;
  g_free(dir);
  g_setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + join(dir_, "no-bus")).c_str(), TRUE);
}

NoSessionBus::~NoSessionBus() {
  secret_service_disconnect();
  if (previous_address_) {
    g_setenv("DBUS_SESSION_BUS_ADDRESS", previous_address_->c_str(), TRUE);
  } else {
    g_unsetenv("DBUS_SESSION_BUS_ADDRESS");
  }
  rmdir(dir_.c_str());
}

NoSecretService::NoSecretService() {
  if (const char* address = g_getenv("DBUS_SESSION_BUS_ADDRESS")) previous_address_ = address;
  bus_ = g_test_dbus_new(G_TEST_DBUS_NONE);
  g_test_dbus_up(bus_);
}

NoSecretService::~NoSecretService() {
  // libsecret keeps its service proxy, and so the bus connection, in a
  // process-wide singleton; let it go so the bus can shut down at once.
  // (g_test_dbus_down waits up to 30 seconds for the connection to go away;
  // libsecret 0.20.5 leaks a reference to it when secret_password_clear_sync
  // runs a second time without a Secret Service, so tests clear only once.)
  secret_service_disconnect();
  g_test_dbus_down(bus_);  // also unsets DBUS_SESSION_BUS_ADDRESS
  g_object_unref(bus_);
  if (previous_address_) g_setenv("DBUS_SESSION_BUS_ADDRESS", previous_address_->c_str(), TRUE);
}

ReadOnlyDir::ReadOnlyDir(std::string path) : path_(std::move(path)) {
  chmod(path_.c_str(), 0500);
  if (has_dac_override()) dropped_ = set_dac_override(false);
  const std::string probe = join(path_, "probe");
  ok_ = !g_file_set_contents(probe.c_str(), "x", 1, nullptr);
  if (!ok_) unlink(probe.c_str());
}

ReadOnlyDir::~ReadOnlyDir() {
  if (dropped_) set_dac_override(true);
  chmod(path_.c_str(), 0700);
}

}  // namespace irvelo::test
