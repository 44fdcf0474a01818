// What the windows show of a receiving link: the ring of the last bytes read,
// with what the receiver made of each, and the quiet time and figures.

#include "LinkOnPty.h"
#include "link/LinkFigures.h"
#include "link/RxByteRing.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

using Bytes = std::vector<std::uint8_t>;
using Entries = std::vector<TRxByteRing::TEntry>;

namespace {

Entries Kept(const TRxByteRing& ring, std::uint64_t from = 0) {
  Entries out(TRxByteRing::Capacity);
  out.resize(ring.Copy(from, out.data(), out.size()));
  return out;
}

void ReceiveAll(TQUORLINK& link) {
  int status = 0;
  while (link.Receive(status)) {}
}

}  // namespace

// Over a real terminal: a stray byte, a good frame, a frame with a bad
// checksum, one cut short by a lowered length, and the start of the next.
TEST(RxByteRing, HoldsEveryByteReadWithWhatTheReceiverMadeOfIt) {
  LinkOnPty t(0);
  t.Link.DataLength = 4;
  t.Link.ByteRing.SetEnabled(true);
  const Bytes good = Frame({1, 2, 3, 4});
  Bytes bad = Frame({5, 6, 7, 8});
  bad.back() ^= 0x40;
  const Bytes stray{0x55, 0x00};
  t.Send(stray + good + bad);
  ReceiveAll(t.Link);
  const Bytes cut{0x2F, 9, 9};
  t.Send(cut);
  ReceiveAll(t.Link);
  t.Link.DataLength = 0;  // the frame being collected can no longer end well
  t.Send({9, 9});
  ReceiveAll(t.Link);
  t.Link.DataLength = 4;
  t.Send({0x2F, 1});
  ReceiveAll(t.Link);

  const Bytes sent = stray + good + bad + cut + Bytes{9, 9, 0x2F, 1};
  const Entries kept = Kept(t.Link.ByteRing);
  ASSERT_EQ(kept.size(), sent.size());
  EXPECT_EQ(t.Link.ByteRing.Count(), sent.size());
  // Per byte: s stray, [ frame start, . data, g good end, c checksum error,
  // l length error; then the frame each belongs to: s stray, g good,
  // c checksum error, l length error, r still being received.
  const std::string marks = "ss[....g[....c[...l[.";
  const std::string kinds = "ssggggggcccccclllllrr";
  const auto markOf = [](char c) { return static_cast<TRxByteRing::TMark>(std::string(".s[gcl").find(c)); };
  const auto kindOf = [](char c) { return static_cast<TRxFrameKind>(std::string("sgclr").find(c)); };
  std::vector<TRxFrameKind> found(kept.size());
  ClassifyFrames(kept.data(), kept.size(), found.data());
  for (std::size_t i = 0; i < kept.size(); ++i) {
    EXPECT_EQ(kept[i].Index, i);
    EXPECT_EQ(kept[i].Byte, sent[i]) << "byte " << i;
    EXPECT_EQ(kept[i].Mark, markOf(marks[i])) << "byte " << i;
    EXPECT_EQ(found[i], kindOf(kinds[i])) << "byte " << i;
    if (i > 0) {
      EXPECT_LE(kept[i - 1].TimeUs, kept[i].TimeUs);
    }
  }
  char text[64];
  EXPECT_EQ(std::string(text, FormatRxBytes(kept.data(), 9, text, sizeof text)), "55 00|2F 01 02 03 04 C7|2F");
  EXPECT_EQ(std::string(text, FormatRxBytes(kept.data(), 9, text, 7)), "55 00");  // whole bytes only
  // A run that starts inside a frame still knows it by the frame's end.
  ClassifyFrames(kept.data() + 10, 4, found.data());
  EXPECT_EQ(found[0], TRxFrameKind::ChecksumError);

  // Switched off, the receiver leaves it alone.
  t.Link.ByteRing.SetEnabled(false);
  t.Link.DataLength = 4;
  t.Send(good);
  ReceiveAll(t.Link);
  EXPECT_EQ(t.Link.ByteRing.Count(), sent.size());
}

TEST(RxByteRing, KeepsTheNewestBytesAndCopiesFromAnyIndex) {
  TRxByteRing ring;
  const std::uint64_t total = TRxByteRing::Capacity * 2 + 100;
  for (std::uint64_t i = 0; i < total; ++i) ring.Push(static_cast<std::uint8_t>(i * 7), TRxByteRing::Data, 0);
  Entries kept = Kept(ring);
  ASSERT_EQ(kept.size(), TRxByteRing::Capacity);
  EXPECT_EQ(kept.front().Index, total - TRxByteRing::Capacity);
  EXPECT_EQ(kept.back().Byte, static_cast<std::uint8_t>((total - 1) * 7));
  kept = Kept(ring, total - 3);
  ASSERT_EQ(kept.size(), 3u);
  EXPECT_EQ(kept[0].Index, total - 3);
  EXPECT_EQ(kept[0].Byte, static_cast<std::uint8_t>((total - 3) * 7));
  EXPECT_TRUE(Kept(ring, total).empty());
}

// A reader copying while the writer laps the ring never gets an entry whose
// contents belong to another index.
TEST(RxByteRing, CopiesAreWholeWhileTheWriterRuns) {
  TRxByteRing ring;
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    for (std::uint64_t i = 0; !stop.load(std::memory_order_relaxed); ++i)
      ring.Push(static_cast<std::uint8_t>(i), static_cast<TRxByteRing::TMark>(i % 6), static_cast<std::int64_t>(i));
  });
  Entries out(TRxByteRing::Capacity);
  std::size_t copies = 0, overlapped = 0, torn = 0;
  // Until enough copies ran while the writer wrote, which a busy machine
  // makes rare; the deadline only keeps a stuck writer from hanging the test.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (overlapped < 5000 && std::chrono::steady_clock::now() < deadline) {
    // The oldest bytes kept, the very slots the writer overwrites next; now
    // and then all of them.
    const std::uint64_t before = ring.Count();
    const std::size_t n = ring.Copy(0, out.data(), copies % 64 == 0 ? out.size() : 8);
    if (ring.Count() != before) ++overlapped;
    for (std::size_t i = 0; i < n; ++i) {
      const auto& e = out[i];
      if (e.TimeUs != static_cast<std::int64_t>(e.Index) || e.Byte != static_cast<std::uint8_t>(e.Index) ||
          e.Mark != static_cast<TRxByteRing::TMark>(e.Index % 6) || (i > 0 && e.Index != out[i - 1].Index + 1))
        ++torn;
    }
    ++copies;
  }
  stop = true;
  writer.join();
  EXPECT_EQ(torn, 0u) << copies << " copies, " << overlapped << " while writing";
}

TEST(LinkFigures, QuietTimeAndCountsSinceOpenPort) {
  using namespace std::chrono_literals;
  TQUORLINK link;
  link.Mode = 0;
  link.DataLength = 2;
  TLinkFigures figures(link);
  const auto feed = [&](const Bytes& bytes) {
    std::size_t at = 0;
    int status = 0;
    while (at < bytes.size())
      link.ReceiveFrom([&](std::uint8_t& b) { return at < bytes.size() ? (b = bytes[at++], true) : false; }, status);
  };
  feed(Frame({1, 2}));  // before Open Port: not counted
  const auto t0 = TLinkFigures::Clock::now();
  EXPECT_FALSE(figures.Quiet(t0 + 1h));  // not started: nothing is expected
  figures.Restart(t0);
  EXPECT_FALSE(figures.Quiet(t0 + 1000ms));
  EXPECT_TRUE(figures.Quiet(t0 + 1001ms));  // no frame since the port opened
  EXPECT_EQ(figures.QuietFor(t0 + 12s), 12s);

  Bytes bad = Frame({3, 4});
  bad.back() ^= 1;
  feed(Frame({1, 2}) + bad + Frame({5, 6}) + Frame({7, 8}));
  const TLinkFigures::Clock::time_point last{std::chrono::nanoseconds(link.LastGoodFrameTime.load())};
  ASSERT_GE(last, t0);
  EXPECT_FALSE(figures.Quiet(last + 1000ms));
  EXPECT_TRUE(figures.Quiet(last + 1500ms));

  figures.Sample(t0 + 2s);
  EXPECT_EQ(figures.GoodFrames(), 3u);
  EXPECT_EQ(figures.ChecksumErrors(), 1u);
  EXPECT_EQ(figures.LengthErrors(), 0u);
  EXPECT_DOUBLE_EQ(figures.FramesPerSecond(), 1.5);
  feed(Frame({1, 2}));
  figures.Sample(t0 + 2500ms);
  EXPECT_DOUBLE_EQ(figures.FramesPerSecond(), 2.0);  // over the half second since the last sample

  figures.Stop();
  EXPECT_FALSE(figures.Quiet(t0 + 1h));
  figures.Restart(t0 + 3s);
  EXPECT_EQ(figures.GoodFrames(), 0u);

  EXPECT_EQ(TLinkFigures::AgeText(12s), "12 s");
  EXPECT_EQ(TLinkFigures::AgeText(119999ms), "119 s");
  EXPECT_EQ(TLinkFigures::AgeText(125min), "2 h");
  EXPECT_EQ(TLinkFigures::AgeText(3min), "3 min");
  // A window that redraws the age only at its steps misses no new text.
  for (const long long s : {1, 59, 119, 120, 179, 180, 7199, 7200, 10799, 10800}) {
    const long long from = s - s % TLinkFigures::AgeStep(s);
    EXPECT_EQ(TLinkFigures::AgeText(std::chrono::seconds(from)), TLinkFigures::AgeText(std::chrono::seconds(s))) << s;
    EXPECT_NE(TLinkFigures::AgeText(std::chrono::seconds(from - 1)), TLinkFigures::AgeText(std::chrono::seconds(from)))
        << s;
  }
}
