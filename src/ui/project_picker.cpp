#include "ui/project_picker.hpp"

#include <glib.h>
#include <glib/gi18n-lib.h>
#include <gtk/gtk.h>
#include <gtkmm/eventcontrollerkey.h>
#include <gtkmm/noselection.h>
#include <gtkmm/root.h>
#include <gtkmm/signallistitemfactory.h>
#include <gtkmm/window.h>

#include <algorithm>
#include <map>

#include "ui/accessible.hpp"

namespace irvelo::ui {

namespace {

std::string fold(const Glib::ustring& text) {
  return text.casefold().raw();
}

// Locale collation order, so "beta" sorts between "Alpha" and "Gamma".
bool before(const std::string& a, const std::string& b) {
  return g_utf8_collate(a.c_str(), b.c_str()) < 0;
}

void sort_by_name(std::vector<const api::PickerProject*>& list) {
  std::sort(list.begin(), list.end(), [](const auto* a, const auto* b) { return before(a->name, b->name); });
}

// The widgets of one row, reused for whichever row scrolls into view: a
// section title, or the dot, the name and the check mark of a project.
class RowWidget : public Gtk::Box {
 public:
  RowWidget() : Gtk::Box(Gtk::Orientation::HORIZONTAL, 8) {
    header.set_xalign(0);
    header.set_hexpand(true);
    header.add_css_class("picker-section");
    name.set_xalign(0);
    name.set_hexpand(true);
    name.set_ellipsize(Pango::EllipsizeMode::END);
    check.set_from_icon_name("object-select-symbolic");
    append(header);
    append(dot);
    append(name);
    append(check);
  }

  void show_row(const PickerRow& row, bool current) {
    const bool is_header = row.kind == PickerRow::Kind::Header;
    header.set_visible(is_header);
    dot.set_visible(!is_header);
    name.set_visible(!is_header);
    check.set_visible(!is_header && current);
    if (is_header) {
      header.set_text(row.title);
    } else {
      dot.set_color(row.color, row.kind == PickerRow::Kind::NoProject);
      name.set_text(row.title);
    }
  }

  ~RowWidget() override {
    if (item != nullptr) g_object_remove_weak_pointer(G_OBJECT(item), reinterpret_cast<gpointer*>(&item));
  }

  // The list item showing this widget; it owns the widget, so the pointer is
  // weak and clears itself should the item go first.
  void attach(GtkListItem* owner) {
    item = owner;
    g_object_add_weak_pointer(G_OBJECT(item), reinterpret_cast<gpointer*>(&item));
  }

  // The position of the row shown, if one is bound.
  [[nodiscard]] std::optional<guint> position() const {
    if (item == nullptr || gtk_list_item_get_item(item) == nullptr) return std::nullopt;
    const guint at = gtk_list_item_get_position(item);
    if (at == GTK_INVALID_LIST_POSITION) return std::nullopt;
    return at;
  }

  Gtk::Label header;
  ColorDot dot{"", 9, true};
  Gtk::Label name;
  Gtk::Image check;
  GtkListItem* item = nullptr;
};

// The row widget of the list cell `cell`, or null.
RowWidget* row_widget_of(Gtk::Widget* cell) {
  return cell != nullptr ? dynamic_cast<RowWidget*>(cell->get_first_child()) : nullptr;
}

}  // namespace

PickerRow::PickerRow() : Glib::ObjectBase(typeid(PickerRow)) {}

Glib::RefPtr<PickerRow> PickerRow::create(Kind kind, std::string title, std::optional<std::string> id,
                                          std::string color, std::size_t section) {
  auto row = Glib::make_refptr_for_instance(new PickerRow());
  row->kind = kind;
  row->title = std::move(title);
  row->id = std::move(id);
  row->color = std::move(color);
  row->section = section;
  return row;
}

ProjectPicker::ProjectPicker() {
  add_css_class("picker");
  add_css_class("flat");
  set_hexpand(true);
  set_always_show_arrow(false);
  // GTK draws a menu button through an inner toggle button: without a frame
  // that button is flat, and it carries "picker" too so the stylesheet's
  // button.picker padding reaches it.
  set_has_frame(false);
  if (auto* inner = get_first_child()) inner->add_css_class("picker");

  label.set_ellipsize(Pango::EllipsizeMode::END);
  label.set_xalign(0);
  label.set_hexpand(true);
  arrow.set_from_icon_name("pan-down-symbolic");
  arrow.add_css_class("caption");
  content.set_hexpand(true);
  content.append(dot);
  content.append(label);
  content.append(arrow);
  set_child(content);
  // GTK 4.8 wraps a menu button's child in a centred box; the name should
  // start at the left edge like the other fields of the card.
  if (auto* wrapper = content.get_parent(); wrapper && wrapper != get_first_child()) {
    wrapper->set_halign(Gtk::Align::FILL);
  }

  // gtkmm 4.8 has no custom filter; GTK's own calls back into shows().
  filter = Glib::wrap(GTK_FILTER(gtk_custom_filter_new(
      [](gpointer item, gpointer self) -> gboolean {
        auto* row = dynamic_cast<PickerRow*>(Glib::wrap_auto(static_cast<GObject*>(item), false));
        return row != nullptr && static_cast<ProjectPicker*>(self)->shows(*row);
      },
      this, nullptr)));
  filtered = Gtk::FilterListModel::create(rows, filter);

  auto factory = Gtk::SignalListItemFactory::create();
  factory->signal_setup().connect([](const Glib::RefPtr<Gtk::ListItem>& item) {
    auto* widget = Gtk::make_managed<RowWidget>();
    widget->attach(item->gobj());
    item->set_child(*widget);
  });
  factory->signal_bind().connect([this](const Glib::RefPtr<Gtk::ListItem>& item) {
    auto row = std::dynamic_pointer_cast<PickerRow>(item->get_item());
    auto* widget = dynamic_cast<RowWidget*>(item->get_child());
    if (!row || widget == nullptr) return;
    const bool header = row->kind == PickerRow::Kind::Header;
    item->set_activatable(!header);
    // Nothing is ever selected (the model is a NoSelection), but GTK 4.8
    // gives the keyboard focus only to selectable rows: headers stay out.
    item->set_selectable(!header);
    widget->show_row(*row, !header && row->id == selected);
    // The row, not the box inside it, is what a screen reader lands on.
    if (auto* cell = widget->get_parent()) set_accessible_name(*cell, row->title);
  });

  popover.add_css_class("menu");
  popover_box.set_size_request(300, -1);
  // gtkmm 4.8 wraps SearchEntry::set_placeholder_text with the GtkEntry call,
  // which a GtkSearchEntry rejects; the property is the working route.
  search.set_property("placeholder-text", Glib::ustring(_("Search projects")));
  set_accessible_name(search, _("Search projects"));
  scroller.set_policy(Gtk::PolicyType::NEVER, Gtk::PolicyType::AUTOMATIC);
  scroller.set_max_content_height(380);
  scroller.set_propagate_natural_height(true);
  list.add_css_class("picker-list");
  list.set_model(Gtk::NoSelection::create(filtered));
  list.set_factory(factory);
  list.set_single_click_activate(true);
  scroller.set_child(list);
  popover_box.append(search);
  popover_box.append(scroller);
  popover.set_child(popover_box);
  set_popover(popover);

  list.signal_activate().connect(sigc::mem_fun(*this, &ProjectPicker::choose));
  // Ahead of the list's own key bindings, which stop at a header (it cannot
  // take the focus) and make Space only select.
  auto keys = Gtk::EventControllerKey::create();
  keys->set_propagation_phase(Gtk::PropagationPhase::CAPTURE);
  keys->signal_key_pressed().connect(sigc::mem_fun(*this, &ProjectPicker::on_key_pressed), false);
  popover.add_controller(keys);
  search.signal_changed().connect(sigc::mem_fun(*this, &ProjectPicker::apply_search));
  search.signal_activate().connect(sigc::mem_fun(*this, &ProjectPicker::pick_first_match));
  popover.signal_show().connect(sigc::mem_fun(*this, &ProjectPicker::on_popover_shown));

  refresh_label();
}

ProjectPicker::~ProjectPicker() {
  // The filter calls back into this object; the list may outlive it briefly.
  list.set_model({});
  filtered->set_filter({});
}

bool ProjectPicker::matches(const api::PickerProject& project, const std::string& query) {
  if (query.empty()) return true;
  if (fold(project.name).find(query) != std::string::npos) return true;
  return project.client_name && fold(*project.client_name).find(query) != std::string::npos;
}

void ProjectPicker::set_projects(const std::vector<api::PickerProject>& list_in) {
  projects = list_in;
  // Tasks and the billable flag are not shown in the list, so they do not count.
  std::string print;
  for (const auto& p : projects) {
    print += p.id + '\x1f' + p.name + '\x1f' + p.color + (p.favorite ? "*" : "") + '\x1f' +
             (p.client_name ? "+" + *p.client_name : std::string()) + '|';
  }
  if (print != fingerprint) {
    fingerprint = std::move(print);
    stale = true;
    // A closed popover is rebuilt when it next opens.
    if (popover.get_visible()) rebuild();
  }
  refresh_label();
}

void ProjectPicker::set_selected(const std::optional<std::string>& id) {
  if (id == selected) return;
  const auto previous = selected;
  selected = id;
  refresh_label();
  if (!stale) rebind(previous, selected);
}

void ProjectPicker::rebind(const std::optional<std::string>& a, const std::optional<std::string>& b) {
  for (guint i = 0; i < rows->get_n_items(); ++i) {
    const auto row = rows->get_item(i);
    if (row->kind != PickerRow::Kind::Header && (row->id == a || row->id == b))
      g_list_model_items_changed(G_LIST_MODEL(rows->gobj()), i, 1, 1);
  }
}

void ProjectPicker::refresh_label() {
  const api::PickerProject* current = nullptr;
  if (selected) {
    auto it = std::find_if(projects.begin(), projects.end(), [&](const auto& p) { return p.id == *selected; });
    if (it != projects.end()) current = &*it;
  }
  if (current) {
    dot.set_color(current->color, false);
    label.set_text(current->name);
    label.remove_css_class("caption");
  } else {
    dot.set_color("", true);
    label.set_text(_("No project"));
    label.add_css_class("caption");
  }
}

void ProjectPicker::rebuild() {
  std::vector<const api::PickerProject*> favorites;
  std::map<std::string, std::vector<const api::PickerProject*>> by_client;
  std::vector<const api::PickerProject*> no_client;
  for (const auto& p : projects) {
    if (p.favorite) {
      favorites.push_back(&p);
    } else if (p.client_name) {
      by_client[*p.client_name].push_back(&p);
    } else {
      no_client.push_back(&p);
    }
  }

  std::vector<Glib::RefPtr<PickerRow>> built;
  built.reserve(projects.size() + by_client.size() + 3);
  built.push_back(PickerRow::create(PickerRow::Kind::NoProject, _("No project")));
  std::size_t section = 0;
  const auto add_section = [&](const std::string& title, std::vector<const api::PickerProject*>& group) {
    if (group.empty()) return;
    ++section;
    built.push_back(PickerRow::create(PickerRow::Kind::Header, title, std::nullopt, {}, section));
    for (const auto* p : group) {
      auto row = PickerRow::create(PickerRow::Kind::Project, p->name, p->id, p->color, section);
      row->name_folded = fold(p->name);
      if (p->client_name) row->client_folded = fold(*p->client_name);
      built.push_back(std::move(row));
    }
  };

  add_section(_("Favorites"), favorites);
  std::vector<std::string> clients;
  for (const auto& entry : by_client) clients.push_back(entry.first);
  std::sort(clients.begin(), clients.end(), before);
  for (const auto& client : clients) {
    auto& group = by_client[client];
    sort_by_name(group);
    add_section(client, group);
  }
  sort_by_name(no_client);
  add_section(_("No client"), no_client);

  section_matches.assign(section + 1, true);
  stale = false;
  rows->splice(0, rows->get_n_items(), built);
  // Applies the search to the new rows, which may have changed their sections.
  query.clear();
  apply_search();
}

void ProjectPicker::apply_search() {
  const std::string now = fold(search.get_text());
  if (now == query && !section_matches.empty()) return;
  query = now;
  std::fill(section_matches.begin(), section_matches.end(), query.empty());
  if (!query.empty()) {
    for (guint i = 0; i < rows->get_n_items(); ++i) {
      const auto row = rows->get_item(i);
      if (row->kind == PickerRow::Kind::Project && shows(*row)) section_matches[row->section] = true;
    }
  }
  gtk_filter_changed(filter->gobj(), GTK_FILTER_CHANGE_DIFFERENT);
}

bool ProjectPicker::shows(const PickerRow& row) const {
  switch (row.kind) {
    case PickerRow::Kind::NoProject:
      return query.empty();
    case PickerRow::Kind::Header:
      return row.section < section_matches.size() && section_matches[row.section];
    case PickerRow::Kind::Project:
      return query.empty() || row.name_folded.find(query) != std::string::npos ||
             row.client_folded.find(query) != std::string::npos;
  }
  return false;
}

Glib::RefPtr<PickerRow> ProjectPicker::row_at(guint position) const {
  if (position >= filtered->get_n_items()) return {};
  return std::dynamic_pointer_cast<PickerRow>(filtered->get_object(position));
}

void ProjectPicker::choose(guint position) {
  const auto row = row_at(position);
  if (!row || row->kind == PickerRow::Kind::Header) return;
  const std::optional<std::string> id = row->id;
  popover.popdown();
  // Choosing what is already selected only closes the list.
  if (id != selected) signal_selected_.emit(id);
}

void ProjectPicker::pick_first_match() {
  // An empty search matches everything; Enter there must not clear the
  // project by choosing the "No project" row at the top.
  if (query.empty()) return;
  if (const auto first = choosable_from(0, 1)) choose(*first);
}

std::optional<guint> ProjectPicker::choosable_from(guint position, int step) const {
  const gint64 n = filtered->get_n_items();
  for (gint64 i = position; i >= 0 && i < n; i += step) {
    if (const auto row = row_at(static_cast<guint>(i)); row && row->kind != PickerRow::Kind::Header) {
      return static_cast<guint>(i);
    }
  }
  return std::nullopt;
}

std::optional<guint> ProjectPicker::focused_position() const {
  const auto* root = get_root();
  const Gtk::Widget* focus = root != nullptr ? root->get_focus() : nullptr;
  // The focus sits on a list cell, the parent of a row widget.
  for (const Gtk::Widget* w = focus; w != nullptr && w != &list; w = w->get_parent()) {
    if (w->get_parent() == &list) {
      const auto* row = dynamic_cast<const RowWidget*>(w->get_first_child());
      return row != nullptr ? row->position() : std::nullopt;
    }
  }
  return std::nullopt;
}

bool ProjectPicker::focus_row(std::optional<guint> position) {
  if (!position || *position >= filtered->get_n_items()) return false;
  const auto cell_at = [this](guint at) -> Gtk::Widget* {
    for (auto* cell = list.get_first_child(); cell != nullptr; cell = cell->get_next_sibling()) {
      if (auto* row = row_widget_of(cell); row != nullptr && row->position() == at) return cell;
    }
    return nullptr;
  };
  Gtk::Widget* cell = cell_at(*position);
  if (cell == nullptr) {
    // Only rows near the view have cells; scrolling to a row makes its cell.
    gtk_widget_activate_action(GTK_WIDGET(list.gobj()), "list.scroll-to-item", "u", *position);
    cell = cell_at(*position);
  }
  return cell != nullptr && cell->grab_focus();
}

bool ProjectPicker::on_key_pressed(guint keyval, guint, Gdk::ModifierType state) {
  if ((state & (Gdk::ModifierType::CONTROL_MASK | Gdk::ModifierType::ALT_MASK)) != Gdk::ModifierType{}) return false;
  const auto focused = focused_position();
  const guint n = filtered->get_n_items();
  // A key taken here never reaches the popover's own handler, which is what
  // shows the focus ring once the keyboard is in use.
  const auto handled = [this] {
    if (auto* window = dynamic_cast<Gtk::Window*>(get_root())) window->set_focus_visible(true);
    return true;
  };
  switch (keyval) {
    case GDK_KEY_Down:
    case GDK_KEY_KP_Down:
      // From the search entry, or from wherever the focus was, to the first row.
      focus_row(choosable_from(focused ? *focused + 1 : 0, 1));
      return handled();
    case GDK_KEY_Up:
    case GDK_KEY_KP_Up:
      // Above the first row is the search entry, and above that nothing.
      if (focused && !focus_row(*focused > 0 ? choosable_from(*focused - 1, -1) : std::nullopt) &&
          search.get_visible()) {
        search.grab_focus();
      }
      return handled();
    case GDK_KEY_Home:
    case GDK_KEY_KP_Home:
    case GDK_KEY_End:
    case GDK_KEY_KP_End:
      // In the search entry these move the text cursor.
      if (!focused) return false;
      if (keyval == GDK_KEY_Home || keyval == GDK_KEY_KP_Home) {
        focus_row(choosable_from(0, 1));
      } else if (n > 0) {
        focus_row(choosable_from(n - 1, -1));
      }
      return handled();
    case GDK_KEY_space:
    case GDK_KEY_KP_Space:
      // A row of a GTK 4.8 list only selects on Space; here it chooses.
      if (!focused) return false;
      choose(*focused);
      return handled();
    case GDK_KEY_Tab:
    case GDK_KEY_KP_Tab:
    case GDK_KEY_ISO_Left_Tab:
      // Tab goes between the search entry and the list, as between two
      // fields, rather than row by row until a header stops it.
      if (focused) {
        if (search.get_visible()) search.grab_focus();
      } else {
        focus_row(choosable_from(0, 1));
      }
      return handled();
    default:
      return false;
  }
}

void ProjectPicker::on_popover_shown() {
  search.set_text("");
  search.set_visible(projects.size() > kSearchThreshold);
  if (stale) rebuild();
  apply_search();
  // Each opening starts at the top, as the list's own action scrolls.
  if (filtered->get_n_items() > 0) {
    gtk_widget_activate_action(GTK_WIDGET(list.gobj()), "list.scroll-to-item", "u", 0u);
  }
  // The keyboard starts in the search, or on the first row without one.
  if (search.get_visible()) {
    search.grab_focus();
  } else {
    focus_row(choosable_from(0, 1));
  }
}

}  // namespace irvelo::ui
