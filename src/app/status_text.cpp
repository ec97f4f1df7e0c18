#include "app/status_text.hpp"

#include <glib/gi18n-lib.h>
#include <glibmm/ustring.h>

#include "core/time_format.hpp"

namespace irvelo {
namespace {

constexpr const char* kSeparator = " \u00b7 ";

}  // namespace

std::string status_tooltip(bool signed_in, bool tracking, std::int64_t elapsed, const std::string& description,
                           const std::string& pending) {
  if (signed_in && !pending.empty()) {
    std::string text = Glib::ustring::compose(
        pending == "discard" ? _("Not discarded yet %1") : _("Not stopped yet %1"), format_clock(elapsed));
    if (!description.empty()) text += kSeparator + description;
    return text;
  }
  if (tracking) {
    std::string text = Glib::ustring::compose(_("Tracking %1"), format_clock(elapsed));
    if (!description.empty()) text += kSeparator + description;
    return text;
  }
  return signed_in ? _("Not tracking") : _("Not signed in");
}

std::string assignment_line(const std::string& project, const std::string& task, const std::string& client) {
  std::string line;
  for (const std::string* part : {&project, &task, &client}) {
    if (part->empty()) continue;
    if (!line.empty()) line += kSeparator;
    line += *part;
  }
  return line;
}

}  // namespace irvelo
