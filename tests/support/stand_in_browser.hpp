#pragma once

// A stand-in web browser for tests that open addresses: a desktop entry that
// is the default handler for http and https addresses in a data directory.

#include <string>

namespace irvelo::test {

// Installs the stand-in into `data_home` (use it as XDG_DATA_HOME). Each
// start writes the environment it got to `data_home`/browser-env and the
// address to `data_home`/browser-uri, each file complete when it appears.
void install_browser(const std::string& data_home);

}  // namespace irvelo::test
