#include "ui/color_dot.hpp"

#include <gdkmm/rgba.h>
#include <gtkmm/stylecontext.h>

#include <algorithm>
#include <numbers>

#include "ui/style.hpp"

namespace irvelo::ui {

ColorDot::ColorDot(const std::string& color, int size, bool hollow) : color(color), hollow(hollow) {
  set_content_width(size);
  set_content_height(size);
  set_valign(Gtk::Align::CENTER);
  set_draw_func(sigc::mem_fun(*this, &ColorDot::draw));
}

void ColorDot::set_color(const std::string& new_color, bool new_hollow) {
  color = new_color;
  hollow = new_hollow;
  queue_draw();
}

ColorDot::Shape ColorDot::shape(const std::string& color, bool hollow, int width, int height) {
  const double r = std::min(width, height) * 0.5;
  const bool ring = hollow || color.empty();
  // The ring is pulled in a little so that its 1.2-wide stroke stays inside the area.
  return Shape{width * 0.5, height * 0.5, ring ? r - 0.8 : r, ring};
}

void ColorDot::draw(const Cairo::RefPtr<Cairo::Context>& cr, int width, int height) {
  const Shape s = shape(color, hollow, width, height);
  if (s.hollow) {
    Gdk::RGBA fg = get_style_context()->get_color();
    fg.set_alpha(0.5);
    cr->set_source_rgba(fg.get_red(), fg.get_green(), fg.get_blue(), fg.get_alpha());
    cr->set_line_width(1.2);
    cr->set_dash(std::vector<double>{1.6, 1.6}, 0);
    cr->arc(s.center_x, s.center_y, s.radius, 0, 2 * std::numbers::pi);
    cr->stroke();
    return;
  }
  const Gdk::RGBA fill(safe_color(color, "#8e8e93"));
  cr->set_source_rgba(fill.get_red(), fill.get_green(), fill.get_blue(), 1.0);
  cr->arc(s.center_x, s.center_y, s.radius, 0, 2 * std::numbers::pi);
  cr->fill();
}

}  // namespace irvelo::ui
