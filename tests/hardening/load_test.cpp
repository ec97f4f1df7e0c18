// Many invocations at once against the single running instance.

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "api/client.hpp"
#include "app_fixture.hpp"
#include "support/main_loop.hpp"

namespace irvelo::test {
namespace {

using namespace std::chrono_literals;

class InstanceLoad : public AppSession {};

TEST_F(InstanceLoad, FiftyConcurrentTogglesEndInTheServiceState) {
  ASSERT_TRUE(start_primary());
  ASSERT_TRUE(run_until([&] { return host_->string_property(item(), "IconName") == kIdle; }));

  std::vector<int> pids;
  for (int i = 0; i < 50; ++i) {
    const int pid = spawn({"--toggle"});
    ASSERT_NE(pid, 0);
    pids.push_back(pid);
  }
  ASSERT_TRUE(run_until(
      [&] {
        for (int pid : pids) {
          if (exits_.count(pid) == 0) return false;
        }
        return true;
      },
      60s));
  for (int pid : pids) EXPECT_EQ(exits_[pid], 0) << "invocation " << pid;
  EXPECT_TRUE(alive(primary_));
  EXPECT_GT(count("POST", "/timer/start"), 0);

  // What the service reports, asked by a client of the test's own, until the
  // instance shows the same: the last actions may still be on their way.
  api::Client client(server_->base_url(), server_->api_key());
  std::optional<api::TimeEntry> running;
  std::string icon;
  std::string tooltip;
  ASSERT_TRUE(run_until(
      [&] {
        // Shared with the completion, which may outlive a failed wait.
        auto answer = std::make_shared<std::optional<api::Result<std::optional<api::TimeEntry>>>>();
        client.running(server_->workspace_ids().front(),
                       [answer](api::Result<std::optional<api::TimeEntry>> r) { *answer = std::move(r); });
        if (!run_until([&] { return answer->has_value(); }) || !(*answer)->ok()) return false;
        running = *(*answer)->value;
        icon = host_->string_property(item(), "IconName");
        tooltip = tooltip_text();
        return icon == (running ? kTracking : kIdle) && (running.has_value() == (tooltip != "Not tracking"));
      },
      30s))
      << icon << " " << tooltip;
  if (running) {
    EXPECT_EQ(icon, kTracking) << tooltip;
    // The clock shown counts from the service's start of the entry.
    const std::int64_t elapsed = running->seconds_at(g_get_real_time() / 1000000);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(tooltip, m, std::regex(R"(Tracking (\d+):(\d\d):(\d\d))"))) << tooltip;
    const std::int64_t shown = std::stoll(m[1]) * 3600 + std::stoll(m[2]) * 60 + std::stoll(m[3]);
    EXPECT_LE(std::abs(shown - elapsed), 2) << tooltip << " against " << elapsed << " s at the service";
  } else {
    EXPECT_EQ(icon, kIdle);
    EXPECT_EQ(tooltip, "Not tracking");
  }
}

}  // namespace
}  // namespace irvelo::test
