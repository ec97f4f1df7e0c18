// The baseline of the start-up, memory and idle figures: the least a gtkmm
// program with a window does. "--every N" changes its label every N seconds,
// as a visible clock or a poll must wake the process.

#include <gtkmm.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

int main(int argc, char** argv) {
  unsigned every = 0;
  if (argc > 2 && std::string_view(argv[1]) == "--every") every = static_cast<unsigned>(std::atoi(argv[2]));

  auto app = Gtk::Application::create("com.larkspan.IrveloBareWindow", Gio::Application::Flags::NON_UNIQUE);
  std::unique_ptr<Gtk::Window> window;
  Gtk::Label* label = nullptr;
  unsigned count = 0;
  app->signal_activate().connect([&] {
    window = std::make_unique<Gtk::Window>();
    window->set_default_size(360, 480);
    label = Gtk::make_managed<Gtk::Label>("0");
    window->set_child(*label);
    app->add_window(*window);
    window->present();
    if (every > 0) {
      Glib::signal_timeout().connect_seconds(
          [&] {
            label->set_text(std::to_string(++count));
            return true;
          },
          every);
    }
  });
  // Only the program's name: the options above are ours, not GApplication's.
  return app->run(1, argv);
}
