// The seeded data: "test" is small and fixed, for tests; "demo" looks like a
// real account, for trying the app. Only timestamps depend on the clock.

#include <glib.h>

#include <map>
#include <stdexcept>

#include "core/owned.hpp"
#include "devserver/service.hpp"

namespace irvelo::devserver::model {
namespace {

// Zones are loaded once: reading the zone file is the slow part of a seed.
TimeZonePtr zone_of(const std::string& name) {
  static std::map<std::string, TimeZonePtr> cache;
  auto it = cache.find(name);
  if (it == cache.end()) {
    GTimeZone* tz = g_time_zone_new_identifier(name.c_str());
    it = cache.emplace(name, TimeZonePtr(tz != nullptr ? tz : g_time_zone_new_utc())).first;
  }
  return TimeZonePtr(g_time_zone_ref(it->second.get()));
}

// A calendar day in a zone.
struct Day {
  int weekday = 1;  // 1 Monday … 7 Sunday
  int year = 0, month = 0, day = 0;
};

Day day_before(const std::string& zone, std::int64_t now, int days_ago) {
  const TimeZonePtr tz = zone_of(zone);
  DateTimePtr utc(g_date_time_new_from_unix_utc(now));
  DateTimePtr local(g_date_time_to_timezone(utc.get(), tz.get()));
  DateTimePtr then(g_date_time_add_days(local.get(), -days_ago));
  Day d;
  g_date_time_get_ymd(then.get(), &d.year, &d.month, &d.day);
  d.weekday = g_date_time_get_day_of_week(then.get());
  return d;
}

std::int64_t at(const std::string& zone, const Day& day, int hour, int minute) {
  const TimeZonePtr tz = zone_of(zone);
  DateTimePtr dt(g_date_time_new(tz.get(), day.year, day.month, day.day, hour, minute, 0));
  return g_date_time_to_unix(dt.get());
}

// Maps "seconds before now" into [floor, now): unchanged when there is room,
// squeezed in proportion when `floor` is closer to now than `span` seconds
// (early in a day or a week), so that seeded entries never leave the period.
struct Squeeze {
  std::int64_t now;
  double factor;
  Squeeze(std::int64_t now_, std::int64_t floor, std::int64_t span) : now(now_), factor(1.0) {
    const std::int64_t room = now - floor - 30;
    if (room < span) factor = room > 0 ? static_cast<double>(room) / static_cast<double>(span) : 0.0;
  }
  [[nodiscard]] std::int64_t before(std::int64_t seconds) const {
    return now - static_cast<std::int64_t>(static_cast<double>(seconds) * factor);
  }
};

// Midnight at the start of the week (weekStart 1: Monday) in the zone.
std::int64_t week_floor(const std::string& zone, std::int64_t now) {
  const Day today = day_before(zone, now, 0);
  const Day monday = day_before(zone, now, today.weekday - 1);
  return at(zone, monday, 0, 0);
}

const Project* find_project(const Workspace& ws, const std::string& id) {
  for (const auto& p : ws.projects)
    if (p.id == id) return &p;
  return nullptr;
}

std::string next_entry_id(State& state) {
  return "te_" + std::to_string(state.next_id++);
}

void add_entry(State& state, Workspace& ws, const std::string& user, std::int64_t start,
               std::optional<std::int64_t> end, const std::string& description, const std::string& project = {},
               const std::string& task = {}, std::vector<std::string> tags = {}) {
  Entry e;
  e.id = next_entry_id(state);
  e.user_id = user;
  e.description = description;
  e.start = start;
  e.end = end;
  if (!project.empty()) {
    e.project_id = project;
    if (const Project* p = find_project(ws, project)) e.billable = p->billable_by_default;
  }
  if (!task.empty()) e.task_id = task;
  e.tag_ids = std::move(tags);
  ws.entries.push_back(std::move(e));
}

Project project(std::string id, std::string name, std::string color, std::optional<std::string> client, bool billable,
                bool favorite, std::vector<Task> tasks = {}) {
  return Project{std::move(id), std::move(name), std::move(color), std::move(client),
                 billable,      favorite,        std::move(tasks)};
}

// ---------------------------------------------------------------- test seed

State test_seed(std::int64_t now) {
  State s;
  User u;
  u.id = "u_test";
  u.email = "test@example.com";
  u.name = "Test User";
  u.time_zone = "UTC";
  u.date_format = "YYYY-MM-DD";
  u.time_format = "h24";
  u.week_start = 1;
  u.locale = "en";
  u.memberships = {
      {"ws_alpha", "mem_alpha_test", "owner", true, true, true},
      {"ws_beta", "mem_beta_test", "member", false, false, false},
      {"ws_client", "mem_client_test", "client", false, false, false},
  };
  User other;
  other.id = "u_other";
  other.email = "other@example.com";
  other.name = "Other Member";
  other.memberships = {{"ws_alpha", "mem_alpha_other", "member", true, false, false}};
  s.users = {u, other};

  Workspace alpha;
  alpha.id = "ws_alpha";
  alpha.name = "Alpha Team";
  alpha.slug = "alpha";
  alpha.duration_format = "full";
  alpha.time_zone = "UTC";
  alpha.members_can_change_billable = true;
  alpha.projects = {
      project("p_website", "Website", "#1e88e5", "Acme Corp", true, true,
              {{"t_design", "Design"}, {"t_build", "Build"}}),
      project("p_research", "Research", "#43a047", "Globex", false, false),
      project("p_internal", "Internal", "#757575", std::nullopt, false, true),
  };
  alpha.tags = {{"tag_meeting", "meeting"}, {"tag_focus", "deep work"}};

  Workspace beta;
  beta.id = "ws_beta";
  beta.name = "Beta Works";
  beta.slug = "beta";
  beta.duration_format = "decimal";
  beta.time_zone = "UTC";
  beta.require_project = true;
  beta.require_task = true;
  beta.require_description = true;
  beta.members_can_change_billable = false;
  beta.projects = {
      project("p_app", "App", "#8e24aa", "Initech", true, false, {{"t_dev", "Development"}}),
      project("p_ops", "Operations", "#fb8c00", std::nullopt, false, false),
  };

  Workspace client;
  client.id = "ws_client";
  client.name = "Client View";
  client.slug = "client-view";
  client.time_zone = "UTC";
  client.projects = {project("p_report", "Reports", "#3949ab", "Client View", true, false)};

  // Finished entries within the last 90 minutes, squeezed into the current
  // week (UTC, from Monday) when it is younger than that, so every bootstrap
  // lists exactly these (durations shrink only in a week's first 90 minutes).
  const Squeeze q(now, week_floor("UTC", now), 5400);
  add_entry(s, alpha, "u_test", q.before(5400), q.before(4800), "Planning", "p_internal", {}, {"tag_meeting"});
  add_entry(s, alpha, "u_test", q.before(4500), q.before(2700), "Homepage layout", "p_website", "t_design");
  add_entry(s, alpha, "u_test", q.before(2400), q.before(600), "Homepage layout", "p_website", "t_build",
            {"tag_focus"});
  // Another member's running timer, never shown to the seeded user.
  add_entry(s, alpha, "u_other", q.before(1200), std::nullopt, "Someone else's work", "p_research");
  add_entry(s, beta, "u_test", q.before(3600), q.before(1800), "Fix login bug", "p_app", "t_dev");

  s.workspaces = {std::move(alpha), std::move(beta), std::move(client)};
  return s;
}

// ---------------------------------------------------------------- demo seed

struct Slot {
  int hour;
  int minute;
  int minutes;
  const char* description;
  const char* project;
  const char* task;
  std::vector<std::string> tags;
};

// One plan per weekday (Monday first), then Saturday; Sunday is free.
const std::vector<std::vector<Slot>>& studio_plans() {
  static const std::vector<std::vector<Slot>> plans = {
      {
          {8, 45, 15, "Daily stand-up", "p_int_admin", "t_int_planning", {"tag_meeting"}},
          {9, 0, 75, "Weekly planning and inbox", "p_int_admin", "t_int_email", {}},
          {10, 30, 120, "Checkout flow: address validation", "p_nw_webshop", "t_nw_frontend", {"tag_focus"}},
          {13, 30, 90, "Booking API: slot availability endpoint", "p_ad_booking", "t_ad_api", {"tag_focus"}},
          {15, 15, 60, "Ticket #1193: CSV export times out", "p_nw_support", "t_nw_tickets", {"tag_support"}},
          {16, 30, 45, "Review PR #482: payment retries", "p_nw_webshop", "t_nw_review", {}},
      },
      {
          {8, 45, 15, "Daily stand-up", "p_int_admin", "t_int_planning", {"tag_meeting"}},
          {9,
           0,
           150,
           "Brand workshop with Harbor & Finch",
           "p_hf_brand",
           "t_hf_workshops",
           {"tag_meeting", "tag_travel"}},
          {12, 30, 105, "Logo variations, round 2", "p_hf_brand", "t_hf_logo", {"tag_focus"}},
          {14, 30, 90, "Homepage copy edits", "p_hf_site", "t_hf_copy", {}},
          {16, 15, 60, "Keyword research for service pages", "p_hf_seo", nullptr, {}},
      },
      {
          {8, 45, 15, "Daily stand-up", "p_int_admin", "t_int_planning", {"tag_meeting"}},
          {9, 0, 60, "Discovery call with clinic managers", "p_ad_booking", "t_ad_discovery", {"tag_meeting"}},
          {10, 15, 135, "Booking API: slot availability endpoint", "p_ad_booking", "t_ad_api", {"tag_focus"}},
          {13, 30, 90, "Push notification opt-in screen", "p_nw_mobile", "t_nw_ios", {}},
          {15, 15, 75, "Accessibility audit of the login form", "p_ad_portal", "t_ad_a11y", {}},
          {16, 45, 30, "Ticket #1201: wrong VAT on invoices", "p_nw_support", "t_nw_hotfixes", {"tag_support"}},
      },
      {
          {8, 45, 15, "Daily stand-up", "p_int_admin", "t_int_planning", {"tag_meeting"}},
          {9, 0, 120, "Sales dashboard: KPI tiles", "p_nw_analytics", nullptr, {"tag_focus"}},
          {11, 15, 60, "Newsletter template for spring campaign", "p_hf_newsletter", nullptr, {}},
          {13, 0, 120, "Checkout flow: address validation", "p_nw_webshop", "t_nw_frontend", {"tag_focus"}},
          {15, 15, 45, "Android build pipeline fixes", "p_nw_mobile", "t_nw_android", {}},
          {16, 15, 60, "Invoices for last month", "p_int_admin", "t_int_invoicing", {}},
      },
      {
          {8, 45, 15, "Daily stand-up", "p_int_admin", "t_int_planning", {"tag_meeting"}},
          {9, 0, 90, "CMS setup for the marketing site", "p_hf_site", "t_hf_cms", {}},
          {10, 45, 75, "Review PR #490: order history", "p_nw_webshop", "t_nw_review", {}},
          {13, 0, 90, "Patient portal: two-factor sign-in", "p_ad_portal", "t_ad_auth", {"tag_focus"}},
          {14, 45, 60, "Reading: CSS container queries", "p_int_learning", nullptr, {}},
      },
      {
          {10, 0, 60, "Reading: CSS container queries", "p_int_learning", nullptr, {}},
      },
  };
  return plans;
}

State demo_seed(std::int64_t now) {
  State s;
  const std::string zone = "Europe/Berlin";

  User u;
  u.id = "u_mara";
  u.email = "mara.lindqvist@example.com";
  u.name = "Mara Lindqvist";
  u.time_zone = zone;
  u.date_format = "DD.MM.YYYY";
  u.time_format = "h24";
  u.week_start = 1;
  u.locale = "en";
  u.memberships = {
      {"ws_studio", "mem_studio_mara", "owner", true, true, true},
      {"ws_oss", "mem_oss_mara", "member", false, false, true},
      {"ws_fjord", "mem_fjord_mara", "client", false, false, false},
  };
  User jonas;
  jonas.id = "u_jonas";
  jonas.email = "jonas.weber@example.com";
  jonas.name = "Jonas Weber";
  jonas.time_zone = zone;
  jonas.memberships = {{"ws_studio", "mem_studio_jonas", "member", true, false, false}};
  s.users = {u, jonas};

  Workspace studio;
  studio.id = "ws_studio";
  studio.name = "Lindqvist Studio";
  studio.slug = "lindqvist-studio";
  studio.duration_format = "full";
  studio.time_zone = zone;
  studio.members_can_change_billable = true;
  const std::string nw = "Northwind Traders", hf = "Harbor & Finch", ad = "Alpine Dental Group";
  studio.projects = {
      project("p_nw_webshop", "Webshop relaunch", "#1e88e5", nw, true, true,
              {{"t_nw_design", "Design"},
               {"t_nw_frontend", "Frontend"},
               {"t_nw_backend", "Backend"},
               {"t_nw_review", "Code review"}}),
      project("p_nw_mobile", "Mobile app", "#43a047", nw, true, false,
              {{"t_nw_ios", "iOS"}, {"t_nw_android", "Android"}, {"t_nw_qa", "QA"}}),
      project("p_nw_analytics", "Sales dashboard", "#8e24aa", nw, true, false),
      project("p_nw_support", "Support retainer", "#fb8c00", nw, true, true,
              {{"t_nw_tickets", "Tickets"}, {"t_nw_hotfixes", "Hotfixes"}}),
      project("p_hf_brand", "Brand refresh", "#e53935", hf, true, true,
              {{"t_hf_workshops", "Workshops"}, {"t_hf_logo", "Logo"}, {"t_hf_guidelines", "Guidelines"}}),
      project("p_hf_site", "Marketing site", "#00897b", hf, true, false,
              {{"t_hf_copy", "Copy"}, {"t_hf_layout", "Layout"}, {"t_hf_cms", "CMS setup"}}),
      project("p_hf_newsletter", "Newsletter templates", "#f4511e", hf, true, false),
      project("p_hf_seo", "SEO audit", "#6d4c41", hf, true, false),
      project("p_ad_booking", "Booking system", "#3949ab", ad, true, true,
              {{"t_ad_discovery", "Discovery"}, {"t_ad_api", "API integration"}, {"t_ad_testing", "Testing"}}),
      project("p_ad_portal", "Patient portal", "#d81b60", ad, true, false,
              {{"t_ad_a11y", "Accessibility"}, {"t_ad_auth", "Authentication"}}),
      project("p_int_admin", "Administration", "#757575", std::nullopt, false, false,
              {{"t_int_invoicing", "Invoicing"}, {"t_int_planning", "Planning"}, {"t_int_email", "Email"}}),
      project("p_int_learning", "Learning", "#fdd835", std::nullopt, false, false),
  };
  studio.tags = {
      {"tag_meeting", "meeting"}, {"tag_focus", "deep work"}, {"tag_support", "support"}, {"tag_travel", "travel"}};

  Workspace oss;
  oss.id = "ws_oss";
  oss.name = "Open Source Collective";
  oss.slug = "open-source-collective";
  oss.duration_format = "compact";
  oss.time_zone = zone;
  oss.require_project = true;
  oss.require_description = true;
  oss.members_can_change_billable = false;
  oss.projects = {
      project("p_oss_core", "Core library", "#5e35b1", std::nullopt, false, true,
              {{"t_oss_issues", "Issues"}, {"t_oss_prs", "Pull requests"}, {"t_oss_releases", "Releases"}}),
      project("p_oss_docs", "Documentation", "#039be5", std::nullopt, false, false),
      project("p_oss_community", "Community", "#7cb342", std::nullopt, false, false,
              {{"t_oss_meetups", "Meetups"}, {"t_oss_forum", "Forum"}}),
      project("p_oss_grants", "Grant reporting", "#c0ca33", "Sovereign Tech Fund", true, false),
  };
  oss.tags = {{"tag_oss_release", "release"}};

  Workspace fjord;
  fjord.id = "ws_fjord";
  fjord.name = "Fjord Analytics";
  fjord.slug = "fjord-analytics";
  fjord.time_zone = "Europe/Oslo";
  fjord.projects = {
      project("p_fj_warehouse", "Data warehouse migration", "#00acc1", "Lindqvist Studio", true, false),
      project("p_fj_reports", "Quarterly reports", "#ffb300", "Lindqvist Studio", true, false),
  };

  // Past days on a working schedule; the plans are per weekday.
  for (int days_ago = 6; days_ago >= 1; --days_ago) {
    const Day day = day_before(zone, now, days_ago);
    if (day.weekday == 7) continue;
    const auto& plan = studio_plans()[static_cast<std::size_t>(day.weekday - 1)];
    for (const Slot& slot : plan) {
      const std::int64_t start = at(zone, day, slot.hour, slot.minute);
      add_entry(s, studio, "u_mara", start, start + slot.minutes * 60, slot.description, slot.project,
                slot.task != nullptr ? slot.task : "", slot.tags);
    }
    if (days_ago == 2 || days_ago == 4) {
      const std::int64_t evening = at(zone, day, 19, 30);
      add_entry(s, oss, "u_mara", evening, evening + 45 * 60, "Triage new issues", "p_oss_core", "t_oss_issues");
    }
    if (days_ago == 3) {
      const std::int64_t evening = at(zone, day, 20, 0);
      add_entry(s, oss, "u_mara", evening, evening + 40 * 60, "Update the getting started guide", "p_oss_docs");
    }
  }
  // Today: the day's plan up to now; early in the day (or on a Sunday) a few
  // entries just before now instead, so that today never looks empty.
  const Day today_date = day_before(zone, now, 0);
  std::vector<const Slot*> done_today;
  if (today_date.weekday != 7)
    for (const Slot& slot : studio_plans()[static_cast<std::size_t>(today_date.weekday - 1)])
      if (at(zone, today_date, slot.hour, slot.minute) + slot.minutes * 60 <= now) done_today.push_back(&slot);
  if (done_today.size() >= 2) {
    for (const Slot* slot : done_today) {
      const std::int64_t start = at(zone, today_date, slot->hour, slot->minute);
      add_entry(s, studio, "u_mara", start, start + slot->minutes * 60, slot->description, slot->project,
                slot->task != nullptr ? slot->task : "", slot->tags);
    }
  }
  // 122 minutes back from now: squeezed into today when the day is younger.
  const Squeeze q(now, at(zone, today_date, 0, 0), 122 * 60);
  std::int64_t back = 12 * 60;
  const Slot today[] = {
      {0, 0, 35, "Review PR #497: address autocomplete", "p_nw_webshop", "t_nw_review", {}},
      {0, 0, 50, "Checkout flow: address validation", "p_nw_webshop", "t_nw_frontend", {"tag_focus"}},
      {0, 0, 15, "Daily stand-up", "p_int_admin", "t_int_planning", {"tag_meeting"}},
  };
  for (const Slot& slot : today) {
    if (done_today.size() >= 2) break;
    const std::int64_t start_back = back + slot.minutes * 60;
    add_entry(s, studio, "u_mara", q.before(start_back), q.before(back), slot.description, slot.project, slot.task,
              slot.tags);
    back = start_back + 5 * 60;
  }
  // A teammate's running timer, never shown to Mara.
  add_entry(s, studio, "u_jonas", now - 40 * 60, std::nullopt, "Pairing on payment retries", "p_nw_webshop",
            "t_nw_backend");

  s.workspaces = {std::move(studio), std::move(oss), std::move(fjord)};
  return s;
}

}  // namespace

State make_seed(const std::string& name, std::int64_t now) {
  if (name == "test") return test_seed(now);
  if (name == "demo") return demo_seed(now);
  throw std::invalid_argument("unknown seed: " + name);
}

std::string seed_api_key(const std::string& name) {
  if (name == "test") return "iv_test_0123456789abcdef";
  if (name == "demo") return "iv_demo_mara_5f2c9e1b7a4d";
  throw std::invalid_argument("unknown seed: " + name);
}

}  // namespace irvelo::devserver::model
