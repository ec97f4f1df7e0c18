#include "away/idle_monitor.hpp"

#include <glib/gi18n-lib.h>

#include <utility>

#include "away/bus_call.hpp"
#include "away/x11_idle.hpp"
#include "core/owned.hpp"

namespace irvelo::away {
namespace {

constexpr Call kMutter{"org.gnome.Mutter.IdleMonitor", "/org/gnome/Mutter/IdleMonitor/Core",
                       "org.gnome.Mutter.IdleMonitor", nullptr};
constexpr Call kScreenSaver{"org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver",
                            "org.freedesktop.ScreenSaver", "GetSessionIdleTime"};

Call mutter(const char* method) {
  Call call = kMutter;
  call.method = method;
  return call;
}

// GetSessionIdleTime has no written unit: KDE's screen locker answers in
// milliseconds, the others that offer it (MATE's, Xfce's, Cinnamon's) in
// seconds, as GNOME's old screen saver did.
std::int64_t screen_saver_unit_ms() {
  const char* desktops = g_getenv("XDG_CURRENT_DESKTOP");
  const StrvPtr names(g_strsplit(desktops != nullptr ? desktops : "", ":", -1));
  for (gchar** name = names.get(); *name != nullptr; ++name) {
    if (g_ascii_strcasecmp(*name, "KDE") == 0) return 1;
  }
  return 1000;
}

// The instant (Unix seconds) a spell of `idle_ms` began; rounded down, it is
// never later than the input that ended the previous spell.
std::int64_t spell_began(std::int64_t idle_ms) {
  return (g_get_real_time() / 1000 - idle_ms) / 1000;
}

}  // namespace

Glib::ustring idle_source_name(IdleSource source) {
  switch (source) {
    case IdleSource::Mutter:
      return _("GNOME");
    case IdleSource::Wayland:
      return _("Wayland compositor");
    case IdleSource::ScreenSaver:
      return _("screen saver");
    case IdleSource::X11:
      return _("X11");
    case IdleSource::Logind:
      // logind only passes on what the desktop tells it; many never do.
      return _("login manager, if the desktop reports idle");
    case IdleSource::Unknown:
    case IdleSource::None:
      break;
  }
  return _("not available here");
}

IdleMonitor::IdleMonitor(SessionMonitor& session) : session_(session) {}

IdleMonitor::~IdleMonitor() {
  session_wait_.disconnect();
  unwatch();
  cancellable_->cancel();
  if (fired_subscription_ != 0 && bus_) bus_->signal_unsubscribe(fired_subscription_);
}

void IdleMonitor::detect(std::function<void(IdleSource)> done) {
  if (source_ != IdleSource::Unknown) {
    done(source_);
    return;
  }
  waiting_.push_back(std::move(done));
  if (detecting_) return;
  detecting_ = true;
  bus_ = bus(Gio::DBus::BusType::SESSION);
  try_mutter();
}

void IdleMonitor::try_mutter() {
  call(bus_, mutter("GetIdletime"), Glib::VariantContainerBase(), cancellable_, [this](Reply reply) {
    if (!first<guint64>(reply)) return try_wayland();
    fired_subscription_ = bus_->signal_subscribe(
        [this](const Glib::RefPtr<Gio::DBus::Connection>&, const Glib::ustring&, const Glib::ustring&,
               const Glib::ustring&, const Glib::ustring&, const Glib::VariantContainerBase& parameters) {
          if (auto id = first<guint32>(parameters)) on_watch_fired(*id);
        },
        kMutter.name, kMutter.interface, "WatchFired", kMutter.path);
    found(IdleSource::Mutter);
  });
}

void IdleMonitor::try_wayland() {
  wayland_ = WaylandIdle::open();
  if (wayland_) return found(IdleSource::Wayland);
  try_screen_saver();
}

void IdleMonitor::watch_wayland() {
  wayland_->watch(
      threshold_ms_, [this](std::int64_t since) { idle.emit(since); }, [this] { active.emit(); });
}

void IdleMonitor::try_screen_saver() {
  call(bus_, kScreenSaver, Glib::VariantContainerBase(), cancellable_, [this](Reply reply) {
    if (first<guint32>(reply)) return found(IdleSource::ScreenSaver);
    try_x11();
  });
}

void IdleMonitor::try_x11() {
  x11_ = X11Idle::open();
  if (x11_) return found(IdleSource::X11);
  try_logind();
}

void IdleMonitor::try_logind() {
  session_.start();
  if (!session_.session_known()) {
    session_wait_ = session_.session_found.connect([this] {
      session_wait_.disconnect();
      try_logind();
    });
    return;
  }
  session_.query_idle(
      [this](std::optional<std::int64_t> idle_ms) { found(idle_ms ? IdleSource::Logind : IdleSource::None); });
}

void IdleMonitor::found(IdleSource source) {
  source_ = source;
  detecting_ = false;
  g_info("idle time from: %s", idle_source_name(source).c_str());
  auto waiting = std::move(waiting_);
  waiting_.clear();
  for (auto& done : waiting) done(source);
  if (threshold_ms_ > 0 && source_ == IdleSource::Mutter) add_mutter_watch();
  if (threshold_ms_ > 0 && source_ == IdleSource::Wayland) watch_wayland();
}

void IdleMonitor::watch(std::int64_t threshold_ms) {
  if (threshold_ms == threshold_ms_) return;
  unwatch();
  threshold_ms_ = threshold_ms;
  if (source_ == IdleSource::Unknown) {
    detect([](IdleSource) {});
  } else if (source_ == IdleSource::Mutter) {
    add_mutter_watch();
  } else if (source_ == IdleSource::Wayland) {
    watch_wayland();
  }
}

void IdleMonitor::add_mutter_watch() {
  if (adding_ || idle_watch_ != 0) return;
  adding_ = true;
  const std::int64_t threshold = threshold_ms_;
  call(bus_, mutter("AddIdleWatch"),
       Glib::VariantContainerBase::create_tuple(Glib::Variant<guint64>::create(static_cast<guint64>(threshold))),
       cancellable_, [this, threshold](Reply reply) {
         adding_ = false;
         const auto id = first<guint32>(reply);
         if (!id) return;
         idle_watch_ = *id;
         if (threshold_ms_ == threshold) return;
         // Unwatched, or watching for another span, while the watch was on its way.
         const std::int64_t wanted = threshold_ms_;
         unwatch();
         if (wanted > 0) watch(wanted);
       });
}

void IdleMonitor::unwatch() {
  threshold_ms_ = 0;
  if (wayland_) wayland_->unwatch();
  if (idle_watch_ != 0 && bus_) {
    call(bus_, mutter("RemoveWatch"),
         Glib::VariantContainerBase::create_tuple(Glib::Variant<guint32>::create(idle_watch_)), cancellable_,
         [](Reply) {});
  }
  idle_watch_ = 0;
}

void IdleMonitor::on_watch_fired(guint32 id) {
  if (id == 0) return;
  if (id == active_watch_) {
    active_watch_ = 0;
    active.emit();
    return;
  }
  if (id != idle_watch_ || threshold_ms_ <= 0) return;
  // The return is worth knowing only after an away spell; Mutter's user-active watches fire once.
  if (active_watch_ == 0) {
    call(bus_, mutter("AddUserActiveWatch"), Glib::VariantContainerBase(), cancellable_, [this](Reply reply) {
      if (auto watch = first<guint32>(reply)) active_watch_ = *watch;
    });
  }
  // A watch added during a spell already longer than its span fires at once:
  // when the spell began is read, not assumed to be one span ago.
  const std::int64_t threshold = threshold_ms_;
  call(bus_, mutter("GetIdletime"), Glib::VariantContainerBase(), cancellable_, [this, threshold](Reply reply) {
    if (threshold_ms_ != threshold) return;
    const auto ms = first<guint64>(reply);
    idle.emit(spell_began(ms ? static_cast<std::int64_t>(*ms) : threshold));
  });
}

void IdleMonitor::poll() {
  if (threshold_ms_ <= 0 || source_ == IdleSource::Mutter || source_ == IdleSource::Wayland) return;
  const std::int64_t threshold = threshold_ms_;
  query([this, threshold](std::optional<std::int64_t> idle_ms) {
    if (!idle_ms || threshold_ms_ != threshold || *idle_ms < threshold) return;
    idle.emit(spell_began(*idle_ms));
  });
}

void IdleMonitor::query(std::function<void(std::optional<std::int64_t>)> done) {
  switch (source_) {
    case IdleSource::Mutter:
      call(bus_, mutter("GetIdletime"), Glib::VariantContainerBase(), cancellable_,
           [done = std::move(done)](Reply reply) {
             const auto ms = first<guint64>(reply);
             done(ms ? std::optional<std::int64_t>(static_cast<std::int64_t>(*ms)) : std::nullopt);
           });
      return;
    case IdleSource::ScreenSaver:
      call(bus_, kScreenSaver, Glib::VariantContainerBase(), cancellable_,
           [done = std::move(done), unit = screen_saver_unit_ms()](Reply reply) {
             const auto idle = first<guint32>(reply);
             done(idle ? std::optional<std::int64_t>(static_cast<std::int64_t>(*idle) * unit) : std::nullopt);
           });
      return;
    case IdleSource::X11:
      done(x11_ ? x11_->idle_ms() : std::nullopt);
      return;
    case IdleSource::Wayland:
      done(wayland_ ? wayland_->idle_ms() : std::nullopt);
      return;
    case IdleSource::Logind:
      session_.query_idle(std::move(done));
      return;
    case IdleSource::Unknown:
    case IdleSource::None:
      break;
  }
  done(std::nullopt);
}

}  // namespace irvelo::away
