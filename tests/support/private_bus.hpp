#pragma once

#include <string>

namespace irvelo::test {

// A dbus-daemon of the test's own, started with the session configuration and
// stopped by process id on destruction. Used where a test needs a bus that
// nothing else in the process has touched (a stand-in system bus, say).
class PrivateBus {
 public:
  PrivateBus();
  ~PrivateBus();
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;

  [[nodiscard]] const std::string& address() const { return address_; }
  [[nodiscard]] int pid() const { return pid_; }

 private:
  int pid_ = -1;
  std::string address_;
};

}  // namespace irvelo::test
