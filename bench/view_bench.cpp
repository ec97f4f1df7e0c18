// The panel's views over a big account (5,000 entries, 3,000 projects of five
// tasks): TrackerView::sync, run on every change of the store, with nothing
// changed and after a change of the recent entries; and opening the project
// popover, from the click to its first painted frame (only the rows on screen
// get widgets). Baselines: the per-tick clock update for sync, and the same
// popover with ten projects.

#include <benchmark/benchmark.h>
#include <gdk/gdk.h>
#include <glib.h>
#include <gtkmm/window.h>

#include <chrono>
#include <string>
#include <vector>

#include "data.hpp"
#include "ui/project_picker.hpp"
#include "ui/tracker_view.hpp"

namespace {

using namespace irvelo;

void run_pending() {
  while (g_main_context_pending(nullptr)) g_main_context_iteration(nullptr, FALSE);
}

// The view's insides, for checking what sync did.
class ViewProbe : public ui::TrackerView {
 public:
  using TrackerView::TrackerView;
  Gtk::Widget* first_recent_row() { return recent_list.get_first_child(); }
};

ViewProbe& shown_view() {
  static Gtk::Window window;
  static ViewProbe* view = [] {
    auto* v = Gtk::make_managed<ViewProbe>(bench::busy_store());
    window.set_child(*v);
    window.present();
    v->sync();
    run_pending();
    return v;
  }();
  return *view;
}

void ClockBaseline(benchmark::State& state) {
  ViewProbe& view = shown_view();
  for (auto _ : state) view.sync_clock();
}

// A row built anew has no name; the rows that were there are marked.
void mark_first_row(ViewProbe& view) {
  if (Gtk::Widget* row = view.first_recent_row()) row->set_name("seen");
}
bool first_row_is_new(ViewProbe& view) {
  Gtk::Widget* row = view.first_recent_row();
  return row != nullptr && row->get_name() != "seen";
}

void SyncUnchanged(benchmark::State& state) {
  ViewProbe& view = shown_view();
  view.sync();
  mark_first_row(view);
  for (auto _ : state) view.sync();
  if (first_row_is_new(view)) state.SkipWithError("sync made new rows without a change");
}

void SyncChanged(benchmark::State& state) {
  ViewProbe& view = shown_view();
  TrackerStore& store = bench::busy_store();
  const std::string original = store.bootstrap->entries.front().description;
  int n = 0;
  for (auto _ : state) {
    state.PauseTiming();
    store.bootstrap->entries.front().description = original + " " + std::to_string(++n);
    mark_first_row(view);
    state.ResumeTiming();
    view.sync();
    if (!first_row_is_new(view)) {
      state.SkipWithError("the recent list was not rebuilt");
      break;
    }
  }
  store.bootstrap->entries.front().description = original;
  view.sync();
}

class PickerProbe : public ui::ProjectPicker {
 public:
  Gtk::Popover& popover_widget() { return popover; }
};

// Times each open of the popover: from popup() to the end of the first
// frame painted while it is mapped. Closing it is not timed.
void open_popover(benchmark::State& state, std::size_t count) {
  const auto& all = bench::busy_store().projects;
  Gtk::Window window;
  auto* picker = Gtk::make_managed<PickerProbe>();
  window.set_child(*picker);
  picker->set_projects(std::vector<api::PickerProject>(all.begin(), all.begin() + static_cast<long>(count)));
  window.present();
  run_pending();

  struct Paint {
    Gtk::Popover* popover;
    bool drawn = false;
  } paint{&picker->popover_widget()};
  GdkFrameClock* clock = gtk_widget_get_frame_clock(GTK_WIDGET(window.gobj()));
  const gulong handler = g_signal_connect(clock, "after-paint", G_CALLBACK(+[](GdkFrameClock*, Paint* p) {
                                            if (p->popover->get_mapped()) p->drawn = true;
                                          }),
                                          &paint);

  for (auto _ : state) {
    paint.drawn = false;
    const auto begin = std::chrono::steady_clock::now();
    picker->popup();
    while (!paint.drawn) g_main_context_iteration(nullptr, TRUE);
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count());
    picker->popdown();
    while (paint.popover->get_mapped()) g_main_context_iteration(nullptr, TRUE);
    run_pending();
  }
  g_signal_handler_disconnect(clock, handler);
}

void PopoverBaseline(benchmark::State& state) {
  open_popover(state, 10);
}
void Popover(benchmark::State& state) {
  open_popover(state, 3000);
}

}  // namespace

BENCHMARK(ClockBaseline)->Name("tracker view sync, 5000 entries and 3000 projects/baseline: clock and totals per tick");
BENCHMARK(SyncUnchanged)->Name("tracker view sync, 5000 entries and 3000 projects/sync, nothing changed");
BENCHMARK(SyncChanged)->Name("tracker view sync, 5000 entries and 3000 projects/sync after a change");
BENCHMARK(PopoverBaseline)
    ->Name("open the project popover/baseline: 10 projects")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(Popover)->Name("open the project popover/3000 projects")->UseManualTime()->Unit(benchmark::kMillisecond);
