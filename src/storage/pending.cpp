#include "storage/pending.hpp"

#include <glib.h>
#include <glib/gstdio.h>

#include <array>
#include <nlohmann/json.hpp>
#include <utility>

#include "config.hpp"
#include "core/owned.hpp"

namespace irvelo {
namespace {

constexpr const char* kFileName = "pending.json";

template <typename E, std::size_t N>
using Names = std::array<std::pair<E, const char*>, N>;

constexpr Names<PendingAction::Kind, 2> kKinds{
    {{PendingAction::Kind::Stop, "stop"}, {PendingAction::Kind::Discard, "discard"}}};
constexpr Names<PendingAction::Reason, 5> kReasons{{{PendingAction::Reason::User, "user"},
                                                    {PendingAction::Reason::Lock, "lock"},
                                                    {PendingAction::Reason::Sleep, "sleep"},
                                                    {PendingAction::Reason::Shutdown, "shutdown"},
                                                    {PendingAction::Reason::Idle, "idle"}}};
constexpr Names<PendingAction::Cause, 2> kCauses{
    {{PendingAction::Cause::Network, "network"}, {PendingAction::Cause::Unavailable, "unavailable"}}};

template <typename E, std::size_t N>
const char* name_of(const Names<E, N>& names, E value) {
  for (const auto& [v, name] : names) {
    if (v == value) return name;
  }
  return names[0].second;
}

template <typename E, std::size_t N>
std::optional<E> value_of(const Names<E, N>& names, const nlohmann::json& json) {
  if (!json.is_string()) return std::nullopt;
  for (const auto& [v, name] : names) {
    if (json.get_ref<const std::string&>() == name) return v;
  }
  return std::nullopt;
}

std::optional<std::string> text_of(const nlohmann::json& object, const char* key, bool may_be_empty) {
  const auto it = object.find(key);
  if (it == object.end() || !it->is_string()) return std::nullopt;
  std::string value = it->get<std::string>();
  if (value.empty() && !may_be_empty) return std::nullopt;
  return value;
}

std::optional<std::int64_t> instant_of(const nlohmann::json& object, const char* key) {
  const auto it = object.find(key);
  if (it == object.end() || !it->is_number_integer()) return std::nullopt;
  const auto value = it->get<std::int64_t>();
  if (value < 0) return std::nullopt;
  return value;
}

std::string pending_path() {
  const CharPtr path(g_build_filename(state_dir().c_str(), kFileName, nullptr));
  return path.get();
}

// Said once per process: the poll would otherwise repeat it every 30 seconds.
void report_unreadable(const std::string& why) {
  static bool reported = false;
  if (reported) return;
  reported = true;
  g_warning("ignoring the pending stop in %s: %s", pending_path().c_str(), why.c_str());
}

}  // namespace

std::string state_dir() {
  const CharPtr dir(g_build_filename(g_get_user_state_dir(), config::kProgramName, nullptr));
  return dir.get();
}

std::string pending_to_json(const PendingAction& action) {
  const nlohmann::json json = {
      {"version", 1},
      {"kind", name_of(kKinds, action.kind)},
      {"server", action.server},
      {"workspaceId", action.workspace_id},
      {"entryId", action.entry_id},
      {"entryStart", action.entry_start},
      {"requestedAt", action.requested_at},
      {"reason", name_of(kReasons, action.reason)},
      {"cause", name_of(kCauses, action.cause)},
      {"description", action.description},
  };
  // Replaced, not thrown: a description is the user's text and may hold anything.
  return json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

std::optional<PendingAction> pending_from_json(std::string_view text) {
  const nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
  if (!json.is_object()) return std::nullopt;
  PendingAction action;
  const auto kind = value_of(kKinds, json.value("kind", nlohmann::json()));
  const auto server = text_of(json, "server", false);
  const auto workspace = text_of(json, "workspaceId", false);
  const auto entry = text_of(json, "entryId", false);
  const auto start = instant_of(json, "entryStart");
  const auto requested = instant_of(json, "requestedAt");
  const auto description = text_of(json, "description", true);
  if (!kind || !server || !workspace || !entry || !start || !requested || !description) return std::nullopt;
  action.kind = *kind;
  action.server = *server;
  action.workspace_id = *workspace;
  action.entry_id = *entry;
  action.entry_start = *start;
  action.requested_at = *requested;
  action.description = *description;
  // Only for the words shown; an unknown one takes the plainest.
  action.reason = value_of(kReasons, json.value("reason", nlohmann::json())).value_or(PendingAction::Reason::User);
  action.cause = value_of(kCauses, json.value("cause", nlohmann::json())).value_or(PendingAction::Cause::Network);
  return action;
}

std::optional<PendingAction> PendingFile::load() {
  const std::string path = pending_path();
  if (!g_file_test(path.c_str(), G_FILE_TEST_EXISTS)) return std::nullopt;
  CharPtr contents;
  gsize length = 0;
  ErrorPtr error;
  if (!g_file_get_contents(path.c_str(), out(contents), &length, out(error))) {
    report_unreadable(error ? error->message : "cannot read");
    return std::nullopt;
  }
  auto action = pending_from_json(std::string_view(contents.get(), length));
  if (!action) report_unreadable("not a pending stop");
  return action;
}

bool PendingFile::save(const PendingAction& action) {
  const std::string dir = state_dir();
  if (g_mkdir_with_parents(dir.c_str(), 0700) != 0) {
    g_warning("cannot create %s", dir.c_str());
    return false;
  }
  const std::string text = pending_to_json(action);
  ErrorPtr error;
  // g_file_set_contents_full writes a temporary file, syncs it and renames it
  // over the old one, so a crash leaves the old file or the new, never half.
  if (!g_file_set_contents_full(pending_path().c_str(), text.data(), static_cast<gssize>(text.size()),
                                G_FILE_SET_CONTENTS_CONSISTENT, 0600, out(error))) {
    g_warning("cannot save the pending stop: %s", error ? error->message : "unknown error");
    return false;
  }
  return true;
}

void PendingFile::remove() {
  const std::string path = pending_path();
  if (::g_remove(path.c_str()) != 0 && g_file_test(path.c_str(), G_FILE_TEST_EXISTS)) {
    g_warning("cannot remove %s", path.c_str());
  }
}

}  // namespace irvelo
