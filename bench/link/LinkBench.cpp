// Speed of the receive path: the receiver on memory, bytes through a pseudo-
// terminal into Receive, and capture lines formed and written to a file. The
// second argument of the receive cases switches the byte ring on (1) or off (0).

#include "capture/CaptureFormat.h"
#include "capture/CaptureWriter.h"
#include "link/Quorlink.h"
#include "serial/DeviceMap.h"

#include <QSettings>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

std::vector<std::uint8_t> Frames(std::uint8_t length, int count) {
  std::vector<std::uint8_t> bytes;
  for (int k = 0; k < count; ++k) {
    std::uint8_t sum = 0x2F;
    bytes.push_back(0x2F);
    for (int i = 0; i < length; ++i) {
      const auto b = static_cast<std::uint8_t>(k * 31 + i * 7);
      bytes.push_back(b);
      sum = static_cast<std::uint8_t>(sum + b);
    }
    bytes.push_back(static_cast<std::uint8_t>(-sum));
  }
  return bytes;
}

void ReceiverStateMachine(benchmark::State& state) {
  const auto length = static_cast<std::uint8_t>(state.range(0));
  const std::vector<std::uint8_t> stream = Frames(length, 1000);
  TQUORLINK link;
  link.Mode = 0;
  link.DataLength = length;
  link.ByteRing.SetEnabled(state.range(1) != 0);
  for (auto _ : state) {
    std::size_t i = 0;
    int status = 0;
    while (i < stream.size())
      link.ReceiveFrom([&](std::uint8_t& b) { return i < stream.size() ? (b = stream[i++], true) : false; }, status);
    benchmark::DoNotOptimize(status);
  }
  if (link.GoodFrameCount != 1000 * state.iterations()) state.SkipWithError("frames lost");
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
}
BENCHMARK(ReceiverStateMachine)->ArgsProduct({{24, 100, 253}, {0, 1}});

// A far end that keeps the pty full of frames while Receive drains it.
void PtyIntoReceive(benchmark::State& state) {
  QTemporaryDir settings;  // the COM1 mapping goes here, not into the user's settings
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
  int master = -1, slave = -1;
  char name[256] = {};
  if (openpty(&master, &slave, name, nullptr, nullptr) != 0) return state.SkipWithError("openpty failed");
  termios raw{};
  tcgetattr(master, &raw);
  cfmakeraw(&raw);
  tcsetattr(master, TCSANOW, &raw);
  fcntl(master, F_SETFL, O_NONBLOCK);  // a blocking tty write waits for all its bytes

  const auto length = static_cast<std::uint8_t>(state.range(0));
  TQUORLINK link;
  link.Mode = 0;
  link.DataLength = length;
  link.PortNumber = 1;
  link.ByteRing.SetEnabled(state.range(1) != 0);
  if (!SetComDevicePath(1, name) || link.Open() != 1) return state.SkipWithError("cannot open the pty");

  std::atomic<bool> stop{false};
  std::thread farEnd([&] {
    const std::vector<std::uint8_t> stream = Frames(length, 200);
    std::size_t at = 0;
    while (!stop) {
      pollfd p{master, POLLOUT, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      const ssize_t n = write(master, stream.data() + at, stream.size() - at);
      if (n > 0) at = (at + static_cast<std::size_t>(n)) % stream.size();
    }
  });
  int status = 0;
  for (auto _ : state) {
    while (link.Receive(status) != 1) {}
  }
  stop = true;
  farEnd.join();
  link.Close();
  close(master);
  close(slave);
  if (status != 0) state.SkipWithError("bad frame");
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * (length + 2)));
  state.counters["frames/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(PtyIntoReceive)->ArgsProduct({{24, 100}, {0, 1}})->UseRealTime();

void CaptureLines(benchmark::State& state) {
  char path[] = "/tmp/quorlink-bench-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return state.SkipWithError("mkstemp failed");
  close(fd);
  TCaptureWriter writer;
  if (!writer.StartLog(path)) return state.SkipWithError(writer.LastError().c_str());
  std::uint8_t record[256];
  for (int i = 0; i < 256; ++i) record[i] = static_cast<std::uint8_t>(i * 13);
  const auto length = static_cast<std::uint8_t>(state.range(0));
  for (auto _ : state) {
    if (!writer.LogFrame(0, length, record)) state.SkipWithError(writer.LastError().c_str());
  }
  writer.CloseLog();
  unlink(path);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(CaptureLines)->Arg(24)->Arg(255)->UseRealTime();

void FormatRecordLine(benchmark::State& state) {
  std::uint8_t record[256] = {};
  char line[CaptureFormat::RecordLineMax];
  const auto length = static_cast<std::uint8_t>(state.range(0));
  for (auto _ : state) {
    benchmark::DoNotOptimize(CaptureFormat::FormatRecordLine(line, 12, 34, 56, 789, 0, length, record));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(FormatRecordLine)->Arg(24)->Arg(255);

}  // namespace

BENCHMARK_MAIN();
