#pragma once

// The tray item's menu, served over com.canonical.dbusmenu by libdbusmenu-glib:
// hosts that open a menu on a click (GNOME Shell's indicator extension,
// Waybar's right click) get the panel, the timer, the last entry, the
// settings and quit from it. Hosts that call Activate on a left click keep
// opening the panel; the menu is their right click.

#include <sigc++/signal.h>

#include <libdbusmenu-glib/server.h>

#include <array>
#include <string>

#include "core/owned.hpp"

namespace irvelo::ui {

class TrayMenu {
 public:
  enum class Item { Panel = 0, Timer, Continue, Settings, Quit };
  static constexpr const char* kObjectPath = "/MenuBar";

  struct State {
    bool panel_shown = false;
    bool signed_in = false;
    bool running = false;
    // Nothing can start or continue meanwhile (loading, a stop still to send).
    bool busy = false;
    // The description of the entry Continue would resume; empty with one
    // that has none.
    std::string last_description;
    bool has_last = false;

    bool operator==(const State&) const = default;
  };

  TrayMenu();
  ~TrayMenu();
  TrayMenu(const TrayMenu&) = delete;
  TrayMenu& operator=(const TrayMenu&) = delete;

  // Relabels and enables the items for `state`; changes reach the host as
  // the library's LayoutUpdated and ItemsPropertiesUpdated signals.
  void update(const State& state);

  sigc::signal<void(Item)>& signal_chosen() { return chosen_; }

  // An activated item; called through the library's plain function.
  void choose(Item item) { chosen_.emit(item); }

 private:
  ObjectPtr<DbusmenuServer> server_;
  ObjectPtr<DbusmenuMenuitem> root_;
  std::array<DbusmenuMenuitem*, 5> items_{};  // owned by root_
  State state_;
  bool shown_once_ = false;
  sigc::signal<void(Item)> chosen_;
};

}  // namespace irvelo::ui
