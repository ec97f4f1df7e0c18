// What a user pays for the program being there: start-up to the first frame,
// resident memory, wake-ups and CPU time, each measured on the real
// executable and on a bare gtkmm window (bare_window.cpp) started the same
// way on this display and session bus. Needs an X display without a window
// manager and a session bus of its own (scripts/bench provides both); serves
// the development service and a tray host itself.
//   irvelo_process_figures APP BARE_WINDOW [--quick]
// Prints "<group>\t<figure>\t<value>\t<unit>" lines (see bench/figures/) and,
// on stderr, each process's wake-ups per thread.

#include <X11/Xlib.h>
#include <X11/extensions/Xdamage.h>
#include <gio/gio.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "devserver/dev_server.hpp"
#include "support/main_loop.hpp"
#include "test_host.hpp"

namespace {

using namespace std::chrono_literals;
using irvelo::test::run_for;
using irvelo::test::run_until;

std::string read_file(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Watches the display for new top-level windows and reports when one that is
// mapped is first drawn to: the first frame the user sees.
class FrameWatch {
 public:
  FrameWatch() : display_(XOpenDisplay(nullptr)) {
    if (display_ == nullptr) throw std::runtime_error("no X display");
    int error_base = 0;
    if (!XDamageQueryExtension(display_, &damage_event_base_, &error_base)) {
      throw std::runtime_error("the X server has no DAMAGE extension");
    }
    // A window may be gone before its damage is asked for.
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    XSelectInput(display_, DefaultRootWindow(display_), SubstructureNotifyMask);
    XFlush(display_);
    channel_ = g_io_channel_unix_new(ConnectionNumber(display_));
    watch_ = g_io_add_watch(
        channel_, G_IO_IN,
        [](GIOChannel*, GIOCondition, gpointer self) -> gboolean {
          static_cast<FrameWatch*>(self)->drain();
          return G_SOURCE_CONTINUE;
        },
        this);
  }
  ~FrameWatch() {
    g_source_remove(watch_);
    g_io_channel_unref(channel_);
    XCloseDisplay(display_);
  }
  FrameWatch(const FrameWatch&) = delete;
  FrameWatch& operator=(const FrameWatch&) = delete;

  void reset() {
    drain();
    first_frame_us_ = 0;
  }
  // Monotonic time of the first frame since reset(), 0 before it.
  gint64 first_frame_us() {
    drain();
    return first_frame_us_;
  }

 private:
  void drain() {
    while (XPending(display_) > 0) {
      XEvent event;
      XNextEvent(display_, &event);
      if (event.type == CreateNotify) {
        // Asked for at creation, so a frame drawn right after mapping is not missed.
        XDamageCreate(display_, event.xcreatewindow.window, XDamageReportNonEmpty);
        mapped_[event.xcreatewindow.window] = false;
      } else if (event.type == MapNotify) {
        mapped_[event.xmap.window] = true;
      } else if (event.type == DestroyNotify) {
        mapped_.erase(event.xdestroywindow.window);
      } else if (event.type == damage_event_base_ + XDamageNotify) {
        const auto* damage = reinterpret_cast<const XDamageNotifyEvent*>(&event);
        XDamageSubtract(display_, damage->damage, None, None);
        if (first_frame_us_ == 0 && mapped_[damage->drawable]) first_frame_us_ = g_get_monotonic_time();
      }
    }
    XFlush(display_);
  }

  Display* display_;
  int damage_event_base_ = 0;
  GIOChannel* channel_ = nullptr;
  guint watch_ = 0;
  std::map<Window, bool> mapped_;
  gint64 first_frame_us_ = 0;
};

// A started program, ended by process id when it goes out of scope.
class Child {
 public:
  Child(std::vector<std::string> command, const std::map<std::string, std::string>& environment) {
    gchar** env = g_get_environ();
    // An empty value takes the variable away.
    for (const auto& [name, value] : environment) {
      env = value.empty() ? g_environ_unsetenv(env, name.c_str())
                          : g_environ_setenv(env, name.c_str(), value.c_str(), TRUE);
    }
    std::vector<gchar*> argv;
    for (auto& a : command) argv.push_back(a.data());
    argv.push_back(nullptr);
    GError* error = nullptr;
    const gboolean spawned =
        g_spawn_async(nullptr, argv.data(), env, G_SPAWN_DO_NOT_REAP_CHILD, nullptr, nullptr, &pid_, &error);
    g_strfreev(env);
    if (!spawned) {
      const std::string message = error->message;
      g_error_free(error);
      throw std::runtime_error("cannot start " + command.front() + ": " + message);
    }
    g_child_watch_add(
        pid_,
        [](GPid pid, gint status, gpointer self) {
          auto* child = static_cast<Child*>(self);
          child->status_ = status;
          child->ended_ = true;
          g_spawn_close_pid(pid);
        },
        this);
  }
  ~Child() {
    if (ended_) return;
    kill(pid_, SIGTERM);
    if (!run_until([this] { return ended_; }, 5s)) {
      kill(pid_, SIGKILL);
      run_until([this] { return ended_; }, 5s);
    }
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  [[nodiscard]] int pid() const { return pid_; }
  [[nodiscard]] bool ended() const { return ended_; }
  // Waits for the end; true when it exited with status 0.
  bool succeeded() {
    run_until([this] { return ended_; }, 20s);
    return ended_ && g_spawn_check_wait_status(status_, nullptr);
  }

 private:
  GPid pid_ = 0;
  bool ended_ = false;
  gint status_ = 0;
};

// One thread's counters: context switches (a thread that sleeps and wakes
// again counts one voluntary switch per wake-up) and time on a CPU.
struct ThreadCounters {
  std::string name;
  long switches = 0;
  long long cpu_ns = 0;
};

std::map<int, ThreadCounters> threads_of(int pid) {
  std::map<int, ThreadCounters> out;
  std::error_code ec;
  for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
    ThreadCounters t;
    std::istringstream lines(read_file(task.path().string() + "/status"));
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("Name:", 0) == 0) t.name = line.substr(line.find_first_not_of(" \t", 5));
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0 || line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
        t.switches += std::stol(line.substr(line.find(':') + 1));
      }
    }
    // schedstat: nanoseconds on a CPU, first of three fields.
    std::istringstream(read_file(task.path().string() + "/schedstat")) >> t.cpu_ns;
    out[std::stoi(task.path().filename().string())] = t;
  }
  return out;
}

// Adds what each thread did between two samples to `into` (by thread name).
// A thread born in between counts from zero; one that ended loses only what
// it did since the earlier sample.
void add_between(const std::map<int, ThreadCounters>& before, const std::map<int, ThreadCounters>& after,
                 std::map<std::string, ThreadCounters>& into) {
  for (const auto& [tid, now] : after) {
    const auto then = before.find(tid);
    ThreadCounters& sum = into[now.name];
    sum.switches += now.switches - (then != before.end() ? then->second.switches : 0);
    sum.cpu_ns += now.cpu_ns - (then != before.end() ? then->second.cpu_ns : 0);
  }
}

// A "Name:   123 kB" line of a /proc file, in KiB.
long kib_of(const std::string& path, const std::string& name) {
  std::istringstream lines(read_file(path));
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(name, 0) == 0) return std::stol(line.substr(name.size()));
  }
  return 0;
}

// Resident memory counts the shared libraries' pages too; private dirty
// memory is what this process alone costs.
struct Memory {
  double resident_mib = 0;
  double private_mib = 0;
};

Memory memory_of(int pid) {
  const std::string proc = "/proc/" + std::to_string(pid);
  return {static_cast<double>(kib_of(proc + "/status", "VmRSS:")) / 1024.0,
          static_cast<double>(kib_of(proc + "/smaps_rollup", "Private_Dirty:")) / 1024.0};
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

void print(const char* group, const std::string& figure, double value, const char* unit) {
  std::printf("%s\t%s\t%.6g\t%s\n", group, figure.c_str(), value, unit);
  std::fflush(stdout);
}

struct Measurement {
  double wakeups_per_minute = 0;
  double quiet_wakeups_per_minute = 0;  // in seconds with no request to the service around them
  double cpu_percent = 0;
};

class Figures {
 public:
  Figures(std::string app, std::string bare, bool quick)
      : app_(std::move(app)), bare_(std::move(bare)), window_seconds_(quick ? 15 : 60), runs_(quick ? 3 : 7) {
    irvelo::devserver::DevServer::Options options;
    options.seed = "demo";
    server_ = std::make_unique<irvelo::devserver::DevServer>(options);
    if (!host_.appear()) throw std::runtime_error("the tray host did not get its name");
    // The same for both programs: no accessibility bus in this session, and
    // the application's settings in a throw-away place.
    gchar* config = g_dir_make_tmp("irvelo-figures-XXXXXX", nullptr);
    if (config == nullptr) throw std::runtime_error("no temporary directory");
    config_ = config;
    g_free(config);
    common_ = {{"GTK_A11Y", "none"}, {"NO_AT_BRIDGE", "1"}, {"XDG_CONFIG_HOME", config_}};
  }
  ~Figures() { std::filesystem::remove_all(config_); }
  Figures(const Figures&) = delete;
  Figures& operator=(const Figures&) = delete;

  // With `defaults`, both programs run without the renderer variables the
  // bench session sets, as users run them.
  void startup_and_memory(bool defaults) {
    const char* suffix = defaults ? " at defaults" : "";
    std::vector<double> bare_ms;
    std::vector<double> app_ms;
    std::vector<Memory> bare_memory;
    std::vector<Memory> app_memory;
    for (int run = 0; run < runs_; ++run) {
      // Taken in turns, so a disturbance of the machine hits both alike.
      first_frame({bare_}, defaults, bare_ms, bare_memory);
      first_frame({app_}, defaults, app_ms, app_memory);
    }
    const std::string startup = std::string("startup") + suffix;
    print(startup.c_str(), "baseline: bare gtkmm window", median(bare_ms), "ms");
    print(startup.c_str(), "panel, signed in", median(app_ms), "ms");
    std::vector<Memory> tray;
    std::vector<Memory> kept;
    std::vector<Memory> released;
    if (defaults) {
      for (int run = 0; run < runs_; ++run) {
        tray.push_back(in_the_tray());
        kept.push_back(after_the_panel(false));
        released.push_back(after_the_panel(true));
      }
    }
    print_memory(suffix, "baseline: bare gtkmm window", bare_memory);
    print_memory(suffix, "panel, signed in", app_memory);
    if (defaults) {
      print_memory(suffix, "in the tray, panel never opened", tray);
      print_memory(suffix, "in the tray, panel closed, kept", kept);
      print_memory(suffix, "in the tray, panel closed, given back", released);
    }
  }

  void idle() {
    {
      Child bare({bare_, "--every", "30"}, common_);
      run_for(3s);
      const Measurement w = measure(bare.pid(), "bare window, 30-s timer");
      print("idle wake-ups, no timer", "baseline: bare window, 30-s timer", w.wakeups_per_minute, "/min");
    }
    Measurement tick_bare;
    {
      Child bare({bare_, "--every", "1"}, common_);
      run_for(3s);
      tick_bare = measure(bare.pid(), "bare window, 1-s clock");
    }

    host_.registrations.clear();
    Child app({app_, "--background"}, app_environment());
    if (!run_until([&] { return !host_.registrations.empty(); }, 20s)) throw std::runtime_error("no tray item");
    invoke({"--stop"});
    settle();
    const Measurement idle = measure(app.pid(), "in the tray, no timer");
    print("idle wake-ups, no timer", "in the tray", idle.wakeups_per_minute, "/min");
    print("idle wake-ups, no timer", "in the tray, outside the poll", idle.quiet_wakeups_per_minute, "/min");

    invoke({"--start"});
    settle();
    const Measurement tray = measure(app.pid(), "in the tray, tracking");
    invoke({});  // a second plain invocation opens the panel
    settle();
    const Measurement panel = measure(app.pid(), "panel open, tracking");
    invoke({"--stop"});

    print("tracking wake-ups", "baseline: bare window, 1-s clock", tick_bare.wakeups_per_minute, "/min");
    print("tracking wake-ups", "in the tray", tray.wakeups_per_minute, "/min");
    print("tracking wake-ups", "panel open", panel.wakeups_per_minute, "/min");
    print("tracking CPU", "baseline: bare window, 1-s clock", tick_bare.cpu_percent, "% of a core");
    print("tracking CPU", "in the tray", tray.cpu_percent, "% of a core");
    print("tracking CPU", "panel open", panel.cpu_percent, "% of a core");
  }

 private:
  std::map<std::string, std::string> app_environment() const {
    auto env = common_;
    env["IRVELO_API_KEY"] = server_->api_key();
    env["IRVELO_SERVER"] = server_->base_url();
    return env;
  }

  std::map<std::string, std::string> environment(bool is_app, bool defaults) const {
    auto env = is_app ? app_environment() : common_;
    if (defaults) env["GSK_RENDERER"] = env["GDK_DEBUG"] = "";
    return env;
  }

  void print_memory(const char* suffix, const std::string& figure, const std::vector<Memory>& runs) {
    std::vector<double> resident;
    std::vector<double> private_dirty;
    for (const auto& m : runs) {
      resident.push_back(m.resident_mib);
      private_dirty.push_back(m.private_mib);
    }
    print((std::string("memory") + suffix).c_str(), figure, median(resident), "MiB");
    print((std::string("private memory") + suffix).c_str(), figure, median(private_dirty), "MiB");
  }

  // Started with --background while a tray host is there, signed in, its
  // panel never opened: what it costs all day in the tray.
  Memory in_the_tray() {
    host_.registrations.clear();
    const gint64 started = g_get_monotonic_time();
    Child app({app_, "--background"}, environment(true, true));
    if (!run_until([&] { return !host_.registrations.empty(); }, 20s)) throw std::runtime_error("no tray item");
    run_for(
        std::chrono::milliseconds(std::max<gint64>(0, started + 5 * G_USEC_PER_SEC - g_get_monotonic_time()) / 1000));
    return memory_of(app.pid());
  }

  // Started with its panel open, which the tray's click then closes; with
  // `released`, the hidden panel is given back after a second instead of
  // minutes. Measured three seconds after the close.
  Memory after_the_panel(bool released) {
    host_.registrations.clear();
    auto env = environment(true, true);
    if (released) env["IRVELO_TEST_PANEL_RELEASE_SECONDS"] = "1";
    frames_.reset();
    Child app({app_}, env);
    if (!run_until([&] { return !host_.registrations.empty() && frames_.first_frame_us() != 0; }, 20s)) {
      throw std::runtime_error("no panel");
    }
    run_for(3s);
    const std::string item = host_.registrations.back();
    if (!host_.call(item, "Activate", g_variant_new("(ii)", 0, 0))) throw std::runtime_error("no tray click");
    run_for(3s);
    return memory_of(app.pid());
  }

  void first_frame(std::vector<std::string> command, bool defaults, std::vector<double>& ms,
                   std::vector<Memory>& memory) {
    const bool is_app = command.front() == app_;
    frames_.reset();
    const gint64 started = g_get_monotonic_time();
    Child child(std::move(command), environment(is_app, defaults));
    if (!run_until([&] { return frames_.first_frame_us() != 0 || child.ended(); }, 30s) || child.ended()) {
      throw std::runtime_error("no first frame");
    }
    ms.push_back(static_cast<double>(frames_.first_frame_us() - started) / 1000.0);
    // Memory once start-up is over: the account loaded, nothing pending.
    run_for(3s);
    memory.push_back(memory_of(child.pid()));
  }

  void invoke(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), app_);
    Child call(std::move(arguments), app_environment());
    if (!call.succeeded()) throw std::runtime_error("an invocation failed");
  }

  // Until the service has heard nothing for two seconds.
  void settle() {
    std::size_t seen = server_->requests().size();
    int quiet = 0;
    run_until(
        [&] {
          run_for(250ms);
          const std::size_t now = server_->requests().size();
          quiet = now == seen ? quiet + 1 : 0;
          seen = now;
          return quiet >= 8;
        },
        30s);
  }

  // Samples the process every second for the window's length.
  Measurement measure(int pid, const char* what) {
    std::map<std::string, ThreadCounters> by_thread;
    std::vector<long> switches_in_second;
    std::vector<bool> request_in_second;
    auto previous = threads_of(pid);
    std::size_t requests = server_->requests().size();
    const std::size_t first_request = requests;
    const gint64 begin = g_get_monotonic_time();
    for (int s = 1; s <= window_seconds_; ++s) {
      run_for(std::chrono::milliseconds((begin + s * G_USEC_PER_SEC - g_get_monotonic_time()) / 1000));
      auto current = threads_of(pid);
      std::map<std::string, ThreadCounters> second;
      add_between(previous, current, second);
      long switches = 0;
      for (const auto& [name, t] : second) {
        switches += t.switches;
        by_thread[name].switches += t.switches;
        by_thread[name].cpu_ns += t.cpu_ns;
      }
      switches_in_second.push_back(switches);
      request_in_second.push_back(server_->requests().size() != requests);
      requests = server_->requests().size();
      previous = std::move(current);
    }
    const double elapsed = static_cast<double>(g_get_monotonic_time() - begin) / G_USEC_PER_SEC;

    Measurement w;
    const double per_minute = 60.0 / elapsed;
    long all = 0;
    long quiet = 0;
    long long cpu_ns = 0;
    for (std::size_t s = 0; s < switches_in_second.size(); ++s) {
      all += switches_in_second[s];
      // A request's work may spill into the seconds beside it.
      const bool near_request = request_in_second[s] || (s > 0 && request_in_second[s - 1]) ||
                                (s + 1 < request_in_second.size() && request_in_second[s + 1]);
      if (!near_request) quiet += switches_in_second[s];
    }
    for (const auto& [name, t] : by_thread) cpu_ns += t.cpu_ns;
    w.wakeups_per_minute = static_cast<double>(all) * per_minute;
    w.quiet_wakeups_per_minute = static_cast<double>(quiet) * per_minute;
    w.cpu_percent = static_cast<double>(cpu_ns) / 1e9 / elapsed * 100.0;

    std::fprintf(stderr, "%s, %.0f s: %zu requests; wake-ups (CPU ms) by thread:", what, elapsed,
                 requests - first_request);
    for (const auto& [name, t] : by_thread) {
      if (t.switches != 0 || t.cpu_ns != 0) {
        std::fprintf(stderr, " %s %ld (%.1f)", name.c_str(), t.switches, static_cast<double>(t.cpu_ns) / 1e6);
      }
    }
    std::fprintf(stderr, "\n");
    return w;
  }

  std::string app_;
  std::string bare_;
  int window_seconds_;
  int runs_;
  std::unique_ptr<irvelo::devserver::DevServer> server_;
  irvelo::test::TestHost host_;
  FrameWatch frames_;
  std::string config_;
  std::map<std::string, std::string> common_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s APP BARE_WINDOW [--quick]\n", argv[0]);
    return 2;
  }
  try {
    Figures figures(argv[1], argv[2], argc > 3 && std::string(argv[3]) == "--quick");
    figures.startup_and_memory(false);
    figures.startup_and_memory(true);
    figures.idle();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
