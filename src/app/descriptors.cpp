#include "app/descriptors.hpp"

#include <fcntl.h>
#include <unistd.h>

namespace irvelo::descriptors {

bool hold_standard() {
  bool output_open = true;
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1) continue;
    if (fd == 1) output_open = false;
    // The lowest free number: this one, as the lower ones are open by now.
    const int null = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (null >= 0 && null != fd) {
      dup2(null, fd);
      close(null);
    }
  }
  return output_open;
}

}  // namespace irvelo::descriptors
