#include "app/status_client.hpp"

#include <giomm/dbusconnection.h>
#include <giomm/dbuswatchname.h>
#include <giomm/init.h>
#include <glib/gi18n-lib.h>
#include <glibmm/main.h>

#include <csignal>
#include <cstdio>
#include <functional>
#include <nlohmann/json.hpp>

#include "app/status_text.hpp"
#include "config.hpp"
#include "core/owned.hpp"
#include "core/time_format.hpp"

namespace irvelo::status {
namespace {

constexpr const char* kPath = "/com/larkspan/Irvelo";
constexpr const char* kInterface = "com.larkspan.Irvelo.Status";

template <typename T>
T get(const Properties& properties, const char* name, T fallback) {
  const auto found = properties.find(name);
  if (found == properties.end() || !found->second.is_of_type(Glib::Variant<T>::variant_type())) return fallback;
  return Glib::VariantBase::cast_dynamic<Glib::Variant<T>>(found->second).get();
}

std::string get_text(const Properties& properties, const char* name) {
  return get<Glib::ustring>(properties, name, "");
}

std::string iso8601_utc(std::int64_t instant) {
  const DateTimePtr time(g_date_time_new_from_unix_utc(instant));
  if (!time) return {};
  const CharPtr text(g_date_time_format(time.get(), "%Y-%m-%dT%H:%M:%SZ"));
  return text ? text.get() : std::string();
}

// The instance's properties, or nothing when none answers.
std::optional<Properties> read(const Glib::RefPtr<Gio::DBus::Connection>& bus) {
  if (!bus) return std::nullopt;
  try {
    const auto reply =
        bus->call_sync(kPath, "org.freedesktop.DBus.Properties", "GetAll",
                       Glib::VariantContainerBase::create_tuple(Glib::Variant<Glib::ustring>::create(kInterface)),
                       config::kApplicationId, 5000, Gio::DBus::CallFlags::NO_AUTO_START);
    Glib::Variant<Properties> all;
    reply.get_child(all, 0);
    return all.get();
  } catch (const Glib::Error&) {
    return std::nullopt;
  }
}

// Writes one line; false once standard output is gone.
bool print(const std::string& text) {
  return std::fputs((text + "\n").c_str(), stdout) >= 0 && std::fflush(stdout) == 0;
}

std::int64_t now_seconds() {
  return g_get_real_time() / G_USEC_PER_SEC;
}

}  // namespace

std::string line(const std::optional<Properties>& properties, std::int64_t read_at, std::int64_t now) {
  nlohmann::json out;
  if (!properties) {
    out = {{"text", ""},
           {"alt", "not-running"},
           {"class", {"not-running"}},
           {"phase", "not-running"},
           {"tooltip", _("Irvelo is not running")},
           {"tracking", false},
           {"elapsed", 0},
           {"description", ""},
           {"project", ""},
           {"task", ""},
           {"client", ""},
           {"workspace", ""},
           {"billable", false},
           {"started_at", nullptr},
           {"today_seconds", 0},
           {"week_seconds", 0},
           {"pending", nullptr},
           {"pending_since", nullptr}};
    return out.dump();
  }
  const Properties& p = *properties;
  const bool tracking = get<bool>(p, "Tracking", false);
  const std::int64_t started = get<gint64>(p, "StartedAt", 0);
  const std::int64_t elapsed = tracking && now > started ? now - started : 0;
  const bool signed_in = get_text(p, "Phase") != "signed-out";
  const std::string pending = get_text(p, "Pending");
  const std::int64_t pending_since = get<gint64>(p, "PendingSince", 0);
  const bool waiting = signed_in && !pending.empty();
  const std::string alt = !signed_in ? "signed-out" : waiting ? "pending" : tracking ? "tracking" : "idle";
  // The clock stands where the user stopped it.
  const std::int64_t shown = waiting && pending_since > started ? pending_since - started : elapsed;
  // The totals were read with the clock at `read_at`; the running timer has added since.
  const std::int64_t since_read = tracking && now > read_at ? now - read_at : 0;
  const std::string description = get_text(p, "Description");
  std::string tooltip = status_tooltip(signed_in, tracking, shown, description, waiting ? pending : std::string());
  const std::string assignment = assignment_line(get_text(p, "Project"), get_text(p, "Task"), get_text(p, "Client"));
  if (!assignment.empty()) tooltip += "\n" + assignment;
  // Status bars read the tooltip as Pango markup (Waybar even with its
  // "escape" option): a description with & or < would break it.
  const CharPtr escaped(g_markup_escape_text(tooltip.c_str(), -1));
  tooltip = escaped.get();

  out = {{"text", tracking || waiting ? format_clock(shown) : std::string()},
         {"alt", alt},
         {"class", {alt}},
         {"tooltip", tooltip},
         {"phase", get_text(p, "Phase")},
         {"tracking", tracking},
         {"elapsed", elapsed},
         {"description", description},
         {"project", get_text(p, "Project")},
         {"task", get_text(p, "Task")},
         {"client", get_text(p, "Client")},
         {"workspace", get_text(p, "Workspace")},
         {"billable", get<bool>(p, "Billable", false)},
         {"started_at", tracking ? nlohmann::json(iso8601_utc(started)) : nlohmann::json(nullptr)},
         {"today_seconds", get<gint64>(p, "TodaySeconds", 0) + since_read},
         {"week_seconds", get<gint64>(p, "WeekSeconds", 0) + since_read},
         {"pending", waiting ? nlohmann::json(pending) : nlohmann::json(nullptr)},
         {"pending_since", waiting ? nlohmann::json(iso8601_utc(pending_since)) : nlohmann::json(nullptr)}};
  return out.dump();
}

int run(bool follow) {
  Gio::init();
  // A bar that closes the pipe ends a follower through a failed write, not a signal.
  std::signal(SIGPIPE, SIG_IGN);
  Glib::RefPtr<Gio::DBus::Connection> bus;
  try {
    bus = Gio::DBus::Connection::get_sync(Gio::DBus::BusType::SESSION);
  } catch (const Glib::Error& e) {
    g_info("no session bus: %s", e.what());
  }
  if (!follow || !bus) {
    print(line(read(bus), now_seconds(), now_seconds()));
    return 0;
  }

  auto loop = Glib::MainLoop::create();
  // A quit asked for before the loop runs (the first line could not be
  // written) would be lost on a loop not yet running: it is remembered.
  bool over = false;
  const auto end = [&] {
    over = true;
    loop->quit();
  };
  std::optional<Properties> current;
  std::int64_t read_at = 0;
  std::string last;
  sigc::connection tick;
  std::function<void()> show = [&] {
    // The clock moves only while a timer runs: the line is redrawn from what was read.
    const bool tracking = current && get<bool>(*current, "Tracking", false);
    if (tracking && !tick.connected()) {
      tick = Glib::signal_timeout().connect(
          [&] {
            show();
            return true;
          },
          1000);
    } else if (!tracking) {
      tick.disconnect();
    }
    const std::string text = line(current, read_at, now_seconds());
    if (text == last) return;
    last = text;
    if (!print(text)) end();
  };
  const auto refresh = [&] {
    current = read(bus);
    read_at = now_seconds();
    show();
  };

  const guint changes = bus->signal_subscribe(
      [&](const Glib::RefPtr<Gio::DBus::Connection>&, const Glib::ustring&, const Glib::ustring&, const Glib::ustring&,
          const Glib::ustring&, const Glib::VariantContainerBase&) { refresh(); },
      config::kApplicationId, "org.freedesktop.DBus.Properties", "PropertiesChanged", kPath, kInterface);
  // The instance quitting, or one starting.
  const guint watch = Gio::DBus::watch_name(
      bus, config::kApplicationId,
      [&](const Glib::RefPtr<Gio::DBus::Connection>&, const Glib::ustring&, const Glib::ustring&) { refresh(); },
      [&](const Glib::RefPtr<Gio::DBus::Connection>&, const Glib::ustring&) {
        current.reset();
        show();
      });
  // Standard output closed (the bar quit) while nothing is being written.
  auto gone = Glib::signal_io().connect(
      [&](Glib::IOCondition) {
        end();
        return false;
      },
      1, Glib::IOCondition::IO_ERR | Glib::IOCondition::IO_HUP);

  refresh();
  if (!over) loop->run();
  gone.disconnect();
  tick.disconnect();
  Gio::DBus::unwatch_name(watch);
  bus->signal_unsubscribe(changes);
  return 0;
}

}  // namespace irvelo::status
