// The API key stays out of log lines, out of the command lines of the
// executable and of what it starts, and out of every file but the private
// fallback file.

#include <gio/gio.h>
#include <glib.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "core/tracker_store.hpp"
#include "hardening_support.hpp"
#include "storage/credentials.hpp"
#include "storage/settings.hpp"

namespace irvelo::test {
namespace {

using namespace std::chrono_literals;

constexpr const char* kIdle = "com.larkspan.Irvelo-idle-symbolic";
constexpr const char* kTracking = "com.larkspan.Irvelo-tracking-symbolic";

devserver::Fault unauthenticated() {
  devserver::Fault fault;
  fault.status = 401;
  fault.body = R"({"error":{"code":"UNAUTHENTICATED","message":"A valid API key is required."}})";
  return fault;
}

// The key, and its secret part without the public prefix.
std::vector<std::string> key_texts(const std::string& key) {
  return {key, key.substr(key.find('_') + 1)};
}

class ExecutableSecrets : public LoggedAppSession {
 protected:
  bool start_logged_primary() {
    primary_ = spawn_logged(
        {"--background"},
        {{"IRVELO_API_KEY", server_->api_key()}, {"IRVELO_SERVER", server_->base_url()}, {"G_MESSAGES_DEBUG", "all"}});
    if (primary_ == 0) return false;
    return run_until([&] {
      return std::find(host_->registrations.begin(), host_->registrations.end(), item()) != host_->registrations.end();
    });
  }

  // The command lines of the primary instance and of all it started.
  void expect_no_key_in_command_lines() {
    std::vector<int> pids = descendants_of(primary_);
    pids.push_back(primary_);
    for (int pid : pids) {
      const std::string line = command_line_of(pid);
      for (const auto& text : key_texts(server_->api_key())) {
        EXPECT_EQ(line.find(text), std::string::npos) << "process " << pid << ": " << line;
      }
    }
    EXPECT_NE(command_line_of(primary_).find("irvelo-desktop"), std::string::npos) << "the primary was not read";
  }
};

TEST_F(ExecutableSecrets, KeyStaysOutOfLogsAndCommandLines) {
  ASSERT_TRUE(start_logged_primary());
  ASSERT_TRUE(run_until([&] { return host_->string_property(item(), "IconName") == kIdle; }));
  expect_no_key_in_command_lines();

  const std::map<std::string, std::string> debug = {{"G_MESSAGES_DEBUG", "all"}};
  EXPECT_EQ(invoke_logged({"--start"}, debug), 0);
  ASSERT_TRUE(run_until([&] { return host_->string_property(item(), "IconName") == kTracking; }));
  expect_no_key_in_command_lines();
  EXPECT_EQ(invoke_logged({"--stop"}, debug), 0);
  ASSERT_TRUE(run_until([&] { return host_->string_property(item(), "IconName") == kIdle; }));

  // A refused key in mid-session signs the instance out.
  server_->inject_fault("/api/v1/*", unauthenticated());
  EXPECT_EQ(invoke_logged({"--start"}, debug), 0);
  ASSERT_TRUE(run_until([&] { return tooltip_text() == "Not signed in"; })) << tooltip_text();
  expect_no_key_in_command_lines();
  EXPECT_TRUE(alive(primary_));

  kill(primary_, SIGTERM);
  ASSERT_TRUE(wait_exit(primary_, 5s).has_value());

  const std::string log = read_whole(out_path()) + read_whole(err_path());
  // Debug output was on: the capture is not empty, so its silence about the key means something.
  EXPECT_NE(log.find("DEBUG"), std::string::npos) << log;
  for (const auto& text : key_texts(server_->api_key())) {
    EXPECT_EQ(log.find(text), std::string::npos) << log;
  }
}

// A dbus-daemon with no service directories, stopped by process id.
struct BareBus {
  BareBus() {
    const std::string config = dir.path() + "/bus.conf";
    const std::string text = "<busconfig><type>session</type><listen>unix:dir=" + dir.path() +
                             "</listen><policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                             "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>";
    if (!g_file_set_contents(config.c_str(), text.c_str(), -1, nullptr)) return;
    const std::string command = "dbus-daemon --fork --print-address=1 --print-pid=1 --config-file=" + config;
    gchar* out = nullptr;
    gint status = -1;
    if (!g_spawn_command_line_sync(command.c_str(), &out, nullptr, &status, nullptr)) return;
    std::istringstream lines(out != nullptr ? out : "");
    g_free(out);
    std::string line;
    std::getline(lines, address);
    lines >> pid;
    if (pid <= 0) address.clear();
  }
  ~BareBus() {
    if (pid <= 0) return;
    // The process's shared connection to this bus would end the process when
    // the bus goes away.
    if (GDBusConnection* shared = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr)) {
      g_dbus_connection_set_exit_on_close(shared, FALSE);
      g_object_unref(shared);
    }
    kill(pid, SIGTERM);
  }
  BareBus(const BareBus&) = delete;
  BareBus& operator=(const BareBus&) = delete;

  TempDir dir{"irvelo-bare-bus"};
  std::string address;
  int pid = 0;
};

// Every log message of the process, kept where library threads that log after
// a test's fixture has gone still find it.
struct CapturedLog {
  std::mutex mutex;
  std::vector<std::string> messages;
};

CapturedLog& captured_log() {
  static auto* log = new CapturedLog;
  return *log;
}

// A real store signed in for keeps, with every log message of the process
// captured.
class StoreSecrets : public ::testing::Test {
 protected:
  void SetUp() override {
    g_setenv("G_MESSAGES_DEBUG", "all", TRUE);
    g_log_set_writer_func(
        [](GLogLevelFlags, const GLogField* fields, gsize n, gpointer) {
          for (gsize i = 0; i < n; ++i) {
            if (g_strcmp0(fields[i].key, "MESSAGE") != 0) continue;
            const auto* text = static_cast<const char*>(fields[i].value);
            auto& log = captured_log();
            const std::lock_guard<std::mutex> lock(log.mutex);
            log.messages.emplace_back(fields[i].length < 0 ? std::string(text) : std::string(text, fields[i].length));
          }
          return G_LOG_WRITER_HANDLED;
        },
        nullptr, nullptr);
  }

  void TearDown() override {
    auto& log = captured_log();
    const std::lock_guard<std::mutex> lock(log.mutex);
    for (const auto& message : log.messages) {
      for (const auto& key : keys_) {
        for (const auto& text : key_texts(key)) {
          EXPECT_EQ(message.find(text), std::string::npos) << message;
        }
      }
    }
  }

  // Signs in, starts and stops a timer, and returns with the store ready.
  void sign_in_and_track() {
    store_.reset();
    server_ = std::make_unique<devserver::DevServer>();
    key_ = server_->add_api_key();
    keys_.push_back(key_);
    settings_ = Settings::load();
    store_ = std::make_unique<TrackerStore>(settings_, std::nullopt);
    store_->sign_in(server_->base_url(), key_);
    ASSERT_TRUE(run_until([&] { return store_->phase == TrackerStore::Phase::Ready && !store_->busy; }));
    ASSERT_EQ(store_->api_key, key_);
    store_->start();
    ASSERT_TRUE(run_until([&] { return store_->running.has_value() && !store_->busy; }));
    store_->stop();
    ASSERT_TRUE(run_until([&] { return !store_->running.has_value() && !store_->busy; }));
    EXPECT_TRUE(run_until([&] { return Credentials::load(server_->base_url()) == key_; }));
  }

  // A refused key in mid-session forgets the stored key.
  void refuse_the_key() {
    server_->inject_fault("/api/v1/*", unauthenticated());
    store_->refresh_all();
    ASSERT_TRUE(run_until([&] { return store_->phase == TrackerStore::Phase::SignedOut; }));
    EXPECT_TRUE(store_->error.has_value());
  }

  std::vector<std::string> files_with_key() const { return files_holding(g_get_home_dir(), key_); }

  std::unique_ptr<devserver::DevServer> server_;
  Settings settings_;
  std::unique_ptr<TrackerStore> store_;
  std::string key_ = "<unset>";
  std::vector<std::string> keys_;
};

TEST_F(StoreSecrets, WithoutSecretServiceOnlyThePrivateFallbackFileHoldsTheKey) {
  // A session bus of the test's own on which nothing can be activated, so
  // no Secret Service answers.
  BareBus bus;
  ASSERT_FALSE(bus.address.empty());
  g_setenv("DBUS_SESSION_BUS_ADDRESS", bus.address.c_str(), TRUE);
  sign_in_and_track();
  const std::string fallback = std::string(g_get_user_config_dir()) + "/irvelo-desktop/api-key";
  EXPECT_EQ(files_with_key(), std::vector<std::string>{fallback});
  struct stat info {};
  ASSERT_EQ(stat(fallback.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);

  refuse_the_key();
  EXPECT_EQ(files_with_key(), std::vector<std::string>{});
  store_.reset();
}

TEST_F(StoreSecrets, WithTheKeyringNoFileHoldsTheKey) {
  sign_in_and_track();
  // Credentials::load answered above; no file did, so the keyring holds it.
  EXPECT_EQ(files_with_key(), std::vector<std::string>{});
  EXPECT_FALSE(
      g_file_test((std::string(g_get_user_config_dir()) + "/irvelo-desktop/api-key").c_str(), G_FILE_TEST_EXISTS));
  store_->sign_out();
  EXPECT_TRUE(run_until([&] { return Credentials::load(server_->base_url()) == std::nullopt; }));
  sign_in_and_track();
  refuse_the_key();
  EXPECT_TRUE(run_until([&] { return Credentials::load(server_->base_url()) == std::nullopt; }));
  EXPECT_EQ(files_with_key(), std::vector<std::string>{});
}

}  // namespace
}  // namespace irvelo::test
