// The helpers the other storage tests rely on: if these failed, the checks
// built on them would prove nothing.

#include <gtest/gtest.h>

#include "storage/settings.hpp"
#include "storage_support.hpp"

namespace irvelo::test {
namespace {

TEST(StorageSupport, LogCaptureSeesEveryLevelAndDomain) {
  LogCapture logs;
  g_log("some-library", G_LOG_LEVEL_DEBUG, "debug %s", "text");
  g_log(nullptr, G_LOG_LEVEL_INFO, "info text");
  g_log(nullptr, G_LOG_LEVEL_MESSAGE, "message text");
  g_log("some-library", G_LOG_LEVEL_WARNING, "warning text");
  const GLogField fields[] = {{"MESSAGE", "structured text", -1}, {"GLIB_DOMAIN", "other", -1}};
  g_log_structured_array(G_LOG_LEVEL_DEBUG, fields, G_N_ELEMENTS(fields));

  const auto all = logs.records();
  ASSERT_EQ(all.size(), 5u);
  EXPECT_EQ(all[0].level, G_LOG_LEVEL_DEBUG);
  EXPECT_EQ(all[0].domain, "some-library");
  EXPECT_EQ(all[0].message, "debug text");
  EXPECT_EQ(all[1].level, G_LOG_LEVEL_INFO);
  EXPECT_EQ(all[1].domain, "");
  EXPECT_EQ(all[3].level, G_LOG_LEVEL_WARNING);
  EXPECT_EQ(all[4].message, "structured text");
  EXPECT_EQ(logs.own().size(), 2u);
  EXPECT_EQ(logs.containing("text").size(), 5u);
}

TEST(StorageSupport, ReadOnlyDirStopsWritesAndIsUndone) {
  reset_config_home();
  ASSERT_EQ(g_mkdir_with_parents(config_dir().c_str(), 0700), 0);
  const std::string file = join(config_dir(), "f");
  {
    ReadOnlyDir read_only(config_dir());
    ASSERT_TRUE(read_only.ok());
    EXPECT_FALSE(g_file_set_contents(file.c_str(), "x", 1, nullptr));
  }
  EXPECT_EQ(mode_of(config_dir()), 0700);
  EXPECT_TRUE(g_file_set_contents(file.c_str(), "x", 1, nullptr));
}

}  // namespace
}  // namespace irvelo::test
