#include "usb/serial_line.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace quillon::serial_line {

void configure(int fd) {
  termios options{};
  tcgetattr(fd, &options);
  cfsetispeed(&options, B115200);
  cfsetospeed(&options, B115200);
  options.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | PARENB | CRTSCTS);
  options.c_cflag |= CS8 | CLOCAL | CREAD;
  options.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHOE | ISIG);
  options.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  // Linux starts a tty with ICRNL and IXON: a binary reply would have its 0x0D
  // bytes turned into 0x0A and its 0x11/0x13 bytes swallowed.
  options.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                            ICRNL | IXON | IXOFF | IXANY);
  tcsetattr(fd, TCSANOW, &options);

  int modemBits = 0;
  ioctl(fd, TIOCMGET, &modemBits);
  modemBits |= TIOCM_DTR | TIOCM_RTS;
  ioctl(fd, TIOCMSET, &modemBits);
}

size_t readWithin(int fd, int timeoutMs, size_t maxBytes, std::vector<uint8_t>& out) {
  pollfd waiter{fd, POLLIN, 0};
  int ready;
  do {
    ready = poll(&waiter, 1, timeoutMs);
  } while (ready < 0 && errno == EINTR);
  if (ready <= 0 || (waiter.revents & POLLIN) == 0) return 0;

  const size_t before = out.size();
  out.resize(before + maxBytes);
  ssize_t got;
  do {
    got = read(fd, out.data() + before, maxBytes);
  } while (got < 0 && errno == EINTR);
  out.resize(before + (got > 0 ? static_cast<size_t>(got) : 0));
  return got > 0 ? static_cast<size_t>(got) : 0;
}

}  // namespace quillon::serial_line
