// The capture index against a brute-force model: random captures with
// midnight rollovers, clocks set back, header blocks, damaged and blank lines
// and every line end, where the generator knows each line's true time and
// segment. Whatever the index answers (lines, steps, nearest line, plotted
// points, markers, records) is held against a plain search of those lines.

#include "capture/CaptureIndex.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>
#include <vector>

namespace {

using Stamp = CaptureIndex::Stamp;
constexpr Stamp Day = CaptureFormat::DayMs;

struct TrueLine {
  long long Number = 0;
  Stamp Time = 0;
  int Segment = 0;
  int Status = 0;
  std::vector<std::uint8_t> Data;
  std::string Text;
};

struct Capture {
  std::string Contents;
  std::vector<TrueLine> Records;
  std::vector<long long> Damaged;
  int Segments = 0;
  long long Lines = 0;
  int Headers = 0;
  Stamp Modified = 0;  // for a capture without a dated header
};

QDateTime DateTimeOf(Stamp s) {
  return QDateTime(QDate(1970, 1, 1).addDays(s / Day), QTime::fromMSecsSinceStartOfDay(static_cast<int>(s % Day)),
                   Qt::UTC);
}

Capture Generate(unsigned seed) {
  std::mt19937 rng(seed);
  const auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  Capture c;
  const char* ends[] = {"\r\n", "\n", "\r"};
  const std::string end = ends[pick(3)];
  Stamp t = (20000 + pick(400)) * Day + (pick(2) ? Day - 20000 - pick(20000) : pick(int(Day)));
  bool have = false, dated = false, blank = false;
  Stamp previous = 0;
  std::uint8_t value[120] = {};
  const auto add = [&](const std::string& text) {
    c.Contents += text + end;
    ++c.Lines;
    blank = text.empty();
  };
  const auto header = [&](Stamp at) {
    at -= at % 1000;
    t = at;
    std::string h = CaptureFormat::FormatHeader(DateTimeOf(at).toLocalTime());
    h = h.substr(0, h.find('\r'));
    add(h);
    add(CaptureFormat::ColumnLine);
    ++c.Headers;
    dated = true;
  };
  if (pick(3) > 0) header(t);
  const int count = 150 + pick(350);
  for (int i = 0; i < count; ++i) {
    const int what = pick(100);
    if (what < 3 && t % Day > 0) {
      t -= 1 + pick(int(std::min<Stamp>(t % Day, 22 * 3600000LL)));  // the clock set back
    } else if (what < 5) {
      // A later capture, or (once the file is dated) one of the day before.
      header(pick(3) || !dated ? t + pick(5000) : t - Day);
    } else if (what < 8) {
      const char* garbage[] = {"garbage", "12:00:00:000 0      3   >01 02<", "12:00:0",
                               "25:00:00:000 0      1   >00 <"};
      add(pick(5) ? garbage[pick(4)] : std::string(1500, 'x'));
      c.Damaged.push_back(c.Lines);
      continue;
    } else if (what < 10) {
      if (pick(2)) {
        add("");
      } else {
        add("Log Start whenever");  // a header without a readable date changes nothing
        ++c.Headers;
      }
      continue;
    } else {
      t += pick(10) ? pick(900) : pick(40000);
    }
    // Close to midnight; a file can't tell a jump of a day or more from a step back.
    if (pick(40) == 0 && t % Day > 2 * 3600000 && t % Day < Day - 15000) t += Day - 15000 - (t % Day);
    TrueLine r;
    r.Time = t;
    r.Status = pick(8) ? 0 : std::vector<int>{1, 2, 3, 7}[static_cast<std::size_t>(pick(4))];
    const int length = pick(6) ? 24 : pick(121);
    for (int b = 0; b < length; ++b) {
      if (r.Status == 0) value[b] = static_cast<std::uint8_t>(pick(20) ? value[b] + pick(9) - 4 : pick(256));
      r.Data.push_back(value[b]);
    }
    if (have && r.Time < previous) ++c.Segments;
    if (!have) c.Segments = 1;
    r.Segment = c.Segments - 1;
    have = true;
    previous = r.Time;
    char text[CaptureFormat::RecordLineMax];
    const std::size_t n = CaptureFormat::FormatRecordLine(text, static_cast<int>(t % Day), r.Status,
                                                          static_cast<std::uint8_t>(length), r.Data.data());
    r.Text.assign(text, n - 2);
    add(r.Text);
    r.Number = c.Lines;
    c.Records.push_back(r);
  }
  if (pick(2) && !blank) c.Contents.resize(c.Contents.size() - end.size());  // no line end after the last line
  c.Modified = previous + 60000;
  return c;
}

int ValueOf(const CaptureIndex::Value& v, const TrueLine& r) {
  return v.Flag ? ((r.Data[static_cast<std::size_t>(v.Byte)] & v.Mask) ? 1 : 0)
                : r.Data[static_cast<std::size_t>(v.Byte)];
}

void ExpectSame(const CaptureIndex::Line& got, const TrueLine& want) {
  EXPECT_EQ(got.Number, want.Number);
  EXPECT_EQ(got.Time, want.Time) << "line " << want.Number;
  EXPECT_EQ(got.Segment, want.Segment) << "line " << want.Number;
  EXPECT_EQ(got.Record.Status, want.Status);
  ASSERT_EQ(got.Record.Length, static_cast<int>(want.Data.size()));
  EXPECT_TRUE(std::equal(want.Data.begin(), want.Data.end(), got.Record.Data));
  EXPECT_EQ(got.Text, want.Text);
}

class CaptureIndexModel : public ::testing::TestWithParam<int> {
protected:
  static void SetUpTestSuite() {
    qputenv("TZ", "UTC");
    tzset();
  }
};

}  // namespace

TEST_P(CaptureIndexModel, AnswersAsABruteForceSearchOfTheLines) {
  QTemporaryDir dir;
  for (unsigned seed = 1; seed <= 40; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    const Capture c = Generate(seed * 7919u + static_cast<unsigned>(GetParam()));
    const QString path = dir.filePath(QStringLiteral("capture%1.txt").arg(seed));
    {
      QFile f(path);
      ASSERT_TRUE(f.open(QIODevice::WriteOnly));
      f.write(c.Contents.data(), static_cast<qint64>(c.Contents.size()));
      f.setFileTime(DateTimeOf(c.Modified), QFileDevice::FileModificationTime);
    }
    CaptureIndex index;
    CaptureIndex::Options options;
    options.BlockLines = 4;
    options.Parts = GetParam();
    ASSERT_EQ(index.Build(path.toStdString(), options), CaptureIndex::Result::Built) << index.Error();

    // Figures and damaged lines.
    const CaptureIndex::Summary& totals = index.Totals();
    EXPECT_EQ(totals.Lines, c.Lines);
    EXPECT_EQ(totals.Records, static_cast<long long>(c.Records.size()));
    long long errors[CaptureIndex::ErrorKinds] = {}, good = 0;
    for (const TrueLine& r : c.Records) r.Status ? ++errors[CaptureIndex::KindOf(r.Status)] : ++good;
    EXPECT_EQ(totals.Good, good);
    for (int k = 0; k < CaptureIndex::ErrorKinds; ++k) EXPECT_EQ(totals.Errors[k], errors[k]);
    std::vector<long long> damaged;
    for (const CaptureIndex::Damaged& d : index.DamagedLines()) {
      damaged.push_back(d.Line);
      EXPECT_FALSE(d.Reason.empty());
    }
    EXPECT_EQ(damaged, c.Damaged);
    Stamp gap = 0;
    for (std::size_t i = 1, last = 0; i < c.Records.size(); ++i) {
      if (c.Records[i].Status != 0) continue;
      if (c.Records[last].Status == 0 && c.Records[last].Segment == c.Records[i].Segment)
        gap = std::max(gap, c.Records[i].Time - c.Records[last].Time);
      last = i;
    }
    EXPECT_EQ(totals.LongestGap, gap);

    // Segments.
    ASSERT_EQ(index.Segments().size(), static_cast<std::size_t>(c.Segments));
    std::vector<std::vector<TrueLine>> bySegment(static_cast<std::size_t>(c.Segments));
    for (const TrueLine& r : c.Records) bySegment[static_cast<std::size_t>(r.Segment)].push_back(r);
    for (int s = 0; s < c.Segments; ++s) {
      const CaptureIndex::Segment& got = index.Segments()[static_cast<std::size_t>(s)];
      const std::vector<TrueLine>& lines = bySegment[static_cast<std::size_t>(s)];
      EXPECT_EQ(got.First, lines.front().Time);
      EXPECT_EQ(got.Last, lines.back().Time);
      EXPECT_EQ(got.FirstLine, lines.front().Number);
      EXPECT_EQ(got.Records, static_cast<long long>(lines.size()));
    }

    // Stepping through every line and every error, both ways.
    CaptureIndex::Line line;
    ASSERT_TRUE(index.First(line));
    for (std::size_t i = 0; i < c.Records.size(); ++i) {
      ExpectSame(line, c.Records[i]);
      EXPECT_EQ(index.Step(line, true, false, line), i + 1 < c.Records.size());
    }
    for (std::size_t i = c.Records.size(); i-- > 1;) {
      ASSERT_TRUE(index.Step(line, false, false, line));
      EXPECT_EQ(line.Number, c.Records[i - 1].Number);
    }
    std::vector<long long> errorLines, stepped;
    for (const TrueLine& r : c.Records)
      if (r.Status) errorLines.push_back(r.Number);
    for (bool more = index.First(line) && (line.Record.Status || index.Step(line, true, true, line)); more;
         more = index.Step(line, true, true, line))
      stepped.push_back(line.Number);
    EXPECT_EQ(stepped, errorLines);
    EXPECT_EQ(index.Error(), "");

    std::mt19937 rng(seed);
    const auto pick = [&](Stamp n) {
      return static_cast<Stamp>(rng() % static_cast<std::uint64_t>(std::max<Stamp>(n, 1)));
    };
    for (int q = 0; q < 40; ++q) {
      const int s = static_cast<int>(pick(c.Segments));
      const std::vector<TrueLine>& lines = bySegment[static_cast<std::size_t>(s)];
      const Stamp first = lines.front().Time, span = lines.back().Time - first + 2000;
      Stamp from = first - 1000 + pick(span), to = from + pick(q % 2 ? span / 8 : span);
      const int columns = 1 + static_cast<int>(pick(60));
      const double width = static_cast<double>(std::max<Stamp>(to - from, 1)) / columns;
      const double near = 2 * width;

      // The nearest line.
      const TrueLine* best = nullptr;
      for (const TrueLine& r : lines)
        if (!best || std::llabs(r.Time - from) < std::llabs(best->Time - from)) best = &r;
      ASSERT_TRUE(index.Nearest(s, from, line));
      ExpectSame(line, *best);

      // The records of a range.
      std::vector<long long> want, got;
      for (const TrueLine& r : lines)
        if (r.Time >= from && r.Time <= to) want.push_back(r.Number);
      index.Records(s, from, to, [&](const CaptureIndex::Line& l) {
        got.push_back(l.Number);
        return true;
      });
      EXPECT_EQ(got, want);

      // Plotted points of a byte or a flag.
      CaptureIndex::Value v;
      if (q % 3 == 0) {
        v = {21 + static_cast<int>(pick(3)), static_cast<std::uint8_t>(1 << pick(8)), true};
      } else {
        v.Byte = q % 3 == 1 ? static_cast<int>(pick(24)) : static_cast<int>(pick(110));
      }
      std::vector<const TrueLine*> frames, inside;
      const TrueLine *before = nullptr, *after = nullptr;
      for (const TrueLine& r : lines) {
        if (r.Status || static_cast<int>(r.Data.size()) <= v.Byte) continue;
        frames.push_back(&r);
        if (r.Time < from) before = &r;
        if (r.Time > to && !after) after = &r;
        if (r.Time >= from && r.Time <= to) inside.push_back(&r);
      }
      std::vector<CaptureIndex::Point> points;
      ASSERT_TRUE(index.Points(v, s, from, to, columns, points)) << index.Error();
      if (v.Byte >= 100) {
        EXPECT_TRUE(points.empty());
        continue;
      }
      for (std::size_t i = 1; i < points.size(); ++i) EXPECT_LE(points[i - 1].Time, points[i].Time);
      // Every point is a value some good frame near it had...
      for (const CaptureIndex::Point& p : points)
        EXPECT_TRUE(std::any_of(frames.begin(), frames.end(),
                                [&](const TrueLine* r) {
                                  return ValueOf(v, *r) == p.Y &&
                                         std::abs(static_cast<double>(r->Time - p.Time)) <= near;
                                }))
            << "point at " << p.Time << " value " << p.Y;
      // ...and no frame in view is lower or higher than every point near it.
      for (const TrueLine* r : inside) {
        const int y = ValueOf(v, *r);
        bool low = false, high = false;
        for (const CaptureIndex::Point& p : points) {
          if (std::abs(static_cast<double>(r->Time - p.Time)) > near) continue;
          low = low || p.Y <= y;
          high = high || p.Y >= y;
        }
        EXPECT_TRUE(low && high) << "frame on line " << r->Number << " lost";
      }
      // The line reaches both edges and is broken where frames are far apart.
      if (before) {
        EXPECT_LT(points.front().Time, from);
      }
      if (after) {
        EXPECT_GT(points.back().Time, to);
      }
      for (std::size_t i = 1; i < frames.size(); ++i) {
        const Stamp a = frames[i - 1]->Time, b = frames[i]->Time;
        if (b - a <= CaptureIndex::GapMs + 2 * width || b < from || a > to) continue;
        for (std::size_t j = 1; j < points.size(); ++j)
          EXPECT_FALSE(!points[j].Break && points[j - 1].Time <= a && points[j].Time >= b)
              << "joined across the gap after line " << frames[i - 1]->Number;
      }
      // Few enough frames: every one, as it is.
      const long long good = std::count_if(lines.begin(), lines.end(), [](const TrueLine& r) { return !r.Status; });
      if (good <= 4LL * columns && inside.size() <= 2u * columns) {
        std::vector<const TrueLine*> every(inside);
        if (before) every.insert(every.begin(), before);
        if (after) every.push_back(after);
        ASSERT_EQ(points.size(), every.size());
        for (std::size_t i = 0; i < every.size(); ++i) {
          EXPECT_EQ(points[i].Time, every[i]->Time);
          EXPECT_EQ(points[i].Y, ValueOf(v, *every[i]));
          EXPECT_EQ(points[i].Break, i > 0 && every[i]->Time - every[i - 1]->Time > CaptureIndex::GapMs);
        }
      }

      // Markers: each error in view has one of its kind near it, and each is a real error.
      std::vector<CaptureIndex::Event> events;
      ASSERT_TRUE(index.Events(s, from, to, columns, events)) << index.Error();
      for (const TrueLine& r : lines) {
        if (!r.Status || r.Time < from || r.Time > to) continue;
        EXPECT_TRUE(std::any_of(events.begin(), events.end(),
                                [&](const CaptureIndex::Event& e) {
                                  return e.Status == r.Status && std::abs(static_cast<double>(e.Time - r.Time)) <= near;
                                }))
            << "error on line " << r.Number << " not marked";
      }
      for (const CaptureIndex::Event& e : events) {
        EXPECT_TRUE(e.Time >= from && e.Time <= to);
        EXPECT_TRUE(std::any_of(
            lines.begin(), lines.end(),
            [&](const TrueLine& r) { return r.Number == e.Line && r.Status == e.Status && r.Time == e.Time; }))
            << "marker for line " << e.Line;
      }
    }
  }
}

// One stretch and several side by side must give the same index.
INSTANTIATE_TEST_SUITE_P(Stretches, CaptureIndexModel, ::testing::Values(1, 3));

TEST(CaptureIndex, CancelledBuildLeavesNoIndex) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("capture.txt"));
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  for (int i = 0; i < 20000; ++i) f.write("10:00:00:000 0      1   >00 <\r\n");
  f.close();
  std::atomic<bool> cancel{true};
  CaptureIndex index;
  CaptureIndex::Options options;
  options.Cancel = &cancel;
  EXPECT_EQ(index.Build(path.toStdString(), options), CaptureIndex::Result::Cancelled);
  EXPECT_TRUE(index.Segments().empty());
  cancel = false;
  EXPECT_EQ(index.Build(path.toStdString(), options), CaptureIndex::Result::Built);
  EXPECT_EQ(index.Totals().Records, 20000);
}
