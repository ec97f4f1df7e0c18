#include "ui/project_picker.hpp"

#include <glib.h>
#include <glib/gi18n-lib.h>
#include <gtkmm/listboxrow.h>

#include <algorithm>
#include <map>

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

}  // namespace

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

  popover.add_css_class("menu");
  popover_box.set_size_request(300, -1);
  // gtkmm 4.8 wraps SearchEntry::set_placeholder_text with the GtkEntry call,
  // which a GtkSearchEntry rejects; the property is the working route.
  search.set_property("placeholder-text", Glib::ustring(_("Search projects")));
  scroller.set_policy(Gtk::PolicyType::NEVER, Gtk::PolicyType::AUTOMATIC);
  scroller.set_max_content_height(380);
  scroller.set_propagate_natural_height(true);
  list.add_css_class("picker-list");
  list.set_selection_mode(Gtk::SelectionMode::NONE);
  list.set_activate_on_single_click(true);
  scroller.set_child(list);
  popover_box.append(search);
  popover_box.append(scroller);
  popover.set_child(popover_box);
  set_popover(popover);

  list.signal_row_activated().connect(sigc::mem_fun(*this, &ProjectPicker::on_row_activated));
  search.signal_changed().connect(sigc::mem_fun(*this, &ProjectPicker::rebuild));
  popover.signal_show().connect(sigc::mem_fun(*this, &ProjectPicker::on_popover_shown));

  refresh_label();
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
    // A closed popover is rebuilt when it next opens.
    if (popover.get_visible()) rebuild();
  }
  refresh_label();
}

void ProjectPicker::set_selected(const std::optional<std::string>& id) {
  selected = id;
  refresh_label();
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
  while (auto* row = list.get_row_at_index(0)) list.remove(*row);
  row_ids.clear();
  row_selectable.clear();

  const std::string query = fold(search.get_text());
  if (query.empty()) add_item(nullptr);

  std::vector<const api::PickerProject*> favorites;
  std::map<std::string, std::vector<const api::PickerProject*>> by_client;
  std::vector<const api::PickerProject*> no_client;
  for (const auto& p : projects) {
    if (!matches(p, query)) continue;
    if (p.favorite) {
      favorites.push_back(&p);
    } else if (p.client_name) {
      by_client[*p.client_name].push_back(&p);
    } else {
      no_client.push_back(&p);
    }
  }

  if (!favorites.empty()) {
    add_section(_("Favorites"));
    for (const auto* p : favorites) add_item(p);
  }

  std::vector<std::string> clients;
  for (const auto& entry : by_client) clients.push_back(entry.first);
  std::sort(clients.begin(), clients.end(), before);
  for (const auto& client : clients) {
    auto& group = by_client[client];
    sort_by_name(group);
    add_section(client);
    for (const auto* p : group) add_item(p);
  }

  if (!no_client.empty()) {
    sort_by_name(no_client);
    add_section(_("No client"));
    for (const auto* p : no_client) add_item(p);
  }
}

void ProjectPicker::add_section(const Glib::ustring& title) {
  auto* text = Gtk::make_managed<Gtk::Label>(title);
  text->set_xalign(0);
  text->add_css_class("picker-section");
  auto* row = Gtk::make_managed<Gtk::ListBoxRow>();
  row->set_child(*text);
  row->set_activatable(false);
  // Keyboard navigation passes over headers as well.
  row->set_focusable(false);
  list.append(*row);
  row_ids.emplace_back(std::nullopt);
  row_selectable.push_back(false);
}

void ProjectPicker::add_item(const api::PickerProject* project) {
  auto* box = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
  box->append(*Gtk::make_managed<ColorDot>(project ? project->color : "", 9, project == nullptr));
  auto* name = Gtk::make_managed<Gtk::Label>(project ? Glib::ustring(project->name) : Glib::ustring(_("No project")));
  name->set_xalign(0);
  name->set_hexpand(true);
  name->set_ellipsize(Pango::EllipsizeMode::END);
  box->append(*name);

  const bool current = project ? (selected && *selected == project->id) : !selected;
  if (current) {
    auto* check = Gtk::make_managed<Gtk::Image>();
    check->set_from_icon_name("object-select-symbolic");
    box->append(*check);
  }

  auto* row = Gtk::make_managed<Gtk::ListBoxRow>();
  row->set_child(*box);
  row->set_activatable(true);
  list.append(*row);
  row_ids.emplace_back(project ? std::optional<std::string>(project->id) : std::nullopt);
  row_selectable.push_back(true);
}

void ProjectPicker::on_row_activated(Gtk::ListBoxRow* row) {
  if (!row) return;
  const int index = row->get_index();
  if (index < 0 || static_cast<std::size_t>(index) >= row_ids.size() || !row_selectable[index]) return;
  const std::optional<std::string> id = row_ids[index];
  popover.popdown();
  // Choosing what is already selected only closes the list.
  if (id != selected) signal_selected_.emit(id);
}

void ProjectPicker::on_popover_shown() {
  search.set_text("");
  search.set_visible(projects.size() > kSearchThreshold);
  rebuild();
  if (search.get_visible()) search.grab_focus();
}

}  // namespace irvelo::ui
