#include "ui/tracker_view.hpp"

#include <glib/gi18n-lib.h>
#include <glibmm/main.h>
#include <glibmm/ustring.h>
#include <gtkmm/image.h>
#include <gtkmm/separator.h>
#include <sigc++/adaptors/track_obj.h>

#include "core/time_format.hpp"
#include "core/tracker_store.hpp"
#include "ui/accessible.hpp"
#include "ui/color_dot.hpp"
#include "ui/style.hpp"

namespace irvelo::ui {

namespace {

// The card's tint for a running entry without a project.
constexpr const char* kNoProjectTint = "#0ea5e9";

Glib::ustring translated_with(const char* text, const std::string& value) {
  return Glib::ustring::compose(text, value);
}

// The line under a recent entry's title: project, task and client.
std::string recent_subtitle(const api::TimeEntry& entry, const std::string& separator) {
  std::string out = entry.project->name;
  if (entry.task) out += separator + entry.task->name;
  if (entry.project->client_name) out += separator + *entry.project->client_name;
  return out;
}

}  // namespace

TrackerView::TrackerView(TrackerStore& store_in) : Gtk::Box(Gtk::Orientation::VERTICAL, 12), store(store_in) {
  add_css_class("panel");

  build_card();
  append(card);
  append(banner);
  // What stopped the timer while the user was away, until the next timer action.
  away_notice.add_css_class("away-notice");
  away_notice.set_wrap(true);
  away_notice.set_xalign(0);
  away_notice.set_margin_start(4);
  away_notice.set_visible(false);
  append(away_notice);
  build_pending();

  // Totals: today on the left, this week at the right end.
  auto* totals = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 0);
  totals->set_margin_start(4);
  totals->set_margin_end(4);
  auto* today_box = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 1);
  today_box->set_hexpand(true);
  today_box->append(*caption(_("Today"), "caption"));
  today_total.set_xalign(0);
  today_total.add_css_class("total-value");
  today_box->append(today_total);
  auto* week_box = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 1);
  week_box->append(*caption(_("This week"), "caption"));
  week_total.set_xalign(0);
  week_total.add_css_class("total-value");
  week_box->append(week_total);
  totals->append(*today_box);
  totals->append(*week_box);
  append(*totals);

  auto* recent_caption = caption(_("Recent"), "caption-strong");
  recent_caption->set_margin_start(4);
  recent_caption->set_margin_bottom(2);
  recent_section.append(*recent_caption);
  recent_section.append(recent_list);
  append(recent_section);

  append(*Gtk::make_managed<Gtk::Separator>(Gtk::Orientation::HORIZONTAL));

  auto* footer = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 0);
  auto* open_browser = Gtk::make_managed<Gtk::Button>();
  set_labelled_content(*open_browser, "iv-open-external-symbolic", _("Open in Browser"));
  open_browser->set_hexpand(true);
  open_browser->set_halign(Gtk::Align::START);
  footer->append(*open_browser);
  set_icon_and_name(discard_button, "user-trash-symbolic", _("Discard the running timer"));
  discard_button.add_css_class("destructive-action");
  footer->append(discard_button);
  append(*footer);

  timer_switch.property_active().signal_changed().connect(sigc::mem_fun(*this, &TrackerView::on_switch_changed));
  description.signal_changed().connect([this] {
    if (syncing) return;
    store.description = description.get_text();
  });
  description.signal_activate().connect(sigc::mem_fun(*this, &TrackerView::on_description_activate));
  description_focus = Gtk::EventControllerFocus::create();
  description_focus->signal_enter().connect(sigc::mem_fun(*this, &TrackerView::on_description_focus_in));
  description_focus->signal_leave().connect(sigc::mem_fun(*this, &TrackerView::on_description_focus_out));
  description.add_controller(description_focus);
  project_picker.signal_selected().connect([this](const std::optional<std::string>& id) { store.select_project(id); });
  task_picker.signal_selected().connect([this](const std::optional<std::string>& id) { store.select_task(id); });
  billable.signal_toggled().connect([this] {
    if (syncing) return;
    store.set_billable(billable.get_active());
  });
  banner.signal_dismiss().connect([this] { store.dismiss_error(); });
  open_browser->signal_clicked().connect([this] { signal_open_browser_.emit(); });
  discard_button.signal_clicked().connect([this] { store.discard(); });

  sync();
}

void TrackerView::build_pending() {
  pending_label.add_css_class("away-notice");
  pending_label.set_wrap(true);
  pending_label.set_xalign(0);
  pending_box.append(pending_label);
  try_now.set_label(_("Try Now"));
  try_now.set_halign(Gtk::Align::START);
  try_now.signal_clicked().connect([this] { store.retry_pending(); });
  pending_box.append(try_now);
  pending_box.set_margin_start(4);
  pending_box.set_visible(false);
  append(pending_box);

  auto* question = Gtk::make_managed<Gtk::Label>(
      _("The stop has not reached the service yet. Sign out anyway? The timer may keep running there."));
  question->add_css_class("away-notice");
  question->set_wrap(true);
  question->set_xalign(0);
  sign_out_box.append(*question);
  auto* buttons = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 6);
  auto* anyway = Gtk::make_managed<Gtk::Button>(_("Sign Out Anyway"));
  anyway->signal_clicked().connect([this] { store.sign_out_anyway(); });
  auto* stay = Gtk::make_managed<Gtk::Button>(_("Stay Signed In"));
  stay->signal_clicked().connect([this] { store.keep_signed_in(); });
  buttons->append(*stay);
  buttons->append(*anyway);
  sign_out_box.append(*buttons);
  sign_out_box.set_margin_start(4);
  sign_out_box.set_visible(false);
  append(sign_out_box);
}

void TrackerView::build_card() {
  card.add_css_class("timer-card");

  auto* top = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
  auto* texts = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 2);
  texts->set_hexpand(true);
  clock.set_xalign(0);
  clock.add_css_class("clock-big");
  status.set_xalign(0);
  status.add_css_class("caption");
  texts->append(clock);
  texts->append(status);
  top->append(*texts);
  timer_switch.set_valign(Gtk::Align::CENTER);
  set_accessible_name(timer_switch, _("Timer"));
  top->append(timer_switch);
  card.append(*top);

  description.set_placeholder_text(_("What are you working on?"));
  description.add_css_class("description-field");
  description.set_has_frame(false);
  set_accessible_name(description, _("Description"));
  card.append(description);

  project_row.append(*icon("iv-folder-symbolic", Glib::ustring("field-icon")));
  set_accessible_name(project_picker, _("Project"));
  project_row.append(project_picker);
  card.append(project_row);

  task_row.append(*icon("iv-checklist-symbolic", Glib::ustring("field-icon")));
  set_accessible_name(task_picker, _("Task"));
  task_row.append(task_picker);
  card.append(task_row);

  set_labelled_content(billable, "iv-dollar-symbolic", _("Billable"));
  card.append(billable);
}

void TrackerView::on_switch_changed() {
  if (syncing) return;
  switch_requested = timer_switch.get_active();
  switch_pending = true;
  store.editing_description = false;
  store.description = description.get_text();
  store.set_tracking(switch_requested);
}

void TrackerView::on_description_activate() {
  if (!store.running) {
    store.start();
  } else {
    store.commit_description([] {});
  }
}

void TrackerView::on_description_focus_in() {
  store.editing_description = true;
}

void TrackerView::on_description_focus_out() {
  store.editing_description = false;
  store.commit_description([] {});
}

void TrackerView::sync() {
  syncing = true;
  const bool running = store.running.has_value();
  const bool pending = store.pending_action.has_value();
  const bool busy = store.busy;
  if (!busy && switch_pending) switch_pending = false;

  sync_clock();

  if (running) {
    clock.remove_css_class("idle");
  } else {
    clock.add_css_class("idle");
  }

  if (running) {
    const auto start = clock_time_of(store.running->start_unix, store.time_zone());
    status.set_text(translated_with(_("Started at %1"), format_clock_time(start, store.h12())));
  } else if (pending) {
    // The clock stands where the user stopped it, not where the service is.
    const auto asked = clock_time_of(store.pending_action->requested_at, store.time_zone());
    status.set_text(translated_with(
        store.pending_action->kind == PendingAction::Kind::Stop ? _("Stopped at %1") : _("Discarded at %1"),
        format_clock_time(asked, store.h12())));
  } else {
    status.set_text(_("Not tracking"));
  }

  // Only a real change: setting the switch, even to what it shows, ends the
  // slide a key press or click has just begun, and that flip is lost.
  if (const bool shown = switch_pending ? switch_requested : running; timer_switch.get_active() != shown) {
    timer_switch.set_active(shown);
  }
  // During its own start or stop the switch stays usable and shows the
  // requested position; any other operation greys it out.
  // While a stop is pending nothing new may start.
  timer_switch.set_sensitive(pending ? false : busy ? switch_pending : true);
  timer_switch.set_tooltip_text(running ? _("Stop timer") : _("Start timer"));

  if (running) {
    card.add_css_class("tracking");
    set_card_tint(store.running->project ? store.running->project->color : std::string(kNoProjectTint));
  } else {
    card.remove_css_class("tracking");
    set_card_tint("");
  }

  // Text the user is typing is never overwritten by a refresh.
  if (!description_focus->contains_focus() && description.get_text() != Glib::ustring(store.description)) {
    description.set_text(store.description);
  }

  project_picker.set_projects(store.projects);
  project_picker.set_selected(store.project_id);
  project_picker.set_sensitive(!busy);

  if (const auto* project = store.selected_project()) {
    task_row.set_visible(!project->tasks.empty());
    if (!project->tasks.empty()) task_picker.set_tasks(project->tasks, store.task_id);
  } else {
    task_row.set_visible(false);
  }
  task_picker.set_sensitive(!busy);

  billable.set_visible(store.can_change_billable());
  billable.set_active(store.billable);

  banner.set_message(store.error.value_or(store.offline ? std::string(_("Offline")) : std::string()));
  away_notice.set_text(store.away_notice);
  away_notice.set_visible(!store.away_notice.empty());
  pending_label.set_text(store.pending_line());
  pending_box.set_visible(pending);
  try_now.set_sensitive(pending && !store.pending_trying && !store.offline);
  sign_out_box.set_visible(store.sign_out_question);
  discard_button.set_visible(running);

  rebuild_recent();
  syncing = false;
}

void TrackerView::focus_description() {
  description.grab_focus();
}

void TrackerView::sync_clock() {
  clock.set_text(format_clock(store.elapsed_seconds()));
  today_total.set_text(format_duration(store.today_seconds(), store.duration_format()));
  week_total.set_text(format_duration(store.week_seconds(), store.duration_format()));
}

void TrackerView::rebuild_recent() {
  const auto entries = store.recent_entries();
  // Continuing waits for a pending stop like starting does.
  const bool busy = store.busy || store.pending_action.has_value();

  // Everything a row shows or continues with. The entry's id and task are part
  // of it so that a row never holds an entry the service has since replaced.
  std::string key = busy ? "busy|" : "";
  for (const auto& e : entries) {
    key += e.id;
    key += '\x1f';
    if (e.project)
      key += e.project->id + '\x1f' + e.project->name + '\x1f' + e.project->color + '\x1f' +
             e.project->client_name.value_or("");
    key += '\x1f';
    if (e.task) key += e.task->id + '\x1f' + e.task->name;
    key += '\x1f';
    key += std::to_string(e.seconds_at(0));
    key += '\x1f';
    key += e.description;
    key += '\x1e';
  }
  key += std::to_string(static_cast<int>(store.duration_format()));
  if (key == recent_key) return;
  recent_key = std::move(key);

  while (auto* child = recent_list.get_first_child()) recent_list.remove(*child);
  recent_section.set_visible(!entries.empty());
  for (const auto& e : entries) recent_list.append(*make_recent_row(e, !busy));
}

Gtk::Button* TrackerView::make_recent_row(const api::TimeEntry& entry, bool sensitive) {
  auto* row = Gtk::make_managed<Gtk::Button>();
  row->add_css_class("flat");
  row->add_css_class("recent-row");
  row->set_tooltip_text(_("Continue this entry"));
  row->set_sensitive(sensitive);

  auto* box = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
  box->append(*Gtk::make_managed<ColorDot>(entry.project ? entry.project->color : std::string(), 8, !entry.project));

  auto* texts = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 1);
  texts->set_hexpand(true);
  Gtk::Label* title = nullptr;
  if (entry.description.empty()) {
    title = caption(_("(no description)"), "caption");
  } else {
    title = Gtk::make_managed<Gtk::Label>(entry.description);
    title->set_xalign(0);
  }
  title->set_ellipsize(Pango::EllipsizeMode::END);
  texts->append(*title);
  if (entry.project) {
    auto* subtitle = caption(recent_subtitle(entry, " \u00b7 "), "caption");
    subtitle->set_ellipsize(Pango::EllipsizeMode::END);
    texts->append(*subtitle);
  }
  box->append(*texts);

  box->append(*icon("media-playback-start-symbolic", Glib::ustring("play")));

  const std::string duration_text = format_duration(entry.seconds_at(0), store.duration_format());
  auto* duration = caption(duration_text, "caption");
  duration->add_css_class("duration");
  box->append(*duration);
  row->set_child(*box);
  // Read as one sentence: what, where, how long.
  std::string name = entry.description.empty() ? std::string(_("(no description)")) : entry.description;
  if (entry.project) name += ", " + recent_subtitle(entry, ", ");
  name += ", " + duration_text;
  set_accessible_name(*row, name);

  // Continuing changes the store, whose sync rebuilds this list and destroys
  // this very button: run it after the click handler has returned.
  row->signal_clicked().connect([this, entry] {
    Glib::signal_idle().connect_once(sigc::track_object([this, entry] { store.continue_entry(entry); }, *this),
                                     Glib::PRIORITY_DEFAULT_IDLE);
  });
  return row;
}

}  // namespace irvelo::ui
