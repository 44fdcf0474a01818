#include "LineProbe.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

LineRate ProbeLineRate(int fd) {
  struct termios2 t {};
  LineRate rate;
  if (ioctl(fd, TCGETS2, &t) != 0) return rate;
  rate.OutputRate = static_cast<long>(t.c_ospeed);
  rate.CustomRate = (t.c_cflag & CBAUD) == BOTHER;
  return rate;
}
