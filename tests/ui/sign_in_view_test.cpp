// The sign-in view against a real store talking to the development service:
// what is sensitive and visible in each state, and what reaches the service.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "api/defaults.hpp"
#include "core/tracker_store.hpp"
#include "dev_server.hpp"
#include "storage/settings.hpp"
#include "support/main_loop.hpp"
#include "ui/sign_in_view.hpp"
#include "ui_support.hpp"

namespace irvelo::ui {
namespace {

using namespace std::chrono_literals;

class ViewProbe : public SignInView {
 public:
  using SignInView::banner;
  using SignInView::browser_button;
  using SignInView::cancel_button;
  using SignInView::connect_button;
  using SignInView::expander;
  using SignInView::key_entry;
  using SignInView::server_entry;
  using SignInView::SignInView;
  using SignInView::spinner;
};

// What the user can see and use, in the columns of the view's state table.
struct Shown {
  bool browser;
  bool cancel;
  bool connect;
  bool spinner;
  bool banner;
  bool operator==(const Shown&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Shown& s) {
  return os << "{browser " << s.browser << ", cancel " << s.cancel << ", connect " << s.connect << ", spinner "
            << s.spinner << ", banner " << s.banner << "}";
}

devserver::Fault delayed(int ms) {
  devserver::Fault fault;
  fault.status = 0;  // the normal answer, late
  fault.delay_ms = ms;
  return fault;
}

void click(Gtk::Button& button) {
  g_signal_emit_by_name(button.gobj(), "clicked");
}
void press_enter(Gtk::Widget& entry) {
  g_signal_emit_by_name(entry.gobj(), "activate");
}

class SignInViewTest : public ::testing::Test {
 protected:
  devserver::DevServer server;
  Settings settings = Settings::load();
  std::unique_ptr<TrackerStore> store = std::make_unique<TrackerStore>(settings, std::nullopt);
  std::unique_ptr<ViewProbe> view = std::make_unique<ViewProbe>(*store);
  std::vector<std::string> opened;
  int quits = 0;

  void SetUp() override {
    // As the panel does: the view re-reads the store on every change.
    store->changed.connect([this] {
      if (view) view->sync();
    });
    view->signal_open_url().connect([this](std::string url) { opened.push_back(std::move(url)); });
    view->signal_quit().connect([this] { ++quits; });
    view->server_entry.set_text(server.base_url());
  }

  Shown shown() {
    return {view->browser_button.get_sensitive(), view->cancel_button.get_visible(),
            view->connect_button.get_sensitive(), view->spinner.get_visible() && view->spinner.get_spinning(),
            view->banner.get_reveal_child()};
  }

  std::size_t sent(const std::string& path) const {
    std::size_t n = 0;
    for (const auto& r : server.requests()) n += r.path == path;
    return n;
  }
};

TEST_F(SignInViewTest, StartsSignedOutWithTheStoreServer) {
  ViewProbe fresh(*store);
  EXPECT_EQ(fresh.server_entry.get_text().raw(), store->server);
  EXPECT_EQ(fresh.server_entry.get_placeholder_text().raw(), std::string(kDefaultServerUrl));
  EXPECT_EQ(fresh.server_entry.get_input_purpose(), Gtk::InputPurpose::URL);
  EXPECT_FALSE(fresh.expander.get_expanded());
  EXPECT_TRUE(fresh.key_entry.get_show_peek_icon());
  EXPECT_EQ(shown(), (Shown{true, false, false, false, false}));
  EXPECT_NE(test::label_texts(fresh).find("Sign In with Browser"), std::string::npos);
}

TEST_F(SignInViewTest, ConnectFollowsTheKeyEntryAndAnEmptyKeyStartsNothing) {
  view->key_entry.set_text("i");
  EXPECT_TRUE(view->connect_button.get_sensitive());
  view->key_entry.set_text("");
  EXPECT_FALSE(view->connect_button.get_sensitive());

  press_enter(view->key_entry);
  view->connect_with_key();
  // Every sign-in request goes through the probe, made before anything is sent.
  EXPECT_FALSE(store->busy);
  EXPECT_EQ(store->probe, nullptr);
  EXPECT_TRUE(server.requests().empty());
}

TEST_F(SignInViewTest, KeySignInShowsProgressIgnoresRepeatsAndClearsTheKey) {
  server.inject_fault("/api/health", delayed(300));
  view->key_entry.set_text(server.api_key());
  press_enter(view->key_entry);
  EXPECT_TRUE(store->busy);
  EXPECT_EQ(shown(), (Shown{false, false, false, true, false}));

  press_enter(view->key_entry);  // a second Enter while in flight
  click(view->connect_button);
  ASSERT_TRUE(test::run_until([&] { return !store->busy; }));
  EXPECT_EQ(sent("/api/health"), 1u);
  EXPECT_FALSE(store->api_key.empty());
  EXPECT_EQ(view->key_entry.get_text(), "");  // a used key does not stay on screen
  EXPECT_EQ(shown(), (Shown{true, false, false, false, false}));
}

TEST_F(SignInViewTest, UsedKeyIsClearedWhenThePageGoesAwayWithoutASync) {
  // As in the panel: after a successful sign-in the view is no longer synced,
  // the stack just shows another page.
  ViewProbe unsynced(*store);
  unsynced.server_entry.set_text(server.base_url());
  test::ShownWindow shown_window(unsynced);
  unsynced.key_entry.set_text(server.api_key());
  press_enter(unsynced.key_entry);
  ASSERT_TRUE(test::run_until([&] { return !store->busy; }));
  ASSERT_FALSE(store->api_key.empty());
  EXPECT_EQ(unsynced.key_entry.get_text().raw(), server.api_key());  // nothing has re-read the store yet
  unsynced.set_visible(false);
  EXPECT_EQ(unsynced.key_entry.get_text(), "");
}

TEST_F(SignInViewTest, TypedKeyStaysWhenHiddenWithoutASignIn) {
  ViewProbe hidden(*store);
  test::ShownWindow shown_window(hidden);
  hidden.key_entry.set_text("iv_typed");
  hidden.set_visible(false);
  EXPECT_EQ(hidden.key_entry.get_text(), "iv_typed");
}

TEST_F(SignInViewTest, ServerTextIsPassedAsTyped) {
  // Blanks and a trailing slash go to the store, which trims and normalises.
  view->server_entry.set_text("  " + server.base_url() + "/  ");
  view->key_entry.set_text(server.api_key());
  click(view->connect_button);
  ASSERT_TRUE(test::run_until([&] { return !store->busy; }));
  EXPECT_EQ(store->server, server.base_url());
  EXPECT_FALSE(store->api_key.empty());
}

TEST_F(SignInViewTest, FailureShowsTheMessageUntilDismissedAndKeepsTheTexts) {
  view->server_entry.set_text(server.base_url());
  view->key_entry.set_text("nope");
  click(view->connect_button);
  ASSERT_TRUE(test::run_until([&] { return !store->busy; }));
  ASSERT_TRUE(store->error.has_value());
  EXPECT_EQ(*store->error, "API keys start with iv_");
  EXPECT_EQ(shown(), (Shown{true, false, true, false, true}));
  EXPECT_NE(test::label_texts(view->banner).find("API keys start with iv_"), std::string::npos);
  EXPECT_EQ(view->key_entry.get_text(), "nope");
  EXPECT_EQ(view->server_entry.get_text().raw(), server.base_url());

  auto buttons = test::find_all<Gtk::Button>(view->banner);
  ASSERT_EQ(buttons.size(), 1u);
  click(*buttons.front());
  EXPECT_FALSE(store->error.has_value());
  EXPECT_EQ(shown(), (Shown{true, false, true, false, false}));
}

TEST_F(SignInViewTest, BrowserSignInWaitsWithCancelAndCancelEndsIt) {
  click(view->browser_button);
  EXPECT_EQ(shown(), (Shown{false, false, false, true, false}));  // checking the server
  ASSERT_TRUE(test::run_until([&] { return store->pending != nullptr; }));
  EXPECT_EQ(shown(), (Shown{false, true, false, true, false}));  // waiting for the browser
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0].rfind(server.base_url() + "/extension/connect?challenge=", 0), 0u) << opened[0];

  view->key_entry.set_text(server.api_key());
  EXPECT_FALSE(view->connect_button.get_sensitive());
  const api::Client* probe = store->probe.get();
  const auto* waiting = store->pending.get();
  press_enter(view->key_entry);  // busy: no second sign-in
  // A key sign-in would have replaced the probe at once.
  EXPECT_EQ(store->probe.get(), probe);
  EXPECT_EQ(store->pending.get(), waiting);
  EXPECT_EQ(sent("/api/v1/me"), 0u);

  click(view->cancel_button);
  EXPECT_EQ(store->pending, nullptr);
  EXPECT_FALSE(store->busy);
  EXPECT_FALSE(store->error.has_value());
  EXPECT_EQ(shown(), (Shown{true, false, true, false, false}));
}

TEST_F(SignInViewTest, EnterInTheServerAddressSignsInWithTheBrowser) {
  press_enter(view->server_entry);
  ASSERT_TRUE(test::run_until([&] { return store->pending != nullptr; }));
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0].rfind(server.base_url() + "/extension/connect?challenge=", 0), 0u) << opened[0];
}

TEST_F(SignInViewTest, UnreachableServerIsReportedInTheBanner) {
  view->server_entry.set_text("http://127.0.0.1:1");
  click(view->browser_button);
  ASSERT_TRUE(test::run_until([&] { return !store->busy; }));
  EXPECT_TRUE(opened.empty());
  EXPECT_EQ(shown(), (Shown{true, false, false, false, true}));
}

TEST_F(SignInViewTest, QuitButtonAsksToQuit) {
  Gtk::Button* quit = nullptr;
  for (auto* b : test::find_all<Gtk::Button>(*view)) {
    if (test::label_texts(*b) == "Quit") quit = b;
  }
  ASSERT_NE(quit, nullptr);
  click(*quit);
  EXPECT_EQ(quits, 1);
}

TEST_F(SignInViewTest, OpenUrlAfterTheViewIsGoneIsDropped) {
  server.inject_fault("/api/health", delayed(200));
  click(view->browser_button);
  view.reset();  // the store still holds the view's URL callback
  ASSERT_TRUE(test::run_until([&] { return store->pending != nullptr; }));
  EXPECT_TRUE(opened.empty());
  store->cancel_browser_sign_in();
}

}  // namespace
}  // namespace irvelo::ui
