#include "app/application.hpp"

#include <gio/gio.h>
#include <giomm/applicationcommandline.h>
#include <glib/gi18n-lib.h>
#include <glibmm/main.h>
#include <glibmm/ustring.h>
#include <glibmm/variantdict.h>

#include <malloc.h>

#include <cctype>
#include <utility>
#include <vector>

#include "api/intervals.hpp"
#include "app/options.hpp"
#include "app/renderer.hpp"
#include "app/status_text.hpp"
#include "config.hpp"
#include "core/owned.hpp"
#include "core/time_format.hpp"
#include "ui/style.hpp"
#include "ui/uri_launcher.hpp"

namespace irvelo {

namespace {

const std::string kCallbackPrefix = std::string(config::kUrlScheme) + "://";

bool blank(const char* text) {
  for (const char* c = text; *c != '\0'; ++c) {
    if (!std::isspace(static_cast<unsigned char>(*c))) return false;
  }
  return true;
}

}  // namespace

std::optional<TrackerStore::Ephemeral> ephemeral_credentials(const char* api_key, const char* server) {
  // An empty key would silently replace the stored one with nothing.
  if (api_key == nullptr || blank(api_key)) return std::nullopt;
  const auto normalised = TrackerStore::normalized_server(server != nullptr ? server : "");
  if (!normalised) return std::nullopt;
  return TrackerStore::Ephemeral{*normalised, api_key};
}

Application::Application() : Gtk::Application(config::kApplicationId, Gio::Application::Flags::HANDLES_COMMAND_LINE) {
  using Type = Gio::Application::OptionType;
  for (const auto& option : options::all()) {
    add_main_option_entry(option.argument != nullptr ? Type::STRING : Type::BOOL, option.long_name, option.short_name,
                          _(option.description), option.argument != nullptr ? _(option.argument) : Glib::ustring());
  }
}

Application::~Application() {
  ready_wait_.disconnect();
  ready_idle_.disconnect();
  background_wait_.disconnect();
  panel_release_.disconnect();
  // Nobody reads the store through the bus once it is gone.
  status_.unexport();
  // The windows go before the tray and the store they show, and all of them
  // before the settings they may refer to.
  settings_window_.reset();
  panel_.reset();
  tray_.reset();
  menu_.reset();
  away_.reset();
  store_.reset();
}

Glib::RefPtr<Application> Application::create() {
  return Glib::make_refptr_for_instance(new Application());
}

void Application::on_startup() {
  Gtk::Application::on_startup();
  // GTK has read its debug flags by now.
  forget_rendering_choice();
  // Every window built from here on is styled by it.
  ui::install_css();

  settings_ = Settings::load();
  store_ = std::make_unique<TrackerStore>(settings_,
                                          ephemeral_credentials(g_getenv("IRVELO_API_KEY"), g_getenv("IRVELO_SERVER")));
  status_.attach(*store_);

  // Served before the item names it, so that a host never asks for a menu
  // that is not there yet.
  menu_ = std::make_unique<ui::TrayMenu>();
  menu_->signal_chosen().connect(sigc::mem_fun(*this, &Application::on_menu_chosen));
  tray_ = std::make_unique<ui::Tray>(ui::TrayMenu::kObjectPath);
  tray_->signal_available().connect(sigc::mem_fun(*this, &Application::on_tray_available));
  tray_->signal_activate().connect(sigc::mem_fun(*this, &Application::toggle_panel));

  // The windows first, then the tray: the tray's texts are the cheapest and
  // may read what the windows just showed. A window not built yet reads the
  // store when it is.
  store_->changed.connect([this] {
    if (panel_) panel_->sync();
    if (settings_window_) settings_window_->sync();
    update_tray();
  });
  store_->tick.connect([this] {
    if (panel_) panel_->sync_clock();
    update_tray();
  });

  away_ = std::make_unique<AwayGuard>(
      *this, *store_, settings_, [this](std::function<void()> action) { run_when_ready(std::move(action)); },
      [this] { show_panel(); });

  add_action("quit", sigc::mem_fun(*this, &Application::quit_app));
  // The notification of a late stop offers the web app, where the entry can be corrected.
  add_action("open-web-app", [this] { ui::launch_uri(panel_.get(), store_->web_app_url()); });
  set_accel_for_action("win.refresh", "<Control>r");
  set_accel_for_action("win.open-browser", "<Control>o");
  set_accel_for_action("win.settings", "<Control>comma");
  set_accel_for_action("app.quit", "<Control>q");

  update_tray();
}

ui::PanelWindow& Application::ensure_panel() {
  if (panel_) return *panel_;
  panel_ = std::make_unique<ui::PanelWindow>(*store_);
  add_window(*panel_);
  panel_->signal_settings().connect(sigc::mem_fun(*this, &Application::show_settings));
  panel_->signal_quit().connect(sigc::mem_fun(*this, &Application::quit_app));
  panel_->signal_close_request().connect(
      [this] {
        // Without a tray icon a hidden panel would leave no way back in.
        if (tray_shown()) return false;
        quit_app();
        return true;
      },
      false);
  panel_->set_hide_on_close(true);
  panel_->signal_hide().connect([this] {
    schedule_panel_release();
    update_menu();
  });
  panel_->signal_show().connect([this] {
    panel_release_.disconnect();
    update_menu();
  });
  panel_->sync();
  return *panel_;
}

void Application::schedule_panel_release() {
  panel_release_.disconnect();
  panel_release_ = Glib::signal_timeout().connect(
      [this] {
        // Forgotten, not disconnected: this callback must not destroy itself.
        panel_release_ = sigc::connection();
        release_panel();
        return false;
      },
      api::panel_release_seconds() * 1000);
}

void Application::release_panel() {
  if (!panel_ || panel_->get_visible()) return;
  if (settings_window_ && settings_window_->get_visible()) return;
  // The sign-in page keeps what was typed into it only in its widgets.
  if (store_->phase != TrackerStore::Phase::Ready) return;
  // A description still being edited goes to the store as leaving it would.
  if (store_->editing_description) {
    store_->editing_description = false;
    store_->commit_description([] {});
  }
  if (settings_window_) {
    remove_window(*settings_window_);
    settings_window_.reset();
  }
  remove_window(*panel_);
  panel_.reset();
  // The widgets' memory goes back to the system instead of waiting in the
  // allocator for a panel that may not open again for hours.
  malloc_trim(0);
}

void Application::on_activate() {
  show_panel();
}

void Application::on_shutdown() {
  // A window added to the application holds a reference to it; without
  // letting go here the application and its windows would keep each other
  // alive past the end of run(). They are destroyed with the application.
  for (auto* window : get_windows()) remove_window(*window);
  Gtk::Application::on_shutdown();
}

int Application::on_command_line(const Glib::RefPtr<Gio::ApplicationCommandLine>& command_line) {
  const Glib::RefPtr<Glib::VariantDict> options = command_line->get_options_dict();
  const auto has = [&options](const char* name) { return options && options->contains(name); };

  int argc = 0;
  const StrvPtr argv(g_application_command_line_get_arguments(command_line->gobj(), &argc));
  bool callback_arrived = false;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv.get()[i];
    if (argument.rfind(kCallbackPrefix, 0) == 0) {
      store_->handle_callback(argument);
      callback_arrived = true;
    }
  }

  std::optional<std::string> description;
  Glib::ustring given;
  if (options && options->lookup_value("description", given)) description = given;
  // Before a start from the command line: the description it asked for.
  const auto start = [this, description] {
    if (store_->running) return;
    if (description) store_->description = *description;
    store_->set_tracking(true);
  };

  std::function<void()> action;
  if (has("toggle")) {
    // Whether a timer runs is read when the action runs, not now.
    action = [this, start] {
      if (store_->running) {
        store_->set_tracking(false);
      } else {
        start();
      }
    };
  } else if (has("start")) {
    action = start;
  } else if (has("stop")) {
    action = [this] { store_->set_tracking(false); };
  } else if (has("continue")) {
    action = [this] { continue_last(); };
  }
  const bool action_chosen = static_cast<bool>(action);
  if (action_chosen) run_when_ready(std::move(action));

  decide_windows(action_chosen, callback_arrived, has("background"));
  return 0;
}

bool Application::dbus_register_vfunc(const Glib::RefPtr<Gio::DBus::Connection>& connection,
                                      const Glib::ustring& object_path) {
  if (!Gtk::Application::dbus_register_vfunc(connection, object_path)) return false;
  // A status bar that cannot read us is no reason not to run.
  status_.export_on(connection, object_path);
  return true;
}

void Application::dbus_unregister_vfunc(const Glib::RefPtr<Gio::DBus::Connection>& connection,
                                        const Glib::ustring& object_path) {
  status_.unexport();
  Gtk::Application::dbus_unregister_vfunc(connection, object_path);
}

void Application::run_when_ready(std::function<void()> action) {
  ready_wait_.disconnect();
  ready_idle_.disconnect();
  // A start or continue waits for a pending stop to be settled, too.
  const auto ready = [this] {
    return store_->phase == TrackerStore::Phase::Ready && !store_->busy && !store_->pending_action;
  };
  if (ready()) {
    action();
    return;
  }
  ready_wait_ = store_->changed.connect([this, action, ready] {
    // Disconnecting destroys this handler; work only with copies after it.
    Application* self = this;
    const std::function<void()> pending = action;
    if (self->store_->phase == TrackerStore::Phase::SignedOut) {
      self->ready_wait_.disconnect();
    } else if (ready()) {
      self->ready_wait_.disconnect();
      // Something else may have made the store busy again by the time the
      // idle queue gets here (a forwarded --toggle, say): then it waits again.
      self->ready_idle_ = Glib::signal_idle().connect(
          [self, pending] {
            // Forgotten, not disconnected: this callback must not destroy itself.
            self->ready_idle_ = sigc::connection();
            self->run_when_ready(pending);
            return false;
          },
          Glib::PRIORITY_DEFAULT_IDLE);
    }
  });
}

void Application::update_tray() {
  if (!tray_ || !store_) return;
  ui::Tray::Icon icon = ui::Tray::Icon::SignedOut;
  if (store_->running) {
    icon = ui::Tray::Icon::Tracking;
  } else if (!store_->api_key.empty()) {
    icon = ui::Tray::Icon::Idle;
  }
  const std::int64_t elapsed = store_->elapsed_seconds();
  const auto& pending = store_->pending_action;
  const std::string tooltip = status_tooltip(!store_->api_key.empty(), store_->running.has_value(), elapsed,
                                             store_->running ? store_->running->description
                                             : pending       ? pending->description
                                                             : std::string(),
                                             !pending                                     ? ""
                                             : pending->kind == PendingAction::Kind::Stop ? "stop"
                                                                                          : "discard");
  const bool show_time = store_->running && settings_.tray_shows_time && settings_.tray_time_style != "off";
  const bool in_icon =
      show_time && ui::clock_in_icon(settings_.tray_time_style, g_getenv("XDG_CURRENT_DESKTOP"), tray_->host_program());
  tray_->set(icon, show_time && !in_icon ? format_clock(elapsed) : std::string(), tooltip);
  // Drawn again only when the minute it shows has passed.
  const std::int64_t minute = in_icon ? elapsed / 60 : -1;
  if (minute != drawn_minute_) {
    drawn_minute_ = minute;
    tray_->set_pixmaps(in_icon ? ui::draw_clock_icon(elapsed) : std::vector<ui::IconPixmap>());
  }
  update_menu();
}

void Application::update_menu() {
  if (!menu_ || !store_) return;
  ui::TrayMenu::State state;
  state.panel_shown = panel_visible();
  state.signed_in = !store_->api_key.empty();
  state.running = store_->running.has_value();
  state.busy = store_->phase != TrackerStore::Phase::Ready || store_->busy || store_->pending_action.has_value();
  if (!state.running && state.signed_in) {
    const auto recent = store_->recent_entries();
    state.has_last = !recent.empty();
    if (state.has_last) state.last_description = recent.front().description;
  }
  menu_->update(state);
}

void Application::on_menu_chosen(ui::TrayMenu::Item item) {
  switch (item) {
    case ui::TrayMenu::Item::Panel:
      toggle_panel();
      break;
    case ui::TrayMenu::Item::Timer:
      // What the item said when chosen is what it does, even if it runs later.
      run_when_ready([this, start = !store_->running] {
        if (start == store_->running.has_value()) return;
        store_->set_tracking(start);
      });
      break;
    case ui::TrayMenu::Item::Continue:
      run_when_ready([this] { continue_last(); });
      break;
    case ui::TrayMenu::Item::Settings:
      show_settings();
      break;
    case ui::TrayMenu::Item::Quit:
      quit_app();
      break;
  }
}

void Application::continue_last() {
  if (store_->running) return;
  const auto recent = store_->recent_entries();
  if (!recent.empty()) store_->continue_entry(recent.front());
}

void Application::on_tray_available(bool available) {
  // Held from the first host on, until the user quits: a host that leaves (a
  // lock screen switching extensions off, a panel restarting) comes back, and
  // the item registers again then. Nothing pops up meanwhile; only a start
  // that found no host at all shows the panel (see decide_windows).
  if (available && !held_) {
    hold();
    held_ = true;
  }
  update_tray();
}

void Application::quit_app() {
  if (held_) {
    held_ = false;
    release();
  }
  settings_window_.reset();
  for (auto* window : get_windows()) window->hide();
  quit();
}

void Application::show_panel() {
  show_panel(ui::Tray::Activation{});
}

void Application::show_panel(const ui::Tray::Activation& click) {
  ui::PanelWindow& panel = ensure_panel();
  // A window manager that keeps new windows behind the focused one lets
  // this one to the front with the host's token.
  if (!click.token.empty()) gtk_window_set_startup_id(GTK_WINDOW(panel.gobj()), click.token.c_str());
  if (click.x != 0 || click.y != 0) panel.place_beside(click.x, click.y);
  present_as_ours(panel);
  panel.focus_first_field();
}

void Application::present_as_ours(Gtk::Window& window) {
  // gtkmm takes a hidden window out of the application; shown again without
  // being added back, it would lose the application's actions and
  // accelerators and no longer count as one of its windows.
  if (window.get_application() == nullptr) add_window(window);
  window.present();
}

void Application::toggle_panel() {
  // Decided on what is on screen: a click on a tray can take the focus from
  // the panel before the host asks us to toggle.
  const ui::Tray::Activation click = tray_ ? tray_->take_activation() : ui::Tray::Activation{};
  if (panel_visible()) {
    panel_->close();
  } else {
    show_panel(click);
  }
}

void Application::show_settings() {
  if (!settings_window_) {
    settings_window_ = std::make_unique<ui::SettingsWindow>(*store_, settings_);
    settings_window_->set_transient_for(ensure_panel());
    settings_window_->signal_settings_changed().connect([this] {
      update_tray();
      away_->configure();
    });
    away_->describe_idle([this](const Glib::ustring& line) {
      if (settings_window_) settings_window_->set_idle_source(line);
    });
    // Closed after the panel, it lets the panel go in its turn.
    settings_window_->signal_hide().connect(sigc::mem_fun(*this, &Application::schedule_panel_release));
    add_window(*settings_window_);
  }
  settings_window_->sync();
  present_as_ours(*settings_window_);
}

bool Application::panel_visible() const {
  return panel_ && panel_->get_visible();
}

bool Application::tray_shown() const {
  return tray_ && tray_->available();
}

void Application::decide_windows(bool action_chosen, bool callback_arrived, bool background) {
  if (action_chosen) {
    // A shortcut that toggles the timer does not pop the panel up while the
    // tray shows the state.
    if (!tray_shown() && !panel_visible()) show_panel();
    return;
  }
  if (callback_arrived) {
    show_panel();
    return;
  }
  if (background) {
    // The tray host answers asynchronously; without a use count the process
    // would end before the answer arrives, so hold it for the wait.
    // One wait at a time: a second --background during it changes nothing.
    if (background_wait_.connected()) return;
    hold();
    background_wait_ = Glib::signal_timeout().connect(
        [this] {
          // A host seen and gone again within the wait (a bar reloading)
          // comes back; only none at all leaves the panel as the way in.
          if (!tray_shown() && !held_) show_panel();
          release();
          return false;
        },
        api::background_grace_ms());
    return;
  }
  show_panel();
}

}  // namespace irvelo
