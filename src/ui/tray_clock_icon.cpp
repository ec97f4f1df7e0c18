#include "ui/tray_clock_icon.hpp"

#include <cairomm/context.h>
#include <cairomm/surface.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <string>

namespace irvelo::ui {
namespace {

IconPixmap draw(int size, std::int64_t seconds) {
  auto surface = Cairo::ImageSurface::create(Cairo::Surface::Format::ARGB32, size, size);
  auto cr = Cairo::Context::create(surface);
  const double s = size;
  const double centre = s / 2;
  const double ring = std::max(1.5, s / 9);
  const double radius = centre - ring / 2;

  // A filled disc reads on light and dark panels alike.
  cr->arc(centre, centre, centre, 0, 2 * M_PI);
  cr->set_source_rgb(0.11, 0.44, 0.85);
  cr->fill();
  // The minutes: the ring fills clockwise from twelve o'clock.
  const double minutes = static_cast<double>((seconds / 60) % 60);
  cr->set_line_width(ring);
  cr->set_source_rgba(1, 1, 1, 0.3);
  cr->arc(centre, centre, radius - ring / 2, 0, 2 * M_PI);
  cr->stroke();
  if (minutes > 0) {
    cr->set_source_rgb(1, 1, 1);
    cr->arc(centre, centre, radius - ring / 2, -M_PI / 2, -M_PI / 2 + 2 * M_PI * minutes / 60);
    cr->stroke();
  }
  // The hours in the middle.
  const std::int64_t hours = seconds / 3600;
  const std::string text = hours > 99 ? "99" : std::to_string(hours);
  cr->select_font_face("Sans", Cairo::ToyFontFace::Slant::NORMAL, Cairo::ToyFontFace::Weight::BOLD);
  cr->set_font_size(text.size() > 1 ? s * 0.42 : s * 0.55);
  Cairo::TextExtents extents;
  cr->get_text_extents(text, extents);
  cr->move_to(centre - extents.width / 2 - extents.x_bearing, centre - extents.height / 2 - extents.y_bearing);
  cr->set_source_rgb(1, 1, 1);
  cr->show_text(text);
  surface->flush();

  IconPixmap pixmap;
  pixmap.size = size;
  pixmap.argb.reserve(static_cast<std::size_t>(size * size * 4));
  const unsigned char* data = surface->get_data();
  const int stride = surface->get_stride();
  for (int y = 0; y < size; ++y) {
    const auto* row = reinterpret_cast<const std::uint32_t*>(data + y * stride);
    for (int x = 0; x < size; ++x) {
      // Cairo keeps native-endian, premultiplied words.
      const std::uint32_t p = row[x];
      const std::uint8_t a = p >> 24;
      const auto channel = [a](std::uint32_t c) {
        return static_cast<std::uint8_t>(a == 0 ? 0 : std::min<std::uint32_t>(255, (c * 255 + a / 2) / a));
      };
      pixmap.argb.push_back(a);
      pixmap.argb.push_back(channel((p >> 16) & 0xff));
      pixmap.argb.push_back(channel((p >> 8) & 0xff));
      pixmap.argb.push_back(channel(p & 0xff));
    }
  }
  return pixmap;
}

}  // namespace

bool clock_in_icon(const std::string& style, const char* current_desktop, const std::string& host_program) {
  if (style == "icon") return true;
  if (style != "auto") return false;
  // The hosts known to draw the label beside the icon: GNOME Shell's
  // indicator extension and the indicator services of the Ayatana family.
  for (const char* labelled :
       {"gnome-shell", "ayatana-indicator-application-service", "indicator-application-service"}) {
    if (host_program == labelled) return false;
  }
  if (current_desktop == nullptr) return true;
  // A colon-separated list, such as "ubuntu:GNOME" or "KDE".
  std::string desktops = std::string(":") + current_desktop + ":";
  for (char& c : desktops) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return desktops.find(":GNOME:") == std::string::npos && desktops.find(":UNITY:") == std::string::npos;
}

std::vector<IconPixmap> draw_clock_icon(std::int64_t seconds) {
  std::vector<IconPixmap> icons;
  for (const int size : kClockIconSizes) icons.push_back(draw(size, seconds < 0 ? 0 : seconds));
  return icons;
}

}  // namespace irvelo::ui
