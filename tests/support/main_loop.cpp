#include "support/main_loop.hpp"

#include <glib.h>

namespace irvelo::test {

bool run_until(const std::function<bool()>& done, std::chrono::milliseconds deadline) {
  const gint64 end = g_get_monotonic_time() + std::chrono::duration_cast<std::chrono::microseconds>(deadline).count();
  // A wake-up source bounds each blocking iteration so the deadline is honoured.
  const guint tick = g_timeout_add(
      10, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
  bool ok = done();
  while (!ok && g_get_monotonic_time() < end) {
    g_main_context_iteration(nullptr, TRUE);
    ok = done();
  }
  g_source_remove(tick);
  return ok;
}

void run_for(std::chrono::milliseconds duration) {
  run_until([] { return false; }, duration);
}

bool run_until_idle(std::chrono::milliseconds deadline) {
  // Sources of lower priority run only when nothing of higher priority is ready.
  bool reached = false;
  const guint source = g_idle_add_full(
      G_PRIORITY_LOW,
      [](gpointer flag) -> gboolean {
        *static_cast<bool*>(flag) = true;
        return G_SOURCE_REMOVE;
      },
      &reached, nullptr);
  const bool ok = run_until([&] { return reached; }, deadline);
  if (!ok) g_source_remove(source);
  return ok;
}

}  // namespace irvelo::test
