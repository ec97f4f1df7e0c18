// Addresses handed to the desktop's browser: the web tracker from the panel's
// menu, the connect page of the browser sign-in, and nothing at all (and no
// warning, which fails any test here) when no browser is installed.

#include <glib.h>
#include <gtkmm/button.h>

#include <fstream>
#include <sstream>

#include "support/stand_in_browser.hpp"
#include "ui/uri_launcher.hpp"
#include "views_fixture.hpp"

namespace irvelo::test {
namespace {

class OpenAddressTest : public ViewsTest {
 protected:
  // The address the stand-in browser was started with, once it has been.
  std::string opened_address() {
    const std::string path = std::string(g_get_user_data_dir()) + "/browser-uri";
    if (!run_until([&] { return g_file_test(path.c_str(), G_FILE_TEST_EXISTS); })) return "";
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
};

TEST_F(OpenAddressTest, OpenInBrowserHandsOverTheWebTracker) {
  install_browser(g_get_user_data_dir());
  start_signed_in();
  show_panel();
  panel->activate_action("win.open-browser");
  EXPECT_EQ(opened_address(), store->web_app_url());
  EXPECT_EQ(store->web_app_url().rfind(server.base_url(), 0), 0u) << store->web_app_url();
}

TEST_F(OpenAddressTest, BrowserSignInHandsOverTheConnectPage) {
  install_browser(g_get_user_data_dir());
  start_signed_out();
  show_panel();
  for (auto* entry : find_all<Gtk::Entry>(page("signed-out"))) entry->set_text(server.base_url());
  Gtk::Button* sign_in = nullptr;
  for (auto* b : find_all<Gtk::Button>(page("signed-out"))) {
    if (b->get_label() == "Sign In with Browser") sign_in = b;
  }
  ASSERT_NE(sign_in, nullptr);
  g_signal_emit_by_name(sign_in->gobj(), "clicked");
  const std::string address = opened_address();
  EXPECT_EQ(address.rfind(server.base_url() + "/extension/connect?challenge=", 0), 0u) << address;
}

TEST_F(OpenAddressTest, WithoutABrowserNothingOpensAndNothingIsLogged) {
  start_signed_in();
  show_panel();
  const auto windows = Gtk::Window::list_toplevels().size();
  bool finished = false;
  bool opened = true;
  ui::launch_uri(panel.get(), store->web_app_url(), [&](bool ok) {
    finished = true;
    opened = ok;
  });
  ASSERT_TRUE(run_until([&] { return finished; }));
  EXPECT_FALSE(opened);
  EXPECT_EQ(Gtk::Window::list_toplevels().size(), windows) << "something was shown";
}

}  // namespace
}  // namespace irvelo::test
