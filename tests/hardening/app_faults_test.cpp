// Faults of the service seen through the real executable and its tray icon:
// the instance survives each, and the next invocation after the fault shows
// the service's state.

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "app_fixture.hpp"
#include "support/main_loop.hpp"

namespace irvelo::test {
namespace {

using namespace std::chrono_literals;

struct StartFault {
  const char* name;
  devserver::Fault fault;
};

// Logs name the case rather than dump its bytes.
void PrintTo(const StartFault& c, std::ostream* os) {
  *os << c.name;
}

devserver::Fault answer(int status, std::string body, std::string content_type = "application/json") {
  devserver::Fault fault;
  fault.status = status;
  fault.body = std::move(body);
  fault.content_type = std::move(content_type);
  return fault;
}

devserver::Fault dropped() {
  devserver::Fault fault = answer(201, R"({"running":{"id":"te_cut","description":"cut short here"}})");
  fault.drop_connection = true;
  return fault;
}

class ExecutableFaults : public AppSession, public ::testing::WithParamInterface<StartFault> {
 protected:
  std::string icon() { return host_->string_property(item(), "IconName"); }
};

TEST_P(ExecutableFaults, FailedStartLeavesTheInstanceIdleAndTheNextStartWorks) {
  ASSERT_TRUE(start_primary());
  ASSERT_TRUE(run_until([&] { return icon() == kIdle; }));
  const std::string start_path = "/api/v1/workspaces/" + server_->workspace_ids().front() + "/timer/start";
  server_->inject_fault(start_path, GetParam().fault);

  EXPECT_EQ(invoke({"--start"}), 0);
  ASSERT_TRUE(run_until([&] { return count("POST", "/timer/start") == 1; }));
  // The failed start is followed by nothing that would make it look tracking.
  // The refresh after it is sent only once the failure has been handled, so
  // what the failure did shows from here on; the service has no timer to
  // show either.
  ASSERT_TRUE(run_until([&] { return count("GET", "/bootstrap") >= 2; }, 5s)) << "no refresh after the failure";
  EXPECT_TRUE(alive(primary_));
  EXPECT_EQ(icon(), kIdle);
  EXPECT_EQ(tooltip_text(), "Not tracking");

  // The fault was used up: the next start reaches the service.
  EXPECT_EQ(invoke({"--start"}), 0);
  ASSERT_TRUE(run_until([&] { return icon() == kTracking && count("POST", "/timer/start") == 2; }));
  EXPECT_TRUE(alive(primary_));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ExecutableFaults,
    ::testing::Values(StartFault{"HtmlServerError",
                                 answer(500, "<html><body>Internal Server Error</body></html>", "text/html")},
                      StartFault{"DroppedConnection", dropped()},
                      StartFault{"MalformedBody", answer(201, R"({"running": {"id": )")},
                      StartFault{"RefusedFields", answer(422, R"({"error":{"code":"VALIDATION","message":"no"}})")}),
    [](const ::testing::TestParamInfo<StartFault>& info) { return std::string(info.param.name); });

class ExecutableRestart : public AppSession {};

TEST_F(ExecutableRestart, ServiceThatLostTheTimerIsFollowed) {
  ASSERT_TRUE(start_primary());
  // The first load has been answered once its requests arrived: the service
  // answers each at once.
  ASSERT_TRUE(run_until([&] {
    return count("GET", "/bootstrap") == 1 && count("GET", "/projects") == 1 &&
           host_->string_property(item(), "IconName") == kIdle;
  }));
  // The refresh that follows the start fails, as a service going down
  // answers; had it answered after the reset, the instance would already
  // know the timer is gone. Once it has arrived at the service, nothing the
  // instance has on its way reads the service's state.
  server_->inject_fault("/api/v1/workspaces/" + server_->workspace_ids().front() + "/bootstrap",
                        answer(503, "<html><body>Service Unavailable</body></html>", "text/html"));
  ASSERT_EQ(invoke({"--start"}), 0);
  ASSERT_TRUE(run_until(
      [&] { return count("GET", "/bootstrap") == 2 && host_->string_property(item(), "IconName") == kTracking; }));
  server_->reset_state();
  // The instance still believes in its timer; toggling stops it at the
  // service, which has none, and the reload shows the service's state.
  EXPECT_EQ(invoke({"--toggle"}), 0);
  ASSERT_TRUE(run_until(
      [&] { return count("POST", "/timer/stop") == 1 && host_->string_property(item(), "IconName") == kIdle; }));
  EXPECT_EQ(tooltip_text(), "Not tracking");
  EXPECT_TRUE(alive(primary_));
  // And the next toggle starts again.
  EXPECT_EQ(invoke({"--toggle"}), 0);
  ASSERT_TRUE(run_until([&] { return host_->string_property(item(), "IconName") == kTracking; }));
}

}  // namespace
}  // namespace irvelo::test
