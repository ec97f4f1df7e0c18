// What installing the stylesheet costs the start-up of a tray start, which
// builds no window: parsing it into a provider and adding that to the
// display. Baseline: the same with an empty stylesheet.

#include <benchmark/benchmark.h>
#include <gdkmm/display.h>
#include <gtkmm/cssprovider.h>
#include <gtkmm/stylecontext.h>

#include <string>

#include "ui/style.hpp"

namespace {

void install(benchmark::State& state, const std::string& text) {
  auto display = Gdk::Display::get_default();
  for (auto _ : state) {
    auto provider = Gtk::CssProvider::create();
    provider->load_from_data(text);
    Gtk::StyleContext::add_provider_for_display(display, provider, GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    state.PauseTiming();
    Gtk::StyleContext::remove_provider_for_display(display, provider);
    state.ResumeTiming();
  }
}

void EmptyStylesheet(benchmark::State& state) {
  install(state, "");
}
void Stylesheet(benchmark::State& state) {
  install(state, std::string(irvelo::ui::kStylesheet));
}

}  // namespace

BENCHMARK(EmptyStylesheet)->Name("install the stylesheet at start-up/baseline: an empty stylesheet");
BENCHMARK(Stylesheet)->Name("install the stylesheet at start-up/the application's stylesheet");
