#include "app_fixture.hpp"

#include <signal.h>
#include <sys/wait.h>

#include <algorithm>

#include "devserver/http.hpp"
#include "support/main_loop.hpp"

namespace irvelo::test {

void AppSession::SetUp() {
  // The private bus clears DISPLAY, which the executable needs.
  const char* display = g_getenv("DISPLAY");
  const std::string saved = display != nullptr ? display : "";
  bus_ = g_test_dbus_new(G_TEST_DBUS_NONE);
  g_test_dbus_up(bus_);
  if (!saved.empty()) g_setenv("DISPLAY", saved.c_str(), TRUE);
  host_ = std::make_unique<TestHost>(g_test_dbus_get_bus_address(bus_));
  // The stand-in host reads the label, as GNOME's does; tests of other
  // desktops name theirs.
  g_setenv("XDG_CURRENT_DESKTOP", "GNOME", TRUE);
  ASSERT_TRUE(host_->appear());
  server_ = std::make_unique<devserver::DevServer>();
}

void AppSession::TearDown() {
  for (int pid : children_) {
    if (exits_.count(pid) == 0) kill(pid, SIGTERM);
  }
  for (int pid : children_) {
    if (exits_.count(pid) == 0 && !wait_exit(pid, std::chrono::seconds(5))) {
      kill(pid, SIGKILL);
      wait_exit(pid, std::chrono::seconds(5));
    }
  }
  host_.reset();
  server_.reset();
  g_unsetenv("XDG_CURRENT_DESKTOP");
  g_test_dbus_down(bus_);
  g_object_unref(bus_);
}

std::vector<std::string> AppSession::environment(const std::map<std::string, std::string>& extra) const {
  gchar** env = g_get_environ();
  for (const auto& [name, value] : extra) {
    env = value.empty() ? g_environ_unsetenv(env, name.c_str())
                        : g_environ_setenv(env, name.c_str(), value.c_str(), TRUE);
  }
  std::vector<std::string> result;
  for (gchar** e = env; *e != nullptr; ++e) result.emplace_back(*e);
  g_strfreev(env);
  return result;
}

int AppSession::spawn(const std::vector<std::string>& arguments, const std::map<std::string, std::string>& extra) {
  std::vector<std::string> command = {IRVELO_DESKTOP_EXE};
  command.insert(command.end(), arguments.begin(), arguments.end());
  return spawn_command(std::move(command), extra);
}

int AppSession::spawn_command(std::vector<std::string> command, const std::map<std::string, std::string>& extra,
                              int* output) {
  std::vector<gchar*> argv;
  for (auto& a : command) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env = environment(extra);
  std::vector<gchar*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  GPid pid = 0;
  GError* error = nullptr;
  if (!g_spawn_async_with_pipes(nullptr, argv.data(), envp.data(), G_SPAWN_DO_NOT_REAP_CHILD, nullptr, nullptr, &pid,
                                nullptr, output, nullptr, &error)) {
    ADD_FAILURE() << "cannot start " << command.front() << ": " << error->message;
    g_clear_error(&error);
    return 0;
  }
  children_.push_back(pid);
  g_child_watch_add(
      pid,
      [](GPid child, gint status, gpointer self) {
        static_cast<AppSession*>(self)->exits_[child] =
            WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        g_spawn_close_pid(child);
      },
      this);
  return pid;
}

std::optional<int> AppSession::wait_exit(int pid, std::chrono::milliseconds deadline) {
  if (!run_until([&] { return exits_.count(pid) > 0; }, deadline)) return std::nullopt;
  return exits_[pid];
}

std::optional<int> AppSession::invoke(const std::vector<std::string>& arguments) {
  const int pid = spawn(arguments);
  if (pid == 0) return std::nullopt;
  return wait_exit(pid);
}

bool AppSession::start_primary(const std::vector<std::string>& arguments, std::map<std::string, std::string> extra) {
  extra.emplace("IRVELO_API_KEY", server_->api_key());
  extra.emplace("IRVELO_SERVER", server_->base_url());
  primary_ = spawn(arguments, extra);
  if (primary_ == 0) return false;
  // The application owns its id on the bus before its tray registers, so
  // later invocations find it from here on.
  return run_until([&] {
    return std::find(host_->registrations.begin(), host_->registrations.end(), item()) != host_->registrations.end();
  });
}

std::string AppSession::item() const {
  return "org.kde.StatusNotifierItem-" + std::to_string(primary_) + "-1";
}

std::string AppSession::tooltip_text() {
  VariantPtr value = host_->property(item(), "ToolTip");
  if (!value) return "<no tooltip>";
  const gchar* text = nullptr;
  g_variant_get_child(value.get(), 3, "&s", &text);
  return text;
}

int AppSession::count(const std::string& method, const std::string& suffix) const {
  int n = 0;
  for (const auto& r : server_->requests()) {
    if (r.method == method && r.path.size() >= suffix.size() &&
        r.path.compare(r.path.size() - suffix.size(), suffix.size(), suffix) == 0) {
      ++n;
    }
  }
  return n;
}

int AppSession::index_of(const std::string& method, const std::string& suffix) const {
  const auto& requests = server_->requests();
  for (std::size_t i = 0; i < requests.size(); ++i) {
    const auto& r = requests[i];
    if (r.method == method && r.path.size() >= suffix.size() &&
        r.path.compare(r.path.size() - suffix.size(), suffix.size(), suffix) == 0) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

std::string AppSession::running_id() const {
  Http http;
  const Reply reply = http.send(
      {"GET",
       server_->base_url() + "/api/v1/workspaces/" + server_->workspace_ids().front() + "/time-entries/running",
       std::nullopt,
       "application/json",
       {{"Authorization", "Bearer " + server_->api_key()}}});
  const auto running = reply.json().at("running");
  return running.is_null() ? std::string() : running.at("id").get<std::string>();
}

std::optional<std::string> AppSession::output_of(const std::vector<std::string>& arguments) {
  std::vector<std::string> command = {IRVELO_DESKTOP_EXE};
  command.insert(command.end(), arguments.begin(), arguments.end());
  std::vector<gchar*> argv;
  for (auto& a : command) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env = environment();
  std::vector<gchar*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  gchar* out = nullptr;
  gint status = 0;
  GError* error = nullptr;
  if (!g_spawn_sync(nullptr, argv.data(), envp.data(), G_SPAWN_DEFAULT, nullptr, nullptr, &out, nullptr, &status,
                    &error)) {
    ADD_FAILURE() << "cannot run " << command.front() << ": " << error->message;
    g_clear_error(&error);
    return std::nullopt;
  }
  const std::string text = out != nullptr ? out : "";
  g_free(out);
  if (!g_spawn_check_wait_status(status, nullptr)) return std::nullopt;
  return text;
}

bool AppSession::alive(int pid) const {
  return exits_.count(pid) == 0 && kill(pid, 0) == 0;
}

bool AppSession::past_the_wait(int pid, std::chrono::milliseconds wait) {
  const std::string item = "org.kde.StatusNotifierItem-" + std::to_string(pid) + "-1";
  // An answer comes from the instance's main loop, which runs only after the
  // first command line, and with it the wait, has begun.
  if (!run_until([&] { return host_->sync(item); })) return false;
  const gint64 due = g_get_monotonic_time() + std::chrono::duration_cast<std::chrono::microseconds>(wait).count();
  if (!run_until([&] { return g_get_monotonic_time() >= due; }, wait + std::chrono::seconds(1))) return false;
  // The wait was due before this call was sent: its callback is dispatched
  // no later than the call. A process that ended after it answers no second one.
  return host_->sync(item) && host_->sync(item);
}

bool AppSession::settle() {
  std::size_t seen = server_->requests().size();
  int quiet = 0;
  return run_until(
      [&] {
        run_for(std::chrono::milliseconds(250));
        const std::size_t now = server_->requests().size();
        quiet = now == seen ? quiet + 1 : 0;
        seen = now;
        return quiet >= 6;
      },
      std::chrono::seconds(30));
}

}  // namespace irvelo::test
