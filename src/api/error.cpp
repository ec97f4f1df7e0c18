#include <glib.h>
#include <glib/gi18n-lib.h>

#include <string>

#include "api/records.hpp"
#include "core/owned.hpp"

namespace irvelo::api {
namespace {

// The user-facing label of a request field named in a field error.
std::string field_label(const std::string& key) {
  if (key == "projectId") return _("project");
  if (key == "taskId") return _("task");
  if (key == "tagIds") return _("tags");
  return key;
}

}  // namespace

std::string Error::describe() const {
  switch (kind) {
    case Kind::Unauthenticated:
      return _("Your session expired. Sign in again.");
    case Kind::Api: {
      if (field_errors.empty()) return message;
      std::string text = message + ": ";
      bool first = true;
      for (const auto& [key, messages] : field_errors) {
        if (!first) text += ", ";
        text += field_label(key);
        first = false;
      }
      return text;
    }
    case Kind::Http: {
      const CharPtr text(g_strdup_printf(_("The server answered with HTTP %d."), status));
      return text.get();
    }
    case Kind::Network:
      return message;
    case Kind::BadResponse:
      return _("That address is not an Irvelo server.");
  }
  return message;
}

}  // namespace irvelo::api
