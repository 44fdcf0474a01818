#pragma once
// TLinkFigures is the receiving link as the windows report it: how long no
// good frame has come, frames per second, and the receive events by kind since
// the port was opened. It lives in the GUI thread and only reads the link's
// counters, which the worker thread keeps.

#include <chrono>
#include <cstdint>
#include <string>

class TQUORLINK;

class TLinkFigures {
public:
  using Clock = std::chrono::steady_clock;
  // A link with no good frame for longer than this is quiet.
  static constexpr std::chrono::milliseconds QuietAfter{1000};

  explicit TLinkFigures(const TQUORLINK& link);

  // Open Port: the counts start from zero and the quiet time from now.
  void Restart(Clock::time_point now);
  // Close Port: nothing is expected any more, so nothing is quiet.
  void Stop();
  bool Started() const { return Running; }

  // Takes the counters; the frame rate is that of the good frames since the
  // sample before. The windows sample once a second.
  void Sample(Clock::time_point now);

  // How long no good frame has come: since the last one, or since Restart
  // when none has come since. Zero while stopped.
  Clock::duration QuietFor(Clock::time_point now) const;
  bool Quiet(Clock::time_point now) const { return QuietFor(now) > QuietAfter; }

  // A quiet time as people say it: "12 s", "3 min", "2 h" (whole units, rounded down).
  static std::string AgeText(Clock::duration age);
  // The whole seconds an age is shown in: an age text stays the same from a
  // multiple of its step up to the next one (seconds, then minutes, then hours).
  static long long AgeStep(long long seconds);

  // As of the last Sample, counted since Restart.
  double FramesPerSecond() const { return Rate; }
  std::uint32_t GoodFrames() const { return Now.Good - AtStart.Good; }
  std::uint32_t ChecksumErrors() const { return Now.Checksum - AtStart.Checksum; }
  std::uint32_t LengthErrors() const { return Now.Length - AtStart.Length; }

private:
  struct TCounts {
    std::uint32_t Good = 0, Checksum = 0, Length = 0;
  };
  TCounts Read() const;

  const TQUORLINK& Link;
  bool Running = false;
  Clock::time_point StartedAt{}, SampledAt{};
  TCounts AtStart, Now;
  double Rate = 0;
};
