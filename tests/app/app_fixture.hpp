#pragma once

// A private desktop corner for one test: its own session bus with the test
// tray host on it, the development service on the test's main loop, and the
// real executable started as child processes that are stopped by process id.

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "devserver/dev_server.hpp"
#include "test_host.hpp"

namespace irvelo::test {

// The tray icon's names while idle and while tracking.
inline constexpr const char* kIdle = "com.larkspan.Irvelo-idle-symbolic";
inline constexpr const char* kTracking = "com.larkspan.Irvelo-tracking-symbolic";

class AppSession : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Environment for a child: this process's own plus `extra` (an empty value
  // unsets the variable).
  std::vector<std::string> environment(const std::map<std::string, std::string>& extra = {}) const;
  // Starts the executable; returns its process id (0 on failure).
  int spawn(const std::vector<std::string>& arguments, const std::map<std::string, std::string>& extra = {});
  // Starts `command` (program first) as a child whose exit is recorded and
  // which TearDown ends; returns its process id (0 on failure). With
  // `output`, the child's standard output is a pipe whose reading end that
  // receives (the caller closes it).
  int spawn_command(std::vector<std::string> command, const std::map<std::string, std::string>& extra,
                    int* output = nullptr);
  // Runs the main loop until the child ends; its exit status, or nothing.
  std::optional<int> wait_exit(int pid, std::chrono::milliseconds deadline = std::chrono::seconds(10));
  // A later invocation: starts it and waits for its exit status.
  std::optional<int> invoke(const std::vector<std::string>& arguments);

  // Starts the primary instance with the service's key in the environment
  // and waits until its tray icon registered with the host.
  bool start_primary(const std::vector<std::string>& arguments = {"--background"},
                     std::map<std::string, std::string> extra = {});
  [[nodiscard]] std::string item() const;
  [[nodiscard]] std::string tooltip_text();
  // Requests to the service whose method matches and whose path ends with `suffix`.
  [[nodiscard]] int count(const std::string& method, const std::string& suffix) const;
  [[nodiscard]] int index_of(const std::string& method, const std::string& suffix) const;
  bool alive(int pid) const;
  // The id of the entry running at the service (empty when none), asked as any client would.
  [[nodiscard]] std::string running_id() const;
  // Runs the executable to its end (for options that answer on their own and
  // need nothing of this test's main loop); its standard output, or nothing.
  std::optional<std::string> output_of(const std::vector<std::string>& arguments);
  // Returns once the instance `pid`, started with --background, has acted on
  // the end of its wait for a tray host (`wait` long, as the environment
  // shortened it) and is still running its main loop afterwards.
  bool past_the_wait(int pid, std::chrono::milliseconds wait);
  // Waits until the service has received nothing for a second and a half:
  // whatever the instance set off (such as the refresh after a start) is over.
  bool settle();

  GTestDBus* bus_ = nullptr;
  std::unique_ptr<TestHost> host_;
  std::unique_ptr<devserver::DevServer> server_;
  int primary_ = 0;
  std::vector<int> children_;
  std::map<int, int> exits_;
};

}  // namespace irvelo::test
