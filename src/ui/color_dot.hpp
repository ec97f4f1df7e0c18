#pragma once

// The small round mark that stands for a project: filled in the project's
// colour, or a dashed ring for "no project".

#include <cairomm/context.h>
#include <gtkmm/drawingarea.h>

#include <string>

namespace irvelo::ui {

class ColorDot : public Gtk::DrawingArea {
 public:
  ColorDot(const std::string& color, int size, bool hollow);

  void set_color(const std::string& color, bool hollow);
  [[nodiscard]] const std::string& color_text() const { return color; }
  [[nodiscard]] bool is_hollow() const { return hollow; }

  // Where the dot goes in a w × h area.
  struct Shape {
    double center_x;
    double center_y;
    double radius;  // of the stroked ring when hollow, of the disc otherwise
    bool hollow;
  };
  [[nodiscard]] static Shape shape(const std::string& color, bool hollow, int width, int height);

  // The drawing function, public so that it can be run on any Cairo surface.
  void draw(const Cairo::RefPtr<Cairo::Context>& cr, int width, int height);

 protected:
  std::string color;
  bool hollow = false;
};

}  // namespace irvelo::ui
