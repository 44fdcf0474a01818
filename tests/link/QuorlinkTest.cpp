#include "LinkOnPty.h"
#include "serial/Registry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using Bytes = std::vector<std::uint8_t>;

TEST(QuorlinkTransmit, FramesTheRecordOnTheWire) {
  LinkOnPty t(1);
  const Bytes data{0x01, 0x02};
  ASSERT_EQ(t.Link.SetRecord(data.data(), 2), 1);
  EXPECT_EQ(t.Link.Transmit(), 1);
  EXPECT_EQ(t.Pty.Read(4), (Bytes{0x2F, 0x01, 0x02, 0xCE}));

  ASSERT_EQ(t.Link.SetRecord(data.data(), 0), 1);
  EXPECT_EQ(t.Link.Transmit(), 1);
  EXPECT_EQ(t.Pty.Read(2), (Bytes{0x2F, 0xD1}));

  const Bytes zeros(24, 0);
  t.Link.SetRecord(zeros.data(), 24);
  t.Link.Transmit();
  EXPECT_EQ(t.Pty.Read(26), Bytes{0x2F} + zeros + Bytes{0xD1});
  EXPECT_EQ(t.Link.SentFrameCount, 3u);

  // The longest record: 257 bytes whose 8-bit sum is 0.
  Bytes full(255);
  for (int i = 0; i < 255; ++i) full[i] = static_cast<std::uint8_t>(i * 7 + 3);
  EXPECT_EQ(t.Link.SetRecord(full.data(), 255), 1);
  EXPECT_EQ(t.Link.SetRecord(zeros.data(), 256), 0);  // refused: nothing changes
  EXPECT_EQ(t.Link.DataLength, 255);
  EXPECT_EQ(Record(t.Link), full);
  t.Link.Transmit();
  const Bytes frame = t.Pty.Read(257);
  ASSERT_EQ(frame.size(), 257u);
  std::uint8_t sum = 0;
  for (auto b : frame) sum = static_cast<std::uint8_t>(sum + b);
  EXPECT_EQ(sum, 0);
  EXPECT_EQ(Bytes(frame.begin() + 1, frame.end() - 1), full);
}

TEST(QuorlinkTransmit, OnlySourceModeSendsAndAClosedPortStillCounts) {
  LinkOnPty t(0);
  const Bytes a(24, 0xAA), b(24, 0xBB);
  t.Link.SetRecord(a.data(), 24);
  EXPECT_EQ(t.Link.Transmit(), 1);  // display mode: nothing sent, nothing counted
  t.Link.Mode = 2;
  EXPECT_EQ(t.Link.Transmit(), 1);
  EXPECT_EQ(t.Link.SentFrameCount, 0u);
  t.Link.Mode = 1;
  t.Link.SetRecord(b.data(), 24);
  t.Link.Transmit();
  EXPECT_EQ(t.Pty.Read(26), Frame(b));  // a frame of a would have come first

  t.Link.Close();
  EXPECT_EQ(t.Link.Transmit(), 0);
  EXPECT_EQ(t.Link.SentFrameCount, 2u);
}

TEST(QuorlinkReceive, StatusCodesAndOneGoodFramePerCall) {
  LinkOnPty t(0);
  int status = 99;
  const Bytes a(24, 0x11);
  Bytes b(24, 0x22);
  b[5] = 0x2F;  // a start byte among the data is just data

  // Source mode reads nothing: the bytes stay for later.
  t.Send(Bytes{0x00, 0x55, 0xD1} + Frame(a) + Frame(b));
  t.Link.Mode = 1;
  t.Link.RxStatus = 7;
  EXPECT_EQ(t.Link.Receive(status), 0);
  EXPECT_EQ(status, 99);
  t.Link.Mode = 0;

  // Junk before the start byte is dropped; then one good frame per call.
  EXPECT_EQ(t.Link.Receive(status), 1);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Record(t.Link), a);
  EXPECT_EQ(t.Link.Receive(status), 1);
  EXPECT_EQ(Record(t.Link), b);
  EXPECT_EQ(t.Link.GoodFrameCount, 2u);
  status = 99;
  EXPECT_EQ(t.Link.Receive(status), 0);
  EXPECT_EQ(status, 99);

  t.Send(Bytes{0x00, 0x55});
  EXPECT_EQ(t.Link.Receive(status), 0);
  EXPECT_EQ(t.Link.RxStatus, 0);  // unchanged by dropped bytes

  // A bad checksum keeps the last good record; the next start byte as the
  // last byte read leaves status 2, with data after it status 0.
  Bytes bad = Frame(Bytes(24, 0x33));
  bad.back() ^= 1;
  t.Send(bad + Bytes{0x2F});
  EXPECT_EQ(t.Link.Receive(status), 1);
  EXPECT_EQ(status, 2);
  EXPECT_EQ(t.Link.GetRxCount(), 1);
  t.Send(Bytes(24, 0x44) + Bytes{0x00} + Bytes{0x2F, 1, 2});  // completes a bad frame
  EXPECT_EQ(t.Link.Receive(status), 1);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(t.Link.RxStatus, 0);
  EXPECT_EQ(Record(t.Link), b);
  EXPECT_EQ(t.Link.GoodFrameCount, 2u);
}

TEST(QuorlinkReceive, LengthChangesAndTheLongestLengths) {
  LinkOnPty t(0);
  int status = 0;
  t.Link.DataLength = 36;
  t.Send(Bytes{0x2F} + Bytes(29, 0x01));  // 30 bytes collected
  EXPECT_EQ(t.Link.Receive(status), 0);
  t.Link.DataLength = 27;  // 31 bytes is DataLength + 4: still collecting
  t.Send(Bytes{0x01});
  EXPECT_EQ(t.Link.Receive(status), 0);
  EXPECT_EQ(status, 0);
  t.Send(Bytes{0x01});
  EXPECT_EQ(t.Link.Receive(status), 1);
  EXPECT_EQ(status, 3);
  EXPECT_EQ(t.Link.GetRxCount(), 0);

  // 254 data bytes make a 256-byte frame, which the 8-bit count never reaches:
  // after 256 bytes the receiver is idle again, with no event.
  t.Link.DataLength = 254;
  t.Send(Frame(Bytes(254, 0x2F)));
  EXPECT_EQ(t.Link.Receive(status), 0);
  EXPECT_EQ(t.Link.GetRxCount(), 0);
  EXPECT_EQ(t.Link.GoodFrameCount, 0u);
}

TEST(QuorlinkRecord, CopiesOutNeverPastTheCallersBuffer) {
  TQUORLINK link;
  Bytes data(200);
  for (int i = 0; i < 200; ++i) data[i] = static_cast<std::uint8_t>(i);
  link.SetRecord(data.data(), 200);
  std::uint8_t buffer[110];
  std::fill(std::begin(buffer), std::end(buffer), 0xEE);
  std::uint8_t length = 0;
  EXPECT_EQ(link.GetRecord(buffer, 100, &length), 1);
  EXPECT_EQ(length, 200);
  EXPECT_TRUE(std::equal(buffer, buffer + 100, data.begin()));
  EXPECT_EQ(buffer[100], 0xEE);
}

// Records are uniform and every byte holds the record's length, so a frame or a
// copy made of two records, or of one record and another's length, shows.
TEST(QuorlinkRecord, BothThreadsSeeWholeRecords) {
  LinkOnPty t(1);
  const Bytes first(20, 20);
  t.Link.SetRecord(first.data(), 20);
  std::atomic<bool> stop{false};
  std::atomic<std::uint32_t> parsed{0};
  std::thread sender([&] {
    while (!stop) t.Link.Transmit();
  });
  std::atomic<bool> allRead{false};
  std::thread reader([&] {
    while (!allRead) {
      const Bytes start = t.Pty.Read(1, std::chrono::milliseconds(50));
      if (start.empty()) continue;
      const Bytes head = start + t.Pty.Read(1);
      ASSERT_EQ(head.size(), 2u);
      ASSERT_EQ(head[0], 0x2F);
      ASSERT_GE(head[1], 20);
      const Bytes rest = t.Pty.Read(head[1]);
      ASSERT_EQ(rest.size(), head[1]);
      EXPECT_TRUE(std::all_of(rest.begin(), rest.end() - 1, [&](std::uint8_t b) { return b == head[1]; }));
      EXPECT_EQ(static_cast<std::uint8_t>(0x2F + head[1] * head[1] + rest.back()), 0);
      ++parsed;
    }
  });
  for (int k = 0; k < 20000; ++k) {
    const Bytes record(20 + k % 60, static_cast<std::uint8_t>(20 + k % 60));
    t.Link.SetRecord(record.data(), static_cast<std::uint32_t>(record.size()));
  }
  stop = true;
  sender.join();
  EXPECT_TRUE(WaitUntil([&] { return parsed == t.Link.SentFrameCount; }));
  allRead = true;
  reader.join();

  // The other way: the receiver stores records while the GUI side copies out.
  TQUORLINK link;
  link.Mode = 0;
  link.DataLength = 80;
  stop = false;
  std::thread worker([&] {
    for (int k = 0; !stop; ++k) {
      const Bytes frame = Frame(Bytes(80, static_cast<std::uint8_t>(k)));
      std::size_t i = 0;
      int status = 0;
      link.ReceiveFrom([&](std::uint8_t& b) { return i < frame.size() ? (b = frame[i++], true) : false; }, status);
    }
  });
  for (int k = 0; k < 20000; ++k) {
    std::uint8_t buffer[256];
    link.GetRecord(buffer, sizeof buffer);
    ASSERT_TRUE(std::all_of(buffer, buffer + 80, [&](std::uint8_t b) { return b == buffer[0]; }));
  }
  stop = true;
  worker.join();
}

TEST(QuorlinkConfiguration, StoredPerModeWithDefaults) {
  TestSettings settings;
  TQUORLINK link;
  EXPECT_EQ(link.LoadConfiguration(SettingsBasePath(0)), 0);  // first run
  EXPECT_EQ(link.DataLength, 24);
  EXPECT_EQ(link.SettingsLoaded, 0);

  link.DataLength = 77;
  link.BaudRate = 19200;
  EXPECT_EQ(link.SaveConfiguration(SettingsBasePath(0)), 1);
  TQUORLINK again;
  EXPECT_EQ(again.LoadConfiguration(SettingsBasePath(1)), 0);  // the other mode has nothing
  EXPECT_EQ(again.LoadConfiguration(SettingsBasePath(0)), 1);
  EXPECT_EQ(again.DataLength, 77);
  EXPECT_EQ(again.BaudRate, 19200);
  EXPECT_EQ(again.SettingsLoaded, 1);

  const std::string key = std::string(SettingsBasePath(0)) + "Quorlink Configuration";
  auto registry = CreateRegistry();
  ASSERT_TRUE(registry->OpenKey(key, true));
  registry->WriteInteger("Quorlink_DataLength", 300);
  registry->CloseKey();
  registry.reset();
  again.LoadConfiguration(SettingsBasePath(0));
  EXPECT_EQ(again.DataLength, 44);

  // The key without the value: the stored default 36.
  registry = CreateRegistry();
  ASSERT_TRUE(registry->OpenKey(std::string(SettingsBasePath(1)) + "Quorlink Configuration", true));
  registry->WriteInteger("Another value", 1);  // a key without values doesn't exist here
  registry->CloseKey();
  registry.reset();
  EXPECT_EQ(again.LoadConfiguration(SettingsBasePath(1)), 0);  // no port settings there yet
  EXPECT_EQ(again.DataLength, 36);
}
