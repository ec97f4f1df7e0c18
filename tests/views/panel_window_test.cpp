// The panel window: its pages, header, menu, actions and keys.

#include <gtk/gtk.h>
#include <gtkmm/eventcontrollerkey.h>
#include <gtkmm/menubutton.h>
#include <gtkmm/spinner.h>

#include "views_fixture.hpp"

namespace irvelo::test {
namespace {

class PanelWindowTest : public ViewsTest {
 protected:
  Gtk::MenuButton& more_button() { return find_one<Gtk::MenuButton>(*panel->get_titlebar()); }

  // (label, target) of every item of a menu section.
  static std::vector<std::pair<std::string, std::string>> items(const Glib::RefPtr<Gio::MenuModel>& section) {
    std::vector<std::pair<std::string, std::string>> out;
    for (int i = 0; i < section->get_n_items(); ++i) {
      const auto label = section->get_item_attribute(i, Gio::MenuModel::Attribute::LABEL, Glib::VariantType("s"));
      const auto target = section->get_item_attribute(i, Gio::MenuModel::Attribute::TARGET, Glib::VariantType("s"));
      out.emplace_back(label ? Glib::VariantBase::cast_dynamic<Glib::Variant<Glib::ustring>>(label).get().raw() : "",
                       target ? Glib::VariantBase::cast_dynamic<Glib::Variant<Glib::ustring>>(target).get().raw() : "");
    }
    return out;
  }

  std::string workspace_state() {
    auto action = panel->lookup_action("workspace");
    const Glib::VariantBase state = action->get_state_variant();
    return Glib::VariantBase::cast_dynamic<Glib::Variant<Glib::ustring>>(state).get();
  }

  // Sends a key press to the panel's own key controller, as the toolkit does.
  bool press_key(guint keyval) {
    auto controllers = panel->observe_controllers();
    for (guint i = 0; i < controllers->get_n_items(); ++i) {
      auto* object = static_cast<GObject*>(g_list_model_get_item(controllers->gobj(), i));
      const bool is_key = GTK_IS_EVENT_CONTROLLER_KEY(object);
      gboolean handled = FALSE;
      if (is_key) g_signal_emit_by_name(object, "key-pressed", keyval, 0u, GdkModifierType(0), &handled);
      g_object_unref(object);
      if (is_key) return handled;
    }
    ADD_FAILURE() << "the panel has no key controller";
    return false;
  }
};

TEST_F(PanelWindowTest, TheMenuListsTheWorkspacesAndKeepsItsModelWhileNothingInItChanges) {
  start_signed_in();
  auto model = more_button().get_menu_model();
  ASSERT_TRUE(model);
  const auto workspaces = store->workspaces();
  ASSERT_GE(workspaces.size(), 2u) << "the seeded user has several workspaces";
  ASSERT_EQ(model->get_n_items(), 3);

  const auto heading = model->get_item_attribute(0, Gio::MenuModel::Attribute::LABEL, Glib::VariantType("s"));
  ASSERT_TRUE(heading);
  EXPECT_EQ(Glib::VariantBase::cast_dynamic<Glib::Variant<Glib::ustring>>(heading).get(), "Workspace");
  std::vector<std::pair<std::string, std::string>> expected;
  for (const auto& m : workspaces) expected.emplace_back(m.name, m.workspace_id);
  EXPECT_EQ(items(model->get_item_link(0, Gio::MenuModel::Link::SECTION)), expected);
  const auto actions = items(model->get_item_link(1, Gio::MenuModel::Link::SECTION));
  ASSERT_EQ(actions.size(), 3u);
  EXPECT_EQ(actions[0].first, "Refresh");
  EXPECT_EQ(actions[2].first, "Settings\u2026");
  const auto session = items(model->get_item_link(2, Gio::MenuModel::Link::SECTION));
  ASSERT_EQ(session.size(), 2u);
  EXPECT_EQ(session[1].first, "Quit Irvelo");

  // Ticks, refreshes and a running timer leave the model alone.
  store->changed.emit();
  store->refresh_all();
  ASSERT_TRUE(run_until([this] { return was_sent("GET", "/bootstrap") && !store->busy; }));
  panel->activate_action("win.refresh");
  ASSERT_TRUE(wait_idle());
  EXPECT_EQ(more_button().get_menu_model(), model);

  panel->activate_action("win.sign-out");
  ASSERT_TRUE(run_until([this] { return store->phase == TrackerStore::Phase::SignedOut && !store->busy; }));
  EXPECT_EQ(visible_page(), "signed-out");
  EXPECT_FALSE(more_button().get_visible());
  EXPECT_NE(label_texts(*panel->get_titlebar()).find("Irvelo\n"), std::string::npos);
}

TEST_F(PanelWindowTest, WorkspaceNamesReachTheMenuLiterally) {
  start_signed_in();
  // A menu model reads "_" as a mnemonic marker; a name must show as it is.
  store->me->workspaces[0].name = "R_D";
  store->me->workspaces[1].name = "__init__ team";
  panel->sync();
  const auto model = more_button().get_menu_model();
  const auto names = items(model->get_item_link(0, Gio::MenuModel::Link::SECTION));
  ASSERT_GE(names.size(), 2u);
  EXPECT_EQ(names[0].first, "R__D");
  EXPECT_EQ(names[1].first, "____init____ team");
}

TEST_F(PanelWindowTest, ChoosingAWorkspaceInTheMenuMarksItAtOnceAndSwitches) {
  start_signed_in();
  ASSERT_EQ(workspace_state(), store->workspace_id);
  const std::string target = server.workspace_ids()[1];
  panel->activate_action("win.workspace", Glib::Variant<Glib::ustring>::create(target));
  EXPECT_EQ(workspace_state(), target);
  EXPECT_EQ(store->workspace_id, target);
  ASSERT_TRUE(run_until([&] { return store->bootstrap && store->bootstrap->workspace_id == target && !store->busy; }));
  EXPECT_TRUE(was_sent("GET", "/workspaces/" + target + "/bootstrap"));
  EXPECT_NE(label_texts(*panel->get_titlebar()).find("Beta Works\n"), std::string::npos);

  // A switch made elsewhere moves the mark as well.
  store->select_workspace(server.workspace_ids()[0]);
  EXPECT_EQ(workspace_state(), server.workspace_ids()[0]);
}

TEST_F(PanelWindowTest, EscapeHidesThePanelAndOtherKeysGoOn) {
  start_signed_in();
  show_panel();
  EXPECT_FALSE(press_key(GDK_KEY_Return));
  EXPECT_TRUE(panel->get_visible());
  EXPECT_TRUE(press_key(GDK_KEY_Escape));
  EXPECT_FALSE(panel->get_visible());
}

TEST_F(PanelWindowTest, EveryPresentationRefreshesTheStore) {
  start_signed_in();
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    server.clear_requests();
    show_panel();
    EXPECT_TRUE(run_until([this] { return was_sent("GET", "/api/v1/me"); }));
    ASSERT_TRUE(wait_idle());
    panel->hide();
  }
}

TEST_F(PanelWindowTest, WhileLoadingTheHeaderShowsOnlyTheTitle) {
  store = std::make_unique<TrackerStore>(settings, TrackerStore::Ephemeral{server.base_url(), server.api_key()});
  make_panel();
  ASSERT_EQ(store->phase, TrackerStore::Phase::Loading);
  EXPECT_EQ(visible_page(), "loading");
  EXPECT_FALSE(more_button().get_visible());
  const std::string header = label_texts(*panel->get_titlebar());
  for (auto* spinner : find_all<Gtk::Spinner>(page("loading"))) EXPECT_TRUE(spinner->get_spinning());
  EXPECT_TRUE(label_with_text(*panel->get_titlebar(), "Irvelo")->get_visible()) << header;

  ASSERT_TRUE(wait_idle());
  EXPECT_EQ(visible_page(), "ready");
  EXPECT_TRUE(more_button().get_visible());
  EXPECT_FALSE(label_with_text(*panel->get_titlebar(), "Irvelo")->get_visible());
  for (auto* spinner : find_all<Gtk::Spinner>(page("loading"))) EXPECT_FALSE(spinner->get_spinning());
}

}  // namespace
}  // namespace irvelo::test
