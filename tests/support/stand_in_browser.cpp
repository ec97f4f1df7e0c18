#include "support/stand_in_browser.hpp"

#include <glib.h>
#include <glib/gstdio.h>

#include <fstream>

namespace irvelo::test {

namespace {

void write_file(const std::string& path, const std::string& text) {
  std::ofstream(path) << text;
}

}  // namespace

void install_browser(const std::string& data_home) {
  const std::string applications = data_home + "/applications";
  g_mkdir_with_parents(applications.c_str(), 0700);
  const std::string script = data_home + "/browser";
  const std::string out = "'" + data_home + "/browser";
  write_file(script, "#!/bin/sh\nenv > " + out + "-env.part'\nmv " + out + "-env.part' " + out +
                         "-env'\nprintf '%s' \"$1\" > " + out + "-uri.part'\nmv " + out + "-uri.part' " + out +
                         "-uri'\n");
  g_chmod(script.c_str(), 0700);
  write_file(applications + "/stand-in-browser.desktop",
             "[Desktop Entry]\nType=Application\nName=Stand-in browser\nExec=" + script +
                 " %u\nMimeType=x-scheme-handler/http;x-scheme-handler/https;\n");
  write_file(applications + "/mimeapps.list",
             "[Default Applications]\nx-scheme-handler/http=stand-in-browser.desktop\n"
             "x-scheme-handler/https=stand-in-browser.desktop\n");
}

}  // namespace irvelo::test
