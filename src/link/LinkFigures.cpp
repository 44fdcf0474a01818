#include "link/LinkFigures.h"

#include "link/Quorlink.h"

TLinkFigures::TLinkFigures(const TQUORLINK& link) : Link(link) {}

TLinkFigures::TCounts TLinkFigures::Read() const {
  return {Link.GoodFrameCount.load(), Link.ChecksumErrorCount.load(), Link.LengthErrorCount.load()};
}

void TLinkFigures::Restart(Clock::time_point now) {
  Running = true;
  StartedAt = SampledAt = now;
  AtStart = Now = Read();
  Rate = 0;
}

void TLinkFigures::Stop() { Running = false; }

void TLinkFigures::Sample(Clock::time_point now) {
  if (!Running) return;
  const TCounts counts = Read();
  const double seconds = std::chrono::duration<double>(now - SampledAt).count();
  if (seconds > 0) Rate = static_cast<std::uint32_t>(counts.Good - Now.Good) / seconds;
  Now = counts;
  SampledAt = now;
}

TLinkFigures::Clock::duration TLinkFigures::QuietFor(Clock::time_point now) const {
  if (!Running) return Clock::duration::zero();
  Clock::time_point since = StartedAt;
  const Clock::time_point lastGood{
      std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(Link.LastGoodFrameTime.load()))};
  if (lastGood > since) since = lastGood;
  return now > since ? now - since : Clock::duration::zero();
}

std::string TLinkFigures::AgeText(Clock::duration age) {
  const long long s = std::chrono::duration_cast<std::chrono::seconds>(age).count();
  if (s < 120) return std::to_string(s) + " s";
  if (s < 120 * 60) return std::to_string(s / 60) + " min";
  return std::to_string(s / 3600) + " h";
}

long long TLinkFigures::AgeStep(long long seconds) { return seconds < 120 ? 1 : seconds < 120 * 60 ? 60 : 3600; }
