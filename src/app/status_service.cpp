#include "app/status_service.hpp"

#include <giomm/resource.h>

#include "core/tracker_store.hpp"

namespace irvelo {
namespace {

constexpr const char* kInterface = "com.larkspan.Irvelo.Status";
constexpr const char* kXml = "/com/larkspan/Irvelo/dbus/com.larkspan.Irvelo.Status.xml";

Glib::VariantBase text(const std::string& value) {
  return Glib::Variant<Glib::ustring>::create(value);
}

Glib::VariantBase number(std::int64_t value) {
  return Glib::Variant<gint64>::create(value);
}

Glib::VariantBase flag(bool value) {
  return Glib::Variant<bool>::create(value);
}

const char* phase_name(TrackerStore::Phase phase) {
  switch (phase) {
    case TrackerStore::Phase::SignedOut:
      return "signed-out";
    case TrackerStore::Phase::Loading:
      return "loading";
    case TrackerStore::Phase::Ready:
      break;
  }
  return "ready";
}

}  // namespace

StatusService::StatusService() = default;

StatusService::~StatusService() {
  changed_.disconnect();
  unexport();
}

bool StatusService::export_on(const Glib::RefPtr<Gio::DBus::Connection>& connection, const std::string& path) {
  unexport();
  try {
    const auto xml = Gio::Resource::lookup_data_global(kXml);
    gsize size = 0;
    const auto* data = static_cast<const char*>(xml->get_data(size));
    node_ = Gio::DBus::NodeInfo::create_for_xml(std::string(data, size));
    // The bus library keeps the table's address for as long as the object is exported.
    vtable_ = std::make_unique<Gio::DBus::InterfaceVTable>(
        [](const Glib::RefPtr<Gio::DBus::Connection>&, const Glib::ustring&, const Glib::ustring&, const Glib::ustring&,
           const Glib::ustring& method, const Glib::VariantContainerBase&,
           const Glib::RefPtr<Gio::DBus::MethodInvocation>& invocation) {
          invocation->return_dbus_error("org.freedesktop.DBus.Error.UnknownMethod", "no method " + method);
        },
        [this](Glib::VariantBase& property, const Glib::RefPtr<Gio::DBus::Connection>&, const Glib::ustring&,
               const Glib::ustring&, const Glib::ustring&, const Glib::ustring& name) {
          const Values all = values();
          const auto found = all.find(name);
          if (found != all.end()) property = found->second;
        });
    registration_ = connection->register_object(path, node_->lookup_interface(kInterface), *vtable_);
  } catch (const Glib::Error& e) {
    g_warning("status interface not exported: %s", e.what());
    return false;
  }
  connection_ = connection;
  path_ = path;
  announced_ = values();
  return true;
}

void StatusService::unexport() {
  if (registration_ != 0 && connection_) connection_->unregister_object(registration_);
  registration_ = 0;
  connection_.reset();
}

void StatusService::attach(TrackerStore& store) {
  store_ = &store;
  changed_.disconnect();
  changed_ = store.changed.connect(sigc::mem_fun(*this, &StatusService::announce));
  announce();
}

StatusService::Values StatusService::values() const {
  Values v;
  const TrackerStore* s = store_;
  const auto& running = s != nullptr ? s->running : std::optional<api::TimeEntry>();
  v["Phase"] = text(s != nullptr ? phase_name(s->phase) : "loading");
  v["Tracking"] = flag(running.has_value());
  const auto& pending = s != nullptr ? s->pending_action : std::optional<PendingAction>();
  // A pending stop's entry still runs at the service; its start and the
  // description it is stopped with stay readable.
  v["StartedAt"] = number(running ? running->start_unix : pending ? pending->entry_start : 0);
  v["Description"] = text(running ? running->description : pending ? pending->description : std::string());
  v["Pending"] = text(!pending ? "" : pending->kind == PendingAction::Kind::Stop ? "stop" : "discard");
  v["PendingSince"] = number(pending ? pending->requested_at : 0);
  v["Project"] = text(running && running->project ? running->project->name : std::string());
  v["Task"] = text(running && running->task ? running->task->name : std::string());
  v["Client"] = text(running && running->project ? running->project->client_name.value_or("") : std::string());
  const auto workspace = s != nullptr ? s->current_workspace() : std::nullopt;
  v["Workspace"] = text(workspace ? workspace->name : std::string());
  v["Billable"] = flag(running && running->is_billable);
  v["TodaySeconds"] = number(s != nullptr ? s->today_seconds() : 0);
  v["WeekSeconds"] = number(s != nullptr ? s->week_seconds() : 0);
  v["Error"] = text(s != nullptr ? s->error.value_or("") : std::string());
  return v;
}

void StatusService::announce() {
  if (registration_ == 0) return;
  Values now = values();
  std::map<Glib::ustring, Glib::VariantBase> changed;
  for (const auto& [name, value] : now) {
    const auto before = announced_.find(name);
    if (before == announced_.end() || !before->second.equal(value)) changed[name] = value;
  }
  announced_ = std::move(now);
  if (changed.empty()) return;
  try {
    connection_->emit_signal(path_, "org.freedesktop.DBus.Properties", "PropertiesChanged", {},
                             Glib::VariantContainerBase::create_tuple({
                                 Glib::Variant<Glib::ustring>::create(kInterface),
                                 Glib::Variant<std::map<Glib::ustring, Glib::VariantBase>>::create(changed),
                                 Glib::Variant<std::vector<Glib::ustring>>::create({}),
                             }));
  } catch (const Glib::Error& e) {
    g_info("status change not announced: %s", e.what());
  }
}

}  // namespace irvelo
