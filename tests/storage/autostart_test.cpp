#include <gio/gdesktopappinfo.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "storage/autostart.hpp"
#include "storage/autostart_detail.hpp"
#include "storage_support.hpp"
#include "support/main_loop.hpp"
#include "support/temp_dir.hpp"

namespace irvelo {
namespace {

using autostart::detail::Host;
using test::exists;
using test::join;
using test::read_file;
using test::write_file;

std::string entry() {
  return autostart::detail::path();
}
std::string autostart_dir() {
  return join(g_get_user_config_dir(), "autostart");
}

std::string eight_lines(const std::string& exec) {
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=Irvelo\n"
         "Exec=" +
         exec +
         "\n"
         "Icon=com.larkspan.Irvelo\n"
         "Terminal=false\n"
         "X-GNOME-Autostart-enabled=true\n"
         "X-GNOME-Autostart-Delay=3\n";
}

class Autostart : public ::testing::Test {
 protected:
  Autostart() { test::reset_config_home(); }

  // Outside any sandbox or AppImage: the flatpak marker points at a file that does not exist.
  Host plain() const {
    Host host;
    host.flatpak_marker = join(scratch_.path(), "no-flatpak-info");
    return host;
  }
  Host appimage(const std::string& path) const {
    Host host = plain();
    host.appimage = path;
    return host;
  }
  void write_entry(const std::string& content) {
    g_mkdir_with_parents(autostart_dir().c_str(), 0755);
    write_file(entry(), content);
  }

  test::TempDir scratch_{"irvelo-autostart"};
};

TEST_F(Autostart, EntryPath) {
  EXPECT_EQ(entry(), join(autostart_dir(), "com.larkspan.Irvelo.desktop"));
}

TEST_F(Autostart, NoEntryIsOffAndTurningOffSucceeds) {
  EXPECT_FALSE(autostart::enabled());
  EXPECT_EQ(autostart::set_enabled(false), "");
  EXPECT_EQ(autostart::detail::set_enabled(false, plain()), "");
  EXPECT_FALSE(exists(autostart_dir()));
}

TEST_F(Autostart, OnWritesTheEightLinesByteForByte) {
  ASSERT_EQ(autostart::detail::set_enabled(true, plain()), "");
  EXPECT_EQ(read_file(entry()), eight_lines("irvelo-desktop --background"));
  EXPECT_TRUE(autostart::enabled());

  // On again rewrites the entry.
  ASSERT_EQ(autostart::detail::set_enabled(true, appimage("/opt/Irvelo.AppImage")), "");
  EXPECT_EQ(read_file(entry()), eight_lines("\"/opt/Irvelo.AppImage\" --background"));
}

TEST_F(Autostart, OffDeletesTheEntry) {
  ASSERT_EQ(autostart::detail::set_enabled(true, plain()), "");
  ASSERT_TRUE(autostart::enabled());
  EXPECT_EQ(autostart::set_enabled(false), "");
  EXPECT_FALSE(exists(entry()));
  EXPECT_FALSE(autostart::enabled());
}

TEST_F(Autostart, PublicSetEnabledUsesTheRealHost) {
  // scripts/test unsets APPIMAGE; the test machine is no flatpak sandbox.
  const Host host = Host::current();
  EXPECT_EQ(host.flatpak_marker, "/.flatpak-info");
  ASSERT_EQ(autostart::set_enabled(true), "");
  EXPECT_EQ(read_file(entry()), autostart::detail::entry_content(host));
  if (!exists("/.flatpak-info") && g_getenv("APPIMAGE") == nullptr) {
    EXPECT_EQ(read_file(entry()), eight_lines("irvelo-desktop --background"));
  }
  EXPECT_TRUE(autostart::enabled());
}

TEST_F(Autostart, HostReadsAppimageFromTheEnvironment) {
  g_setenv("APPIMAGE", "/home/u/My Apps/Irvelo.AppImage", TRUE);
  EXPECT_EQ(Host::current().appimage, "/home/u/My Apps/Irvelo.AppImage");
  g_unsetenv("APPIMAGE");
  EXPECT_EQ(Host::current().appimage, std::nullopt);
}

TEST_F(Autostart, AppImagePathWithSpacesIsQuotedUnchanged) {
  ASSERT_EQ(autostart::detail::set_enabled(true, appimage("/home/u/My Apps/Irvelo 1.0.AppImage")), "");
  EXPECT_EQ(read_file(entry()), eight_lines("\"/home/u/My Apps/Irvelo 1.0.AppImage\" --background"));
  EXPECT_TRUE(autostart::enabled());
}

TEST_F(Autostart, FlatpakWinsOverAppImage) {
  Host host = appimage("/opt/Irvelo.AppImage");
  host.flatpak_marker = join(scratch_.path(), "flatpak-info");
  write_file(host.flatpak_marker, "[Application]\nname=com.larkspan.Irvelo\n");
  ASSERT_EQ(autostart::detail::set_enabled(true, host), "");
  EXPECT_EQ(read_file(entry()), eight_lines("flatpak run com.larkspan.Irvelo --background"));

  host.appimage.reset();
  EXPECT_EQ(autostart::detail::start_command(host), "flatpak run com.larkspan.Irvelo --background");
}

TEST_F(Autostart, HiddenOrMissingOrDamagedReadsAsOff) {
  write_entry("[Desktop Entry]\nType=Application\nHidden=true\nX-GNOME-Autostart-enabled=true\n");
  EXPECT_FALSE(autostart::enabled());

  write_entry("[Desktop Entry]\nType=Application\nExec=irvelo-desktop --background\n");
  EXPECT_FALSE(autostart::enabled()) << "an entry without X-GNOME-Autostart-enabled is off";

  write_entry("[Desktop Entry]\nX-GNOME-Autostart-enabled=false\n");
  EXPECT_FALSE(autostart::enabled());

  write_entry("[Desktop Entry]\nX-GNOME-Autostart-enabled=yes\n");
  EXPECT_FALSE(autostart::enabled()) << "an unparsable value is off";

  write_entry("[Other]\nX-GNOME-Autostart-enabled=true\n");
  EXPECT_FALSE(autostart::enabled());

  write_entry("not a key file at all\n");
  EXPECT_FALSE(autostart::enabled());

  write_entry("[Desktop Entry]\nHidden=false\nX-GNOME-Autostart-enabled=true\n");
  EXPECT_TRUE(autostart::enabled());

  write_entry("[Desktop Entry]\nHidden=nonsense\nX-GNOME-Autostart-enabled=true\n");
  EXPECT_TRUE(autostart::enabled()) << "an unparsable Hidden is not true";

  // A damaged entry is replaced by turning it on.
  write_entry("garbage\n");
  ASSERT_EQ(autostart::detail::set_enabled(true, plain()), "");
  EXPECT_EQ(read_file(entry()), eight_lines("irvelo-desktop --background"));
}

// Root ignores permission bits, so the autostart directory is made unwritable
// by a regular file standing where it should be: neither the directory nor
// "<file>/com.larkspan.Irvelo.desktop" can be created (ENOTDIR).
TEST_F(Autostart, UnwritableDirectoryReturnsTheErrorText) {
  write_file(autostart_dir(), "blocker\n");
  const std::string message = autostart::detail::set_enabled(true, plain());
  EXPECT_NE(message, "");
  EXPECT_NE(message.find(entry()), std::string::npos) << message;  // GLib names the file it tried to create
  EXPECT_NE(message.find(g_strerror(ENOTDIR)), std::string::npos) << message;
  EXPECT_EQ(read_file(autostart_dir()), "blocker\n");
  EXPECT_FALSE(autostart::enabled());
}

// The same with an existing directory and entry made read-only for this
// thread, root included (see ReadOnlyDir): the old entry stays.
TEST_F(Autostart, ReadOnlyDirectoryReturnsTheErrorTextAndKeepsTheOldEntry) {
  const std::string old_entry = "[Desktop Entry]\nHidden=true\nX-GNOME-Autostart-enabled=true\n";
  write_entry(old_entry);
  std::string on_message;
  std::string off_message;
  {
    test::ReadOnlyDir read_only(autostart_dir());
    ASSERT_TRUE(read_only.ok()) << "the directory could not be made read-only";
    on_message = autostart::detail::set_enabled(true, plain());
    off_message = autostart::detail::set_enabled(false, plain());
  }
  EXPECT_NE(on_message, "");
  EXPECT_NE(on_message.find(g_strerror(EACCES)), std::string::npos) << on_message;
  EXPECT_EQ(off_message, "cannot remove " + entry());
  EXPECT_EQ(read_file(entry()), old_entry);
}

TEST_F(Autostart, AnEntryThatCannotBeDeletedReportsIt) {
  // A non-empty directory where the entry file should be: unlinking it fails
  // (for root too), and something still exists at the path.
  ASSERT_EQ(g_mkdir_with_parents(join(entry(), "inside").c_str(), 0755), 0);
  EXPECT_EQ(autostart::set_enabled(false), "cannot remove " + entry());
  EXPECT_FALSE(autostart::enabled());
}

// --- Quoting of the AppImage path (freedesktop desktop entries, "The Exec key") ---

// What a desktop does with the Exec line: GLib's key-file reader (string
// escapes), then the field codes ("%%" is a literal "%", expanded before the
// line is split), then the shell-like argument splitting.
std::vector<std::string> exec_argv_from_entry() {
  GKeyFile* key_file = g_key_file_new();
  GError* error = nullptr;
  std::vector<std::string> out;
  if (!g_key_file_load_from_file(key_file, entry().c_str(), G_KEY_FILE_NONE, &error)) {
    ADD_FAILURE() << "the entry is no key file: " << error->message;
    g_error_free(error);
    g_key_file_unref(key_file);
    return out;
  }
  gchar* exec = g_key_file_get_string(key_file, "Desktop Entry", "Exec", &error);
  g_key_file_unref(key_file);
  if (exec == nullptr) {
    ADD_FAILURE() << "no Exec string: " << error->message;
    g_error_free(error);
    return out;
  }
  std::string expanded;
  for (const char* p = exec; *p != '\0'; ++p) {
    if (*p == '%') {
      if (p[1] != '%') {
        ADD_FAILURE() << "a field code other than %% in: " << exec;
        continue;
      }
      ++p;
    }
    expanded += *p;
  }
  g_free(exec);
  gint argc = 0;
  gchar** argv = nullptr;
  if (!g_shell_parse_argv(expanded.c_str(), &argc, &argv, &error)) {
    ADD_FAILURE() << "the Exec line does not parse: " << error->message;
    g_error_free(error);
    return out;
  }
  for (gint i = 0; i < argc; ++i) out.emplace_back(argv[i]);
  g_strfreev(argv);
  return out;
}

TEST_F(Autostart, ExampleFromTheIssueIsEscapedAndRoundTrips) {
  const std::string path = "/tmp/a\"b$c";
  ASSERT_EQ(autostart::detail::set_enabled(true, appimage(path)), "");
  EXPECT_EQ(read_file(entry()), eight_lines(R"("/tmp/a\\"b\\$c" --background)"));

  // Exactly the round trip of the issue: key-file reader, then g_shell_parse_argv.
  GKeyFile* key_file = g_key_file_new();
  ASSERT_TRUE(g_key_file_load_from_file(key_file, entry().c_str(), G_KEY_FILE_NONE, nullptr));
  gchar* exec = g_key_file_get_string(key_file, "Desktop Entry", "Exec", nullptr);
  g_key_file_unref(key_file);
  ASSERT_NE(exec, nullptr);
  EXPECT_STREQ(exec, R"("/tmp/a\"b\$c" --background)");
  gint argc = 0;
  gchar** argv = nullptr;
  ASSERT_TRUE(g_shell_parse_argv(exec, &argc, &argv, nullptr));
  g_free(exec);
  ASSERT_EQ(argc, 2);
  EXPECT_STREQ(argv[0], path.c_str());
  EXPECT_STREQ(argv[1], "--background");
  g_strfreev(argv);
}

TEST_F(Autostart, QuotingOfEachSpecialCharacter) {
  using autostart::detail::quote_exec_argument;
  EXPECT_EQ(quote_exec_argument("/opt/My Apps/x.AppImage"), "\"/opt/My Apps/x.AppImage\"");
  EXPECT_EQ(quote_exec_argument("a\"b"), R"("a\\"b")");
  EXPECT_EQ(quote_exec_argument("a`b"), R"("a\\`b")");
  EXPECT_EQ(quote_exec_argument("a$b"), R"("a\\$b")");
  EXPECT_EQ(quote_exec_argument("a\\b"), R"("a\\\\b")");
  EXPECT_EQ(quote_exec_argument("a%b"), R"("a%%b")");
  EXPECT_EQ(quote_exec_argument("a%%fb"), R"("a%%%%fb")");
  EXPECT_EQ(quote_exec_argument("a'b;c&d|e<f>g*h?i#j~k"), "\"a'b;c&d|e<f>g*h?i#j~k\"");
  EXPECT_EQ(quote_exec_argument("a\nb\rc"), R"("a\nb\rc")");
  EXPECT_EQ(quote_exec_argument(""), "\"\"");
}

TEST_F(Autostart, EveryPathRoundTripsThroughTheEntry) {
  const std::vector<std::string> paths = {
      "/opt/Irvelo.AppImage",
      "/home/u/My Apps/Irvelo 1.0.AppImage",
      "/tmp/a\"b$c",
      "/tmp/$HOME/`id`/x.AppImage",
      "/tmp/back\\slash\\\\double\\",
      "/tmp/\\\"quoted\\\"",
      "/tmp/100%/x%fy%%z%",
      "/tmp/it's; rm -rf ~ & echo |<>*?#",
      "/tmp/tab\there",
      "/tmp/new\nline\r\n.AppImage",
      "/tmp/ leading and trailing ",
      "/tmp/\xC3\xA9t\xC3\xA9/\xE2\x9C\x93.AppImage",
      "/tmp/=[group]#not-a-comment",
  };
  for (const auto& path : paths) {
    SCOPED_TRACE("path: " + path);
    ASSERT_EQ(autostart::detail::set_enabled(true, appimage(path)), "");
    const auto content = read_file(entry()).value_or("");
    // Still exactly eight lines.
    EXPECT_EQ(std::count(content.begin(), content.end(), '\n'), 8);
    EXPECT_EQ(exec_argv_from_entry(), (std::vector<std::string>{path, "--background"}));
    EXPECT_TRUE(autostart::enabled());
  }
}

// The consumer itself: GLib's desktop-entry launcher (what GNOME's session
// uses for autostart entries) runs the program at the quoted path with the
// one argument. (GLib checks that the program exists before it expands "%%",
// so this end-to-end check uses a path without a percent sign.)
TEST_F(Autostart, GlibLaunchesTheAppImageAtANastyPath) {
  const std::string dir = join(scratch_.path(), "My \"Apps\" $HOME `id` \\ 'q' ~ #x");
  ASSERT_EQ(g_mkdir_with_parents(dir.c_str(), 0755), 0);
  const std::string program = join(dir, "Irvelo 1.0.AppImage");
  const std::string out = join(scratch_.path(), "argv");
  write_file(program,
             "#!/bin/sh\nprintf '%s\\n' \"$0\" \"$@\" > '" + out + ".tmp' && mv '" + out + ".tmp' '" + out + "'\n",
             0755);
  ASSERT_EQ(autostart::detail::set_enabled(true, appimage(program)), "");

  GDesktopAppInfo* info = g_desktop_app_info_new_from_filename(entry().c_str());
  ASSERT_NE(info, nullptr) << "GLib refused the entry";
  GError* error = nullptr;
  const gboolean launched = g_app_info_launch(G_APP_INFO(info), nullptr, nullptr, &error);
  g_object_unref(info);
  ASSERT_TRUE(launched) << error->message;
  ASSERT_TRUE(test::run_until([&] { return exists(out); }));
  EXPECT_EQ(read_file(out), program + "\n--background\n");
}

}  // namespace
}  // namespace irvelo
