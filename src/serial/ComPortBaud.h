#pragma once
// Line rates without a B-constant (31250, 250000, ...) go through termios2.
// The kernel's termios2 header clashes with <termios.h>, so this lives in a
// file of its own and speaks plain integers.

namespace ComPortBaud {

// Sets input and output rate of the open terminal fd to rate bits per second
// and leaves every other setting as it is. Returns 0, or the errno value.
int SetRate(int fd, int rate);

// The output rate the driver reports now, in bits per second; -1 with errno set
// when it cannot be read.
long ReadRate(int fd);

}  // namespace ComPortBaud
