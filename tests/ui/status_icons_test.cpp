// The tray's state icons are readable on light and dark panels where the host
// recolours them through the icon's colour-scheme stylesheet, as Plasma does.
// GTK's hosts recolour every path of a symbolic icon themselves; the desktop
// scenarios measure those on screen.

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

namespace irvelo::test {
namespace {

struct Colour {
  double r, g, b;
};

double luminance(Colour c) {
  const auto linear = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
  return 0.2126 * linear(c.r) + 0.7152 * linear(c.g) + 0.0722 * linear(c.b);
}

double contrast(Colour a, Colour b) {
  const double la = luminance(a) + 0.05;
  const double lb = luminance(b) + 0.05;
  return la > lb ? la / lb : lb / la;
}

// The mean colour of the icon's ink drawn over `panel`, from RGBA rows.
Colour ink_over(const guchar* pixels, int width, int height, int stride, Colour panel) {
  double r = 0, g = 0, b = 0, weight = 0;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const guchar* p = pixels + y * stride + x * 4;
      const double a = p[3] / 255.0;
      if (a < 0.5) continue;
      r += a * p[0] / 255.0 + (1 - a) * panel.r;
      g += a * p[1] / 255.0 + (1 - a) * panel.g;
      b += a * p[2] / 255.0 + (1 - a) * panel.b;
      weight += 1;
    }
  }
  if (weight == 0) return panel;
  return {r / weight, g / weight, b / weight};
}

std::string hex(Colour c) {
  char text[8];
  g_snprintf(text, sizeof text, "#%02x%02x%02x", int(c.r * 255), int(c.g * 255), int(c.b * 255));
  return text;
}

// As Plasma does: the colour-scheme stylesheet replaced by the panel's.
Colour plasma_ink(const std::string& name, Colour text, Colour panel) {
  std::ifstream file(std::string(IRVELO_DATA_DIR) + "/icons/" + name + ".svg");
  std::stringstream svg;
  svg << file.rdbuf();
  const std::string recoloured =
      std::regex_replace(svg.str(), std::regex(R"((<style[^>]*id="current-color-scheme"[^>]*>)[^<]*)"),
                         "$1.ColorScheme-Text { color:" + hex(text) + "; }");
  GInputStream* stream = g_memory_input_stream_new_from_data(recoloured.data(), recoloured.size(), nullptr);
  GdkPixbuf* pixbuf = gdk_pixbuf_new_from_stream_at_scale(stream, 22, 22, TRUE, nullptr, nullptr);
  g_object_unref(stream);
  if (pixbuf == nullptr || !gdk_pixbuf_get_has_alpha(pixbuf)) return panel;
  const Colour ink = ink_over(gdk_pixbuf_get_pixels(pixbuf), gdk_pixbuf_get_width(pixbuf),
                              gdk_pixbuf_get_height(pixbuf), gdk_pixbuf_get_rowstride(pixbuf), panel);
  g_object_unref(pixbuf);
  return ink;
}

TEST(StatusIcons, ReadableOnLightAndDarkPanels) {
  struct Panel {
    const char* what;
    Colour background;
    Colour text;  // what the host recolours the icon to
  };
  const Panel panels[] = {
      {"Breeze light", {0xcf / 255.0, 0xd2 / 255.0, 0xd4 / 255.0}, {0x23 / 255.0, 0x26 / 255.0, 0x29 / 255.0}},
      {"Breeze dark", {0x31 / 255.0, 0x36 / 255.0, 0x3b / 255.0}, {0xfc / 255.0, 0xfc / 255.0, 0xfc / 255.0}},
  };
  for (const char* state : {"idle", "tracking", "signedout"}) {
    const std::string name = std::string("com.larkspan.Irvelo-") + state + "-symbolic";
    for (const Panel& panel : panels) {
      SCOPED_TRACE(name + " on " + panel.what);
      // 3:1, the least a graphic that carries meaning needs.
      EXPECT_GE(contrast(plasma_ink(name, panel.text, panel.background), panel.background), 3.0);
    }
  }
}

}  // namespace
}  // namespace irvelo::test
