// The stylesheet, the card tint, the colour check, the error banner and the colour dot.

#include <gtest/gtest.h>
#include <gtkmm/button.h>
#include <gtkmm/cssprovider.h>

#include <cairomm/surface.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "support/main_loop.hpp"
#include "ui/color_dot.hpp"
#include "ui/error_banner.hpp"
#include "ui/style.hpp"
#include "ui_support.hpp"

namespace irvelo::ui {
namespace {

// Parse errors GTK reports for a text.
std::vector<std::string> parse_errors(const std::string& css) {
  std::vector<std::string> errors;
  auto provider = Gtk::CssProvider::create();
  provider->signal_parsing_error().connect(
      [&](const Glib::RefPtr<const Gtk::CssSection>& section, const Glib::Error& error) {
        errors.push_back(section->to_string() + ": " + error.what());
      });
  provider->load_from_data(css);
  return errors;
}

TEST(Stylesheet, HasItsExactLengthAndFraming) {
  EXPECT_EQ(kStylesheet.size(), 2131u);
  ASSERT_FALSE(kStylesheet.empty());
  EXPECT_EQ(kStylesheet.front(), '\n');
  EXPECT_TRUE(kStylesheet.ends_with("}\n"));
  // The first and last rules, and one of the multi-line ones, in their stored form.
  EXPECT_TRUE(kStylesheet.starts_with("\n.panel { padding: 14px; }\n.timer-card {\n  border-radius: 20px;\n"));
  EXPECT_TRUE(kStylesheet.ends_with("\n.settings-error { color: #e01b24; font-size: 0.85em; }\n"));
}

TEST(Stylesheet, GtkParsesItWithoutAnError) {
  EXPECT_EQ(parse_errors(std::string(kStylesheet)), std::vector<std::string>{});
  // The check itself notices a broken rule.
  EXPECT_EQ(parse_errors(".panel { padding: 14; colr: red; }").size(), 2u);
}

TEST(CardTint, RuleUsesACheckedColour) {
  struct Row {
    std::string color;
    std::string rule;
  };
  const std::vector<Row> rows = {
      {"", ""},
      {"#a1b2c3",
       ".timer-card.tracking { background-color: alpha(#a1b2c3, 0.22); border-color: alpha(#a1b2c3, 0.35); }"},
      {"red", ".timer-card.tracking { background-color: alpha(#0ea5e9, 0.22); border-color: alpha(#0ea5e9, 0.35); }"},
      {"#fff); } * { color: red",
       ".timer-card.tracking { background-color: alpha(#0ea5e9, 0.22); border-color: "
       "alpha(#0ea5e9, 0.35); }"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(card_tint_rule(row.color), row.rule) << row.color;
    EXPECT_EQ(parse_errors(card_tint_rule(row.color)), std::vector<std::string>{}) << row.color;
  }
}

int red(std::uint32_t argb) {
  return static_cast<int>((argb >> 16) & 0xff);
}
int green(std::uint32_t argb) {
  return static_cast<int>((argb >> 8) & 0xff);
}
int blue(std::uint32_t argb) {
  return static_cast<int>(argb & 0xff);
}

TEST(CardTint, TintsATrackingCardOnlyAfterInstall) {
  Gtk::Box card;
  card.add_css_class("timer-card");
  card.add_css_class("tracking");
  card.set_size_request(120, 60);
  test::ShownWindow shown(card);

  // No provider yet: nothing happens (and nothing crashes).
  set_card_tint("#ff0000");
  const auto plain = test::rendered_pixel(card, 60, 30);
  EXPECT_LT(std::abs(red(plain) - blue(plain)), 8) << std::hex << plain;

  install_css();
  set_card_tint("#ff0000");
  const auto tinted = test::rendered_pixel(card, 60, 30);
  EXPECT_GT(red(tinted), 40) << std::hex << tinted;
  EXPECT_LT(blue(tinted), 10) << std::hex << tinted;

  set_card_tint("red");  // not #rrggbb: the fallback sky blue
  const auto fallback = test::rendered_pixel(card, 60, 30);
  EXPECT_GT(blue(fallback) - red(fallback), 30) << std::hex << fallback;
  EXPECT_GT(green(fallback) - red(fallback), 15) << std::hex << fallback;

  set_card_tint("");
  const auto removed = test::rendered_pixel(card, 60, 30);
  EXPECT_LT(std::abs(red(removed) - blue(removed)), 8) << std::hex << removed;
}

TEST(SafeColor, AcceptsOnlySixDigitHex) {
  struct Row {
    std::string value;
    bool accepted;
  };
  const std::vector<Row> rows = {
      {"#12ABef", true},  {"#000000", true}, {"#12ABe", false}, {"#12ABefa", false}, {"12ABef0", false},
      {"#12ABeg", false}, {"", false},       {"red", false},    {"#fff", false},     {"#12ab ef", false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(safe_color(row.value, "#8e8e93"), row.accepted ? row.value : "#8e8e93") << '"' << row.value << '"';
  }
}

class BannerProbe : public ErrorBanner {
 public:
  using ErrorBanner::button;
  using ErrorBanner::label;
};

TEST(ErrorBanner, RevealsMessagesAndKeepsTheTextWhileHiding) {
  BannerProbe banner;
  EXPECT_FALSE(banner.get_reveal_child());
  EXPECT_EQ(banner.get_transition_type(), Gtk::RevealerTransitionType::SLIDE_DOWN);
  EXPECT_EQ(banner.get_transition_duration(), 200u);

  banner.set_message("Server unreachable");
  EXPECT_TRUE(banner.get_reveal_child());
  EXPECT_EQ(banner.label.get_text(), "Server unreachable");

  banner.set_message("");
  EXPECT_FALSE(banner.get_reveal_child());
  EXPECT_EQ(banner.label.get_text(), "Server unreachable");

  banner.set_message("Second");
  EXPECT_TRUE(banner.get_reveal_child());
  EXPECT_EQ(banner.label.get_text(), "Second");
}

TEST(ErrorBanner, CloseButtonAsksForDismissalWithoutHiding) {
  BannerProbe banner;
  banner.set_message("Oops");
  int dismissed = 0;
  banner.signal_dismiss().connect([&] { ++dismissed; });
  g_signal_emit_by_name(banner.button.gobj(), "clicked");
  EXPECT_EQ(dismissed, 1);
  EXPECT_TRUE(banner.get_reveal_child());
}

TEST(ColorDot, ShapeRadii) {
  struct Row {
    std::string color;
    bool hollow;
    int w, h;
    double cx, cy, radius;
    bool ring;
  };
  const std::vector<Row> rows = {
      {"#ff0000", false, 10, 10, 5, 5, 5.0, false},        {"", false, 10, 10, 5, 5, 4.2, true},
      {"#ff0000", true, 10, 10, 5, 5, 4.2, true},          {"#ff0000", false, 20, 9, 10, 4.5, 4.5, false},
      {"not-a-colour", false, 9, 9, 4.5, 4.5, 4.5, false},
  };
  for (const auto& r : rows) {
    const auto s = ColorDot::shape(r.color, r.hollow, r.w, r.h);
    EXPECT_DOUBLE_EQ(s.center_x, r.cx) << r.color << ' ' << r.w << 'x' << r.h;
    EXPECT_DOUBLE_EQ(s.center_y, r.cy) << r.color << ' ' << r.w << 'x' << r.h;
    EXPECT_DOUBLE_EQ(s.radius, r.radius) << r.color << ' ' << r.w << 'x' << r.h;
    EXPECT_EQ(s.hollow, r.ring) << r.color;
  }
}

// Draws a dot into a 40 × 40 image and reads back pixels (premultiplied ARGB).
struct Drawn {
  Cairo::RefPtr<Cairo::ImageSurface> surface;
  std::uint32_t at(int x, int y) const {
    surface->flush();
    const auto* row = surface->get_data() + y * surface->get_stride();
    return reinterpret_cast<const std::uint32_t*>(row)[x];
  }
  int alpha(int x, int y) const { return static_cast<int>(at(x, y) >> 24); }
};

Drawn draw_dot(const std::string& color, bool hollow) {
  ColorDot dot(color, 40, hollow);
  Drawn d{Cairo::ImageSurface::create(Cairo::Surface::Format::ARGB32, 40, 40)};
  dot.draw(Cairo::Context::create(d.surface), 40, 40);
  return d;
}

TEST(ColorDot, FillsItsColourOrStrokesADashedRing) {
  const auto filled = draw_dot("#ff0000", false);
  EXPECT_EQ(filled.at(20, 20), 0xffff0000u);  // opaque red at the centre
  EXPECT_EQ(filled.at(20, 1), 0xffff0000u);   // still inside radius 20
  EXPECT_EQ(filled.alpha(1, 1), 0);           // the corner stays empty

  const auto fallback = draw_dot("rgb(1,2,3)", false);
  EXPECT_EQ(fallback.at(20, 20), 0xff8e8e93u);

  for (const auto& [color, hollow] : std::vector<std::pair<std::string, bool>>{{"", false}, {"#ff0000", true}}) {
    const auto ring = draw_dot(color, hollow);
    EXPECT_EQ(ring.alpha(20, 20), 0) << "a ring leaves the centre empty: " << color;
    // The ring (radius 19.2) crosses the left column at mid height; the dashes
    // leave gaps, so some pixels along the ring are drawn and some are not.
    int drawn = 0, gaps = 0;
    for (int y = 0; y < 40; ++y) {
      for (int x = 0; x < 40; ++x) {
        const double dx = x + 0.5 - 20, dy = y + 0.5 - 20;
        const double dist = std::sqrt(dx * dx + dy * dy);
        if (std::abs(dist - 19.2) < 0.3) (ring.alpha(x, y) > 0 ? drawn : gaps)++;
        if (dist < 17.5) {
          EXPECT_EQ(ring.alpha(x, y), 0) << x << ',' << y;
        }
      }
    }
    EXPECT_GT(drawn, 20) << color;
    EXPECT_GT(gaps, 4) << color;
    // Half-transparent foreground: nothing on the ring is opaque.
    EXPECT_LT(ring.alpha(0, 20) + ring.alpha(1, 20), 2 * 200) << color;
  }
}

}  // namespace
}  // namespace irvelo::ui
