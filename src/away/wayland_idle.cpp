#include "away/wayland_idle.hpp"

#include <gdk/wayland/gdkwayland.h>
#include <glib.h>
#include <wayland-client.h>

#include <cstring>
#include <utility>

#include "ext-idle-notify-v1-client-protocol.h"
#include "idle-client-protocol.h"

namespace irvelo::away {
namespace {

// How long without input before the user counts as no longer typing: the
// precision of a spell's start, and the most events the tracker causes (two
// per pause longer than this).
constexpr std::uint32_t kTrackMs = 1000;

std::int64_t now_ms() {
  return g_get_real_time() / 1000;
}

}  // namespace

struct WaylandIdle::Objects {
  wl_display* display = nullptr;
  wl_seat* seat = nullptr;
  ext_idle_notifier_v1* notifier = nullptr;
  org_kde_kwin_idle* kde = nullptr;

  ~Objects() {
    if (notifier != nullptr) ext_idle_notifier_v1_destroy(notifier);
    if (kde != nullptr) org_kde_kwin_idle_destroy(kde);
    if (seat != nullptr) wl_seat_destroy(seat);
    if (display != nullptr) wl_display_flush(display);
  }
};

// One span of inactivity the compositor watches, in either protocol.
struct WaylandIdle::Timeout {
  ext_idle_notification_v1* notification = nullptr;
  org_kde_kwin_idle_timeout* kde = nullptr;
  std::function<void(bool)> changed;  // true: idle, false: back

  ~Timeout() {
    if (notification != nullptr) ext_idle_notification_v1_destroy(notification);
    if (kde != nullptr) org_kde_kwin_idle_timeout_release(kde);
  }
};

namespace {

void on_global(void* data, wl_registry* registry, std::uint32_t name, const char* interface, std::uint32_t) {
  auto* objects = static_cast<WaylandIdle::Objects*>(data);
  if (std::strcmp(interface, wl_seat_interface.name) == 0 && objects->seat == nullptr) {
    objects->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
  } else if (std::strcmp(interface, ext_idle_notifier_v1_interface.name) == 0) {
    objects->notifier =
        static_cast<ext_idle_notifier_v1*>(wl_registry_bind(registry, name, &ext_idle_notifier_v1_interface, 1));
  } else if (std::strcmp(interface, org_kde_kwin_idle_interface.name) == 0) {
    objects->kde = static_cast<org_kde_kwin_idle*>(wl_registry_bind(registry, name, &org_kde_kwin_idle_interface, 1));
  }
}

void on_global_remove(void*, wl_registry*, std::uint32_t) {}

constexpr wl_registry_listener kRegistry{on_global, on_global_remove};

void changed(void* data, bool idle) {
  auto* timeout = static_cast<WaylandIdle::Timeout*>(data);
  if (timeout->changed) timeout->changed(idle);
}

constexpr ext_idle_notification_v1_listener kNotification{
    [](void* data, ext_idle_notification_v1*) { changed(data, true); },
    [](void* data, ext_idle_notification_v1*) { changed(data, false); },
};

constexpr org_kde_kwin_idle_timeout_listener kKdeTimeout{
    [](void* data, org_kde_kwin_idle_timeout*) { changed(data, true); },
    [](void* data, org_kde_kwin_idle_timeout*) { changed(data, false); },
};

// Moves a proxy bound on the private queue to GTK's, which dispatches it.
template <typename T>
void to_default_queue(T* proxy) {
  if (proxy != nullptr) wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(proxy), nullptr);
}

std::unique_ptr<WaylandIdle::Timeout> add_timeout(WaylandIdle::Objects& objects, std::int64_t ms,
                                                  std::function<void(bool)> on_change) {
  auto timeout = std::make_unique<WaylandIdle::Timeout>();
  timeout->changed = std::move(on_change);
  const auto span = static_cast<std::uint32_t>(ms);
  // The newer protocol where both are offered.
  if (objects.notifier != nullptr) {
    timeout->notification = ext_idle_notifier_v1_get_idle_notification(objects.notifier, span, objects.seat);
    ext_idle_notification_v1_add_listener(timeout->notification, &kNotification, timeout.get());
  } else {
    timeout->kde = org_kde_kwin_idle_get_idle_timeout(objects.kde, objects.seat, span);
    org_kde_kwin_idle_timeout_add_listener(timeout->kde, &kKdeTimeout, timeout.get());
  }
  wl_display_flush(objects.display);
  return timeout;
}

}  // namespace

std::unique_ptr<WaylandIdle> WaylandIdle::open() {
  GdkDisplay* gdk = gdk_display_get_default();
  if (gdk == nullptr || !GDK_IS_WAYLAND_DISPLAY(gdk)) return nullptr;
  auto objects = std::make_unique<Objects>();
  objects->display = gdk_wayland_display_get_wl_display(gdk);
  // The globals are read on a queue of our own, so that the round trip
  // dispatches nothing of GTK's.
  wl_event_queue* queue = wl_display_create_queue(objects->display);
  auto* display = static_cast<wl_display*>(wl_proxy_create_wrapper(objects->display));
  wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(display), queue);
  wl_registry* registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &kRegistry, objects.get());
  const int answered = wl_display_roundtrip_queue(objects->display, queue);
  to_default_queue(objects->seat);
  to_default_queue(objects->notifier);
  to_default_queue(objects->kde);
  wl_registry_destroy(registry);
  wl_proxy_wrapper_destroy(display);
  wl_event_queue_destroy(queue);
  if (answered < 0 || objects->seat == nullptr || (objects->notifier == nullptr && objects->kde == nullptr)) {
    return nullptr;
  }
  g_info("idle time from the Wayland compositor (%s)",
         objects->notifier != nullptr ? ext_idle_notifier_v1_interface.name : org_kde_kwin_idle_interface.name);
  return std::unique_ptr<WaylandIdle>(new WaylandIdle(std::move(objects)));
}

WaylandIdle::WaylandIdle(std::unique_ptr<Objects> objects) : objects_(std::move(objects)), opened_ms_(now_ms()) {
  tracker_ = add_timeout(*objects_, kTrackMs, [this](bool idle) { on_tracker(idle); });
}

WaylandIdle::~WaylandIdle() {
  watch_.reset();
  tracker_.reset();
}

void WaylandIdle::on_tracker(bool idle) {
  idle_ = idle;
  if (idle) {
    spell_began_ms_ = now_ms() - kTrackMs;
  } else {
    seen_input_ = true;
  }
}

void WaylandIdle::watch(std::int64_t threshold_ms, std::function<void(std::int64_t)> idle,
                        std::function<void()> active) {
  threshold_ms_ = threshold_ms;
  on_idle_ = std::move(idle);
  on_active_ = std::move(active);
  watch_ = add_timeout(*objects_, threshold_ms, [this](bool idle) {
    if (!idle) {
      if (on_active_) on_active_();
      return;
    }
    // Without input seen since open(), the spell may have begun long before.
    std::int64_t began = 0;
    if (seen_input_) began = (idle_ ? spell_began_ms_ : now_ms() - threshold_ms_) / 1000;
    if (on_idle_) on_idle_(began);
  });
}

void WaylandIdle::unwatch() {
  watch_.reset();
  threshold_ms_ = 0;
  if (objects_) wl_display_flush(objects_->display);
}

std::optional<std::int64_t> WaylandIdle::idle_ms() const {
  if (!idle_) return 0;
  return now_ms() - (seen_input_ ? spell_began_ms_ : opened_ms_);
}

}  // namespace irvelo::away
