// irvelo-devserver as a child process.

#include <signal.h>
#include <sys/wait.h>

#include <cerrno>

#include "fixture.hpp"

namespace irvelo::test {
namespace {

TEST(DevServerProcess, ServesAndIsStoppedOnDestruction) {
  int pid = -1;
  {
    devserver::DevServerProcess process(IRVELO_DEVSERVER_PATH);
    pid = process.pid();
    ASSERT_GT(pid, 0);
    EXPECT_EQ(process.base_url().rfind("http://127.0.0.1:", 0), 0u) << process.base_url();
    EXPECT_EQ(process.api_key().rfind("iv_", 0), 0u);
    Http http;
    const Reply health = http.get(process.base_url() + "/api/health");
    ASSERT_EQ(health.status, 200);
    EXPECT_EQ(health.json()["name"], "irvelo");
    const Reply me = http.get(process.base_url() + "/api/v1/me", process.api_key());
    ASSERT_EQ(me.status, 200);
    EXPECT_EQ(me.json()["user"]["id"], "u_test");
    // The admin prefix reaches the child's log.
    const auto log = http.get(process.base_url() + "/__admin/requests").json();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1]["path"], "/api/v1/me");
    EXPECT_EQ(kill(pid, 0), 0);
  }
  // Stopped and reaped: the pid is gone.
  errno = 0;
  EXPECT_EQ(kill(pid, 0), -1);
  EXPECT_EQ(errno, ESRCH);
}

TEST(DevServerProcess, DemoSeedAndTwoAtOnce) {
  devserver::DevServerProcess demo(IRVELO_DEVSERVER_PATH, "demo");
  devserver::DevServerProcess test(IRVELO_DEVSERVER_PATH, "test");
  EXPECT_NE(demo.base_url(), test.base_url());
  Http http;
  EXPECT_EQ(http.get(demo.base_url() + "/api/v1/me", demo.api_key()).json()["user"]["name"], "Mara Lindqvist");
  EXPECT_EQ(http.get(demo.base_url() + "/api/v1/me", test.api_key()).status, 401);
}

TEST(DevServerProcess, BadExecutableOrSeedThrows) {
  EXPECT_THROW(devserver::DevServerProcess("/nonexistent/irvelo-devserver"), std::runtime_error);
  EXPECT_THROW(devserver::DevServerProcess(IRVELO_DEVSERVER_PATH, "no-such-seed"), std::runtime_error);
}

}  // namespace
}  // namespace irvelo::test
