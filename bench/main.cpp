// The benchmark program's main: GTK first, for the views' benchmarks, which
// need a display (scripts/bench runs everything under Xvfb).

#include <benchmark/benchmark.h>
#include <gtk/gtk.h>
#include <gtkmm/init.h>

#include "ui/style.hpp"

int main(int argc, char** argv) {
  gtk_init();
  Gtk::init_gtkmm_internals();
  irvelo::ui::install_css();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
