#include <gtest/gtest.h>

#include <string>

#include "api/defaults.hpp"
#include "storage/settings.hpp"
#include "storage_support.hpp"

namespace irvelo {
namespace {

using test::exists;
using test::join;
using test::LogCapture;
using test::mode_of;
using test::read_file;
using test::write_file;

const std::string kDefault(kDefaultServerUrl);

std::string settings_file() {
  return join(config_dir(), "settings.ini");
}

void write_settings(const std::string& content) {
  g_mkdir_with_parents(config_dir().c_str(), 0700);
  write_file(settings_file(), content);
}

void expect_defaults(const Settings& s) {
  EXPECT_EQ(s.server_url, kDefault);
  EXPECT_EQ(s.workspace_id, "");
  EXPECT_EQ(s.key_origin, "");
  EXPECT_TRUE(s.tray_shows_time);
}

class SettingsFile : public ::testing::Test {
 protected:
  SettingsFile() { test::reset_config_home(); }
};

TEST_F(SettingsFile, ConfigDirIsTheUserConfigDirectoryPlusAppFolder) {
  EXPECT_EQ(config_dir(), join(g_get_user_config_dir(), "irvelo-desktop"));
  EXPECT_FALSE(exists(config_dir())) << "config_dir() must not create the directory";
}

TEST_F(SettingsFile, FreshValueAndNoFile) {
  const Settings fresh;
  EXPECT_EQ(fresh.server_url, "");
  EXPECT_EQ(fresh.workspace_id, "");
  EXPECT_EQ(fresh.key_origin, "");
  EXPECT_TRUE(fresh.tray_shows_time);

  expect_defaults(Settings::load());
}

TEST_F(SettingsFile, RoundTripWritesExactlyEveryKey) {
  Settings s;
  s.server_url = "https://time.example.org";
  s.workspace_id = "ws 42";
  s.key_origin = "connect";
  s.tray_shows_time = false;
  s.tray_time_style = "icon";
  s.stop_on_lock = true;
  s.stop_on_sleep = true;
  s.idle_stop_minutes = 480;
  s.long_timer_hours = 3;
  s.remind_to_track = true;
  s.work_hours = "22:00-06:00";
  s.work_days = "1,2,3,4,6";
  s.save();

  EXPECT_EQ(read_file(settings_file()).value_or("<missing>"),
            "[main]\n"
            "server_url=https://time.example.org\n"
            "workspace_id=ws 42\n"
            "key_origin=connect\n"
            "tray_shows_time=false\n"
            "tray_time_style=icon\n"
            "stop_on_lock=true\n"
            "stop_on_sleep=true\n"
            "idle_stop_minutes=480\n"
            "long_timer_hours=3\n"
            "remind_to_track=true\n"
            "work_hours=22:00-06:00\n"
            "work_days=1,2,3,4,6\n");

  const Settings loaded = Settings::load();
  EXPECT_EQ(loaded.server_url, "https://time.example.org");
  EXPECT_EQ(loaded.workspace_id, "ws 42");
  EXPECT_EQ(loaded.key_origin, "connect");
  EXPECT_FALSE(loaded.tray_shows_time);
  EXPECT_EQ(loaded.tray_time_style, "icon");
  EXPECT_TRUE(loaded.stop_on_lock);
  EXPECT_TRUE(loaded.stop_on_sleep);
  EXPECT_EQ(loaded.idle_stop_minutes, 480);
  EXPECT_EQ(loaded.long_timer_hours, 3);
  EXPECT_TRUE(loaded.remind_to_track);
  EXPECT_EQ(loaded.work_hours, "22:00-06:00");
  EXPECT_EQ(loaded.work_days, "1,2,3,4,6");

  s.tray_shows_time = true;
  s.save();
  EXPECT_TRUE(Settings::load().tray_shows_time);
}

TEST_F(SettingsFile, ValuesThatNeedEscapingSurvive) {
  Settings s;
  s.server_url = kDefault;
  s.workspace_id = " lead\\ing=\nline";
  s.key_origin = "personal";
  s.save();
  const Settings loaded = Settings::load();
  EXPECT_EQ(loaded.workspace_id, s.workspace_id);
  EXPECT_EQ(loaded.key_origin, "personal");
}

TEST_F(SettingsFile, SaveCreatesTheDirectoryWithMode0700) {
  ASSERT_FALSE(exists(config_dir()));
  Settings s = Settings::load();
  s.save();
  EXPECT_EQ(mode_of(config_dir()), 0700);
  EXPECT_TRUE(exists(settings_file()));
}

TEST_F(SettingsFile, ServerUrlIsNormalisedOrReplacedByTheDefault) {
  struct Row {
    const char* stored;
    std::string expected;
  };
  const Row rows[] = {
      {"", kDefault},
      {"   ", kDefault},
      {"time.example.org", "https://time.example.org"},
      {"https://time.example.org/", "https://time.example.org"},
      {"http://localhost:8080", "http://localhost:8080"},
      {"http://time.example.org", kDefault},  // plain http only for the local host
      {"ftp://time.example.org", kDefault},
      {"https://time.example.org/?q=1", kDefault},
  };
  for (const auto& row : rows) {
    write_settings(std::string("[main]\nserver_url=") + row.stored + "\n");
    EXPECT_EQ(Settings::load().server_url, row.expected) << "stored: '" << row.stored << "'";
  }
}

TEST_F(SettingsFile, TrayFlagOnlyAParsableBooleanCounts) {
  write_settings("[main]\ntray_shows_time=false\n");
  EXPECT_FALSE(Settings::load().tray_shows_time);
  write_settings("[main]\ntray_shows_time=true\n");
  EXPECT_TRUE(Settings::load().tray_shows_time);
  write_settings("[main]\ntray_shows_time=maybe\n");
  EXPECT_TRUE(Settings::load().tray_shows_time);
  write_settings("[main]\ntray_shows_time=\n");
  EXPECT_TRUE(Settings::load().tray_shows_time);
  write_settings("[main]\nworkspace_id=w1\n");
  EXPECT_TRUE(Settings::load().tray_shows_time);
}

TEST_F(SettingsFile, AwayValuesThatCannotBeReadGiveTheDefaults) {
  write_settings(
      "[main]\nstop_on_lock=yes\nstop_on_sleep=on\nidle_stop_minutes=481\nlong_timer_hours=-2\n"
      "remind_to_track=sometimes\nwork_hours=9-17\nwork_days=0-5\ntray_time_style=big\n");
  const Settings s = Settings::load();
  const Settings defaults;
  EXPECT_FALSE(s.stop_on_lock);
  EXPECT_FALSE(s.stop_on_sleep);
  EXPECT_EQ(s.idle_stop_minutes, 0);
  EXPECT_EQ(s.long_timer_hours, 0);
  EXPECT_FALSE(s.remind_to_track);
  EXPECT_EQ(s.work_hours, defaults.work_hours);
  EXPECT_EQ(s.work_days, defaults.work_days);
  EXPECT_EQ(s.tray_time_style, "auto");
}

TEST_F(SettingsFile, MissingKeysTakeTheirDefaults) {
  write_settings("[main]\nworkspace_id=w1\n");
  const Settings s = Settings::load();
  EXPECT_EQ(s.server_url, kDefault);
  EXPECT_EQ(s.workspace_id, "w1");
  EXPECT_EQ(s.key_origin, "");
  EXPECT_TRUE(s.tray_shows_time);
}

TEST_F(SettingsFile, KeysInAnotherGroupGiveTheDefaults) {
  write_settings(
      "[other]\nserver_url=https://time.example.org\nworkspace_id=w1\nkey_origin=connect\ntray_shows_time=false\n");
  expect_defaults(Settings::load());
}

TEST_F(SettingsFile, DamagedFileGivesTheDefaults) {
  write_settings("this is not a key file\n[main\nserver_url=https://time.example.org\n");
  expect_defaults(Settings::load());
}

TEST_F(SettingsFile, HandAddedKeysGroupsAndCommentsAreGoneAfterASave) {
  write_settings(
      "# my notes\n"
      "[main]\n"
      "server_url=https://time.example.org\n"
      "colour=blue\n"
      "workspace_id=w7\n"
      "[extra]\n"
      "x=1\n");
  Settings s = Settings::load();
  EXPECT_EQ(s.workspace_id, "w7");
  s.key_origin = "personal";
  s.save();
  EXPECT_EQ(read_file(settings_file()).value_or("<missing>"),
            "[main]\n"
            "server_url=https://time.example.org\n"
            "workspace_id=w7\n"
            "key_origin=personal\n"
            "tray_shows_time=true\n"
            "tray_time_style=auto\n"
            "stop_on_lock=false\n"
            "stop_on_sleep=false\n"
            "idle_stop_minutes=0\n"
            "long_timer_hours=0\n"
            "remind_to_track=false\n"
            "work_hours=09:00-17:00\n"
            "work_days=1-5\n");
}

TEST_F(SettingsFile, ReadOnlyDirectoryLogsTheWarningAndKeepsTheOldFile) {
  const std::string old_content = "[main]\nserver_url=https://old.example.org\nworkspace_id=w1\n";
  write_settings(old_content);
  LogCapture logs;
  Settings s;
  s.server_url = "https://new.example.org";
  {
    test::ReadOnlyDir read_only(config_dir());
    ASSERT_TRUE(read_only.ok()) << "the directory could not be made read-only";
    s.save();
  }
  const auto own = logs.own();
  ASSERT_EQ(own.size(), 1u);
  EXPECT_EQ(own[0].level, G_LOG_LEVEL_WARNING);
  EXPECT_EQ(own[0].message.rfind("cannot save settings: ", 0), 0u) << own[0].message;
  EXPECT_GT(own[0].message.size(), std::string("cannot save settings: ").size());
  EXPECT_EQ(read_file(settings_file()), old_content);
  EXPECT_EQ(Settings::load().server_url, "https://old.example.org");
  EXPECT_EQ(s.server_url, "https://new.example.org");
}

// A second way to make the directory unwritable: a regular file stands where
// config_dir() should be, so neither creating it nor writing "settings.ini"
// inside it can work (ENOTDIR), for root as for anyone.
TEST_F(SettingsFile, DirectoryBlockedByAFileLogsTheWarning) {
  write_file(config_dir(), "not a directory\n");
  LogCapture logs;
  Settings s = Settings::load();
  expect_defaults(s);
  s.save();
  const auto own = logs.own();
  ASSERT_EQ(own.size(), 1u);
  EXPECT_EQ(own[0].level, G_LOG_LEVEL_WARNING);
  EXPECT_EQ(own[0].message.rfind("cannot save settings: ", 0), 0u) << own[0].message;
  EXPECT_EQ(read_file(config_dir()), "not a directory\n");
}

}  // namespace
}  // namespace irvelo
