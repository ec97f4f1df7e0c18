#pragma once

// The inside of autostart.hpp, for autostart.cpp and its tests only: the
// application's code calls autostart::enabled() and autostart::set_enabled().
// The packaging probes (the flatpak marker file and APPIMAGE) are inputs here,
// so tests can give them without touching "/" or the process environment.

#include <optional>
#include <string>
#include <string_view>

namespace irvelo::autostart::detail {

// How the running program was packaged, as the start command depends on it.
struct Host {
  std::string flatpak_marker = "/.flatpak-info";  // its existence means: inside a flatpak sandbox
  std::optional<std::string> appimage;            // the value of APPIMAGE when set

  // The real system: "/.flatpak-info" and the environment variable APPIMAGE.
  [[nodiscard]] static Host current();
};

// The entry path: the user configuration directory / "autostart" / "com.larkspan.Irvelo.desktop".
[[nodiscard]] std::string path();

// `argument` as one double-quoted argument of an Exec line, written as it must
// appear in the file: the freedesktop desktop-entry quoting (backslash
// before '"', '`', '$' and '\\'; '%' doubled), then its string escaping on top
// (every backslash doubled; newline and carriage return as \n and \r, which a
// line cannot hold otherwise).
[[nodiscard]] std::string quote_exec_argument(std::string_view argument);

// The command after "Exec=": flatpak, else AppImage, else the plain command.
[[nodiscard]] std::string start_command(const Host& host);

// The whole entry, eight lines.
[[nodiscard]] std::string entry_content(const Host& host);

[[nodiscard]] std::string set_enabled(bool on, const Host& host);

}  // namespace irvelo::autostart::detail
