#pragma once
// The test's own view of a terminal's line, through a descriptor it opened
// itself: the rate as the kernel keeps it (termios2), independent of the port.

struct LineRate {
  long OutputRate = -1;     // bits per second
  bool CustomRate = false;  // set through BOTHER rather than a B-constant
};

LineRate ProbeLineRate(int fd);
