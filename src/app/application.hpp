#pragma once

// The single-instance application: owns the settings, the tracker store and
// the tray icon, answers command lines (its own and those forwarded by later
// invocations), keeps the tray's texts in step with the store, and stays
// alive from the first tray host on until the user quits. Its windows are built when first
// shown and the panel is given back after a while hidden.

#include <gtkmm/application.h>
#include <sigc++/connection.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/away_guard.hpp"
#include "app/status_service.hpp"
#include "core/tracker_store.hpp"
#include "storage/settings.hpp"
#include "ui/panel_window.hpp"
#include "ui/settings_window.hpp"
#include "ui/tray.hpp"
#include "ui/tray_menu.hpp"

namespace irvelo {

// Credentials given through the environment: `api_key` and `server` are the
// values of IRVELO_API_KEY and IRVELO_SERVER (null when unset). A key that is
// unset, empty or only white space gives none, as does a server the store
// cannot use. The key itself is passed on unchanged.
[[nodiscard]] std::optional<TrackerStore::Ephemeral> ephemeral_credentials(const char* api_key, const char* server);

class Application : public Gtk::Application {
 public:
  static Glib::RefPtr<Application> create();
  ~Application() override;

  void quit_app();
  void update_tray();
  void on_tray_available(bool available);
  // Runs `action` now when the store is ready and idle, else once it becomes
  // so (checked again when it runs); only the latest waiting action survives,
  // and signing out drops it.
  void run_when_ready(std::function<void()> action);

  // Presents the panel (the same as activating the application).
  void show_panel();
  // Presents it beside a tray click, in front with the host's token.
  void show_panel(const ui::Tray::Activation& click);
  // Closes the panel when it is shown and the active window, else presents it.
  void toggle_panel();
  // Creates the settings window on first use, refreshes and presents it.
  void show_settings();
  // Destroys the panel (and a hidden settings window) when it is hidden and
  // signed in, giving its memory back; the next show builds it anew from the
  // store. Runs on its own some time after the panel was hidden.
  void release_panel();

  // Null before start-up.
  [[nodiscard]] TrackerStore* store() { return store_.get(); }
  [[nodiscard]] ui::Tray* tray() { return tray_.get(); }
  // Null until the panel is first needed, and again once a hidden panel has
  // been given back (see release_panel).
  [[nodiscard]] ui::PanelWindow* panel() { return panel_.get(); }
  // Null until first shown and after quitting.
  [[nodiscard]] ui::SettingsWindow* settings_window() { return settings_window_.get(); }
  [[nodiscard]] bool held() const { return held_; }

 protected:
  Application();
  void on_startup() override;
  void on_activate() override;
  void on_shutdown() override;
  int on_command_line(const Glib::RefPtr<Gio::ApplicationCommandLine>& command_line) override;
  bool dbus_register_vfunc(const Glib::RefPtr<Gio::DBus::Connection>& connection,
                           const Glib::ustring& object_path) override;
  void dbus_unregister_vfunc(const Glib::RefPtr<Gio::DBus::Connection>& connection,
                             const Glib::ustring& object_path) override;

 private:
  [[nodiscard]] bool panel_visible() const;
  void present_as_ours(Gtk::Window& window);
  [[nodiscard]] bool tray_shown() const;
  void decide_windows(bool action_chosen, bool callback_arrived, bool background);
  // The panel, built on first use: a tray start shows no window until the
  // user opens one.
  ui::PanelWindow& ensure_panel();
  void schedule_panel_release();
  void update_menu();
  void on_menu_chosen(ui::TrayMenu::Item item);
  // Resumes the most recent entry unless a timer runs.
  void continue_last();

  Settings settings_;
  StatusService status_;
  std::unique_ptr<TrackerStore> store_;
  std::unique_ptr<AwayGuard> away_;
  std::unique_ptr<ui::TrayMenu> menu_;
  std::unique_ptr<ui::Tray> tray_;
  std::unique_ptr<ui::PanelWindow> panel_;
  std::unique_ptr<ui::SettingsWindow> settings_window_;
  bool held_ = false;
  // The minute of running time the tray icon shows; -1: none.
  std::int64_t drawn_minute_ = -1;
  sigc::connection ready_wait_;
  sigc::connection ready_idle_;
  sigc::connection background_wait_;
  sigc::connection panel_release_;
};

}  // namespace irvelo
