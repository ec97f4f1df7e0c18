// German texts from the store and the views, looked up in the catalogue that
// the build compiles into its own tree, bound the way the program's entry
// binds it (IRVELO_LOCALE_DIR). The suite runs under LC_ALL=C.UTF-8, where the
// C library still honours LANGUAGE (it ignores it only under plain "C").

#include <glib.h>
#include <glib/gi18n-lib.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <gtkmm/entry.h>
#include <gtkmm/init.h>
#include <gtkmm/label.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "api/records.hpp"
#include "core/aggregates.hpp"
#include "core/tracker_store.hpp"
#include "dev_server.hpp"
#include "storage/settings.hpp"
#include "support/gtk/widgets.hpp"
#include "support/main_loop.hpp"
#include "ui/panel_window.hpp"
#include "ui/settings_window.hpp"
#include "ui/sign_in_view.hpp"

namespace irvelo {
namespace {

using test::drain_events;
using test::find_all;
using test::run_until;

// GLib decides at the first lookup whether to translate at all, so the
// language and the catalogue are set before anything asks for a text.
class GermanEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    setenv("LANGUAGE", "de", 1);
    setenv("LANG", "C.UTF-8", 1);
    setenv("LC_ALL", "C.UTF-8", 1);
    setenv("IRVELO_LOCALE_DIR", IRVELO_TEST_LOCALE_DIR, 1);
    std::setlocale(LC_ALL, "");
    bindtextdomain(GETTEXT_PACKAGE, std::getenv("IRVELO_LOCALE_DIR"));
    bind_textdomain_codeset(GETTEXT_PACKAGE, "UTF-8");
    textdomain(GETTEXT_PACKAGE);
    test::init_gtk_for_tests();
  }
};

[[maybe_unused]] auto* const german_environment = ::testing::AddGlobalTestEnvironment(new GermanEnvironment);

// Every label text under `root` (button and expander labels included), one a line.
std::string label_texts(Gtk::Widget& root) {
  return test::label_texts(root, "\n");
}

std::vector<std::string> missing_lines(const std::string& texts, const std::vector<std::string>& wanted) {
  std::vector<std::string> missing;
  for (const auto& w : wanted) {
    if (texts.find(w + "\n") == std::string::npos) missing.push_back(w);
  }
  return missing;
}

TEST(GermanCatalogue, LoadedFromTheBuildTree) {
  const std::filesystem::path dir = std::getenv("IRVELO_LOCALE_DIR");
  EXPECT_TRUE(std::filesystem::is_regular_file(dir / "de/LC_MESSAGES/irvelo-desktop.mo")) << dir;
  // The header entry comes from the catalogue that was found, or is empty.
  EXPECT_NE(std::string(g_dgettext(GETTEXT_PACKAGE, "")).find("Language: de\n"), std::string::npos);
}

api::Error error_of(api::Error::Kind kind, int status = 0, std::string message = {},
                    std::map<std::string, std::vector<std::string>> fields = {}) {
  api::Error e;
  e.kind = kind;
  e.status = status;
  e.message = std::move(message);
  e.field_errors = std::move(fields);
  return e;
}

TEST(GermanStoreTexts, ErrorSentences) {
  using Kind = api::Error::Kind;
  struct Row {
    api::Error error;
    std::string expected;
  };
  const std::vector<Row> rows = {
      {error_of(Kind::Unauthenticated, 401), "Ihre Sitzung ist abgelaufen. Bitte melden Sie sich erneut an."},
      {error_of(Kind::Http, 502), "Der Server antwortete mit HTTP 502."},
      {error_of(Kind::BadResponse, 200), "Unter dieser Adresse läuft kein Irvelo-Server."},
      // The service's own message stays as sent; the field names are ours.
      {error_of(Kind::Api, 422, "Missing fields", {{"projectId", {"x"}}, {"tagIds", {"y"}}, {"taskId", {"z"}}}),
       "Missing fields: Projekt, Schlagwörter, Aufgabe"},
  };
  for (const auto& row : rows) EXPECT_EQ(row.error.describe(), row.expected);
}

TEST(GermanStoreTexts, MissingFieldLabels) {
  struct Row {
    bool description, project, task;
    std::string expected;
  };
  const std::vector<Row> rows = {
      {true, true, true, "Beschreibung, Projekt, Aufgabe"},
      {false, true, false, "Projekt"},
      {false, false, true, "Aufgabe"},
  };
  for (const auto& row : rows) {
    api::TrackingRules rules;
    rules.require_description = row.description;
    rules.require_project = row.project;
    rules.require_task = row.task;
    EXPECT_EQ(missing_required_fields(rules, " ", false, false, true), row.expected);
  }
}

class GermanTextsTest : public ::testing::Test {
 protected:
  void SetUp() override { settings = Settings::load(); }
  void TearDown() override {
    if (panel) panel->hide();
    panel.reset();
    store.reset();
    drain_events();
  }

  void start_signed_in() {
    store = std::make_unique<TrackerStore>(settings, TrackerStore::Ephemeral{server.base_url(), server.api_key()});
    ASSERT_TRUE(wait_idle()) << "the store never became ready";
  }
  void start_signed_out() {
    store = std::make_unique<TrackerStore>(settings, std::nullopt);
    ASSERT_TRUE(run_until([this] { return store->keyring == TrackerStore::Keyring::Idle; }));
    store->persist = false;
  }
  bool wait_idle() {
    return run_until([this] { return store->phase == TrackerStore::Phase::Ready && !store->busy; });
  }

  devserver::DevServer server;
  Settings settings;
  std::unique_ptr<TrackerStore> store;
  std::unique_ptr<ui::PanelWindow> panel;
};

TEST_F(GermanTextsTest, StartRefusedForMissingFields) {
  for (const auto& id : server.workspace_ids()) server.set_rules(id, true, false, true);
  start_signed_in();
  store->description.clear();
  store->project_id.reset();
  store->start();
  EXPECT_EQ(store->error.value_or(""), "Vor dem Start erforderlich: Beschreibung, Projekt");
  EXPECT_FALSE(store->running.has_value());
}

TEST_F(GermanTextsTest, RefusedKeys) {
  struct Row {
    std::string key;
    std::string expected;
  };
  const std::vector<Row> rows = {
      {"not-a-key", "API-Schlüssel beginnen mit iv_"},
      {"iv_0000000000000000000000000000000000000000", "Dieser API-Schlüssel ist ungültig."},
  };
  for (const auto& row : rows) {
    start_signed_out();
    store->sign_in(server.base_url(), row.key);
    EXPECT_TRUE(run_until([this] { return !store->busy && store->error.has_value(); })) << row.key;
    EXPECT_EQ(store->error.value_or(""), row.expected);
    EXPECT_EQ(store->phase, TrackerStore::Phase::SignedOut);
  }
}

class SignInProbe : public ui::SignInView {
 public:
  using SignInView::browser_button;
  using SignInView::cancel_button;
  using SignInView::connect_button;
  using SignInView::expander;
  using SignInView::SignInView;
};

TEST_F(GermanTextsTest, SignInView) {
  start_signed_out();
  SignInProbe view(*store);
  view.sync();
  EXPECT_EQ(view.browser_button.get_label(), "Im Browser anmelden");
  EXPECT_EQ(view.cancel_button.get_label(), "Abbrechen");
  EXPECT_EQ(view.connect_button.get_label(), "Verbinden");
  EXPECT_EQ(view.expander.get_label(), "Stattdessen einen API-Schlüssel verwenden");
  const auto missing = missing_lines(
      label_texts(view), {"Starten und stoppen Sie Ihren Timer direkt aus der Systemleiste.", "Server", "Beenden"});
  EXPECT_TRUE(missing.empty()) << "not shown: " << testing::PrintToString(missing) << "\nshown:\n" << label_texts(view);
}

TEST_F(GermanTextsTest, PanelWhenReady) {
  start_signed_in();
  panel = std::make_unique<ui::PanelWindow>(*store);
  store->changed.emit();
  drain_events();
  const std::string texts = label_texts(*panel);
  const auto missing = missing_lines(texts, {"Heute", "Diese Woche", "Zuletzt verwendet", "Im Browser öffnen"});
  EXPECT_TRUE(missing.empty()) << "not shown: " << testing::PrintToString(missing) << "\nshown:\n" << texts;

  bool placeholder = false;
  for (auto* entry : find_all<Gtk::Entry>(*panel)) {
    placeholder = placeholder || entry->get_placeholder_text() == "Woran arbeiten Sie gerade?";
  }
  EXPECT_TRUE(placeholder) << "no entry asks what the user is working on, in German";
}

TEST_F(GermanTextsTest, SettingsWindow) {
  start_signed_in();
  ui::SettingsWindow window(*store, settings);
  EXPECT_EQ(window.get_title(), "Irvelo-Einstellungen");
  const std::string texts = label_texts(window);
  const auto missing = missing_lines(texts, {"Allgemein", "Konto", "Angemeldet als", "Arbeitsbereich"});
  EXPECT_TRUE(missing.empty()) << "not shown: " << testing::PrintToString(missing) << "\nshown:\n" << texts;
  window.hide();
}

}  // namespace
}  // namespace irvelo
