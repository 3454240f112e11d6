// The data-set state machine, checksum test and report lines, on messages whose bytes
// and checksums are worked out by hand.
#include <gtest/gtest.h>

#include "support/ParserRig.h"

namespace {

// 40 00 00 00, 128 data bytes of 0: address sum 0x40 = 64, checksum 128 - 64 = 0x40.
Bytes PatternU01Of128() {
  Bytes m = {0xF0, 0x41, 0x10, 0x00, 0x03, 0x12, 0x40, 0x00, 0x00, 0x00};
  m.insert(m.end(), 128, 0x00);
  m.push_back(0x40);
  m.push_back(0xF7);
  return m;
}

// 40 00 00 00, data 01 02 03: 64 + 6 = 70, checksum 128 - 70 = 58 = 0x3A.
const Bytes kSmallU01 = {0xF0, 0x41, 0x10, 0x00, 0x03, 0x12, 0x40, 0x00, 0x00, 0x00, 0x01, 0x02, 0x03, 0x3A, 0xF7};

TEST(Parser, CorrectMessageIsReportedAndFiledUnderItsSlot) {
  ParserRig rig;
  const Bytes m = PatternU01Of128();
  EXPECT_TRUE(rig.Feed(m).empty());
  EXPECT_EQ(rig.tDev.Text(), "40000000 129 BYTES.\r\n");
  EXPECT_EQ(rig.Pattern(1), m);
  EXPECT_TRUE(rig.Store().PendingBytes.empty());
  EXPECT_EQ(rig.parse.Parse().State, 0);
}

class AnyDeviceId : public testing::TestWithParam<int> {};

TEST_P(AnyDeviceId, IsAcceptedAndKept) {
  ParserRig rig;
  Bytes m = kSmallU01;
  m[2] = static_cast<std::uint8_t>(GetParam());
  EXPECT_TRUE(rig.Feed(m).empty());
  EXPECT_EQ(rig.Pattern(1), m);
  EXPECT_EQ(rig.parse.Parse().DeviceId, GetParam());
}
INSTANTIATE_TEST_SUITE_P(Parser, AnyDeviceId, testing::Values(0x00, 0x10, 0x7F, 0xF0, 0xF7));

TEST(Parser, ChecksumZeroIsAcceptedWhenTheSumIsAMultipleOf128) {
  ParserRig rig;
  // 40 00 00 00 + data 40: 0x40 + 0x40 = 128, so the checksum is 0.
  const Bytes m = {0xF0, 0x41, 0x10, 0x00, 0x03, 0x12, 0x40, 0x00, 0x00, 0x00, 0x40, 0x00, 0xF7};
  EXPECT_TRUE(rig.Feed(m).empty());
  EXPECT_EQ(rig.tDev.Text(), "40000000 2 BYTES.\r\n");
  EXPECT_EQ(rig.Pattern(1), m);
}

TEST(Parser, WrongChecksumIsReportedWithShortAddressDigitsAndStaysPending) {
  ParserRig rig;
  // 40 00 01 0A + data 00: 64 + 1 + 10 = 75, expected 128 - 75 = 53 = 0x35; sent 0x11.
  const Bytes bad = {0xF0, 0x41, 0x10, 0x00, 0x03, 0x12, 0x40, 0x00, 0x01, 0x0A, 0x00, 0x11, 0xF7};
  const auto falses = rig.Feed(bad);
  ASSERT_EQ(falses, std::vector<std::size_t>{bad.size() - 1});
  EXPECT_EQ(rig.tDev.Text(), "40001A BAD CKS (WAS 11, EXPECTED 35)!\r\n");
  EXPECT_EQ(rig.Store().PendingBytes, bad);
  EXPECT_FALSE(rig.Store().PatternPresent[0]);
  // The bad message's bytes stand in front of the next good one.
  EXPECT_TRUE(rig.Feed(kSmallU01).empty());
  EXPECT_EQ(rig.Pattern(1), Cat({bad, kSmallU01}));
}

TEST(Parser, WrongHeaderByteReturnsToIdleAndANewF0StartsAtOnce) {
  ParserRig rig;
  // F0 42: not Roland, back to idle; then a header broken off by F0 restarts there.
  const Bytes noise = {0xF0, 0x42, 0x01, 0xF0, 0x41, 0x10, 0x00};
  EXPECT_TRUE(rig.Feed(noise).empty());
  EXPECT_EQ(rig.parse.Parse().State, 4);  // F0 41 10 00 awaits the model id 03
  EXPECT_TRUE(rig.Feed(kSmallU01).empty());
  EXPECT_EQ(rig.tDev.Text(), "40000000 4 BYTES.\r\n");
  EXPECT_EQ(rig.Pattern(1), Cat({noise, kSmallU01}));
}

class BrokenHeader : public testing::TestWithParam<std::size_t> {};

TEST_P(BrokenHeader, AtEachTestedPositionAbandonsTheMessageSilently) {
  ParserRig rig;
  Bytes m = kSmallU01;
  m[GetParam()] = 0x7E;  // 41, 00, 03 or 12 replaced
  EXPECT_TRUE(rig.Feed(m).empty());
  EXPECT_EQ(rig.tDev.Text(), "");
  EXPECT_EQ(rig.Store().PendingBytes, m);
}
INSTANTIATE_TEST_SUITE_P(Parser, BrokenHeader, testing::Values(1u, 3u, 4u, 5u));

TEST(Parser, RealTimeBytesInsideAMessageAreSkippedEntirely) {
  ParserRig rig;
  Bytes m;
  for (std::size_t i = 0; i < kSmallU01.size(); ++i) {
    m.push_back(0xFE);
    m.push_back(kSmallU01[i]);
    m.push_back(0xF8);
  }
  EXPECT_TRUE(rig.Feed(m).empty());
  EXPECT_EQ(rig.tDev.Text(), "40000000 4 BYTES.\r\n");
  EXPECT_EQ(rig.Pattern(1), kSmallU01);
  rig.parse.CloseOutfile();
  EXPECT_EQ(rig.log.bytes, kSmallU01);
  EXPECT_EQ(rig.parse.Log().ByteCount, static_cast<int>(kSmallU01.size()));
}

TEST(Parser, ReportsOffWriteNothingToTheReportBox) {
  ParserRig rig;
  rig.tDev.SetText("old");
  EXPECT_TRUE(rig.Feed(kSmallU01, false).empty());
  EXPECT_EQ(rig.tDev.Text(), "old");
  EXPECT_TRUE(rig.Store().PatternPresent[0]);
}

TEST(Parser, WithoutRecordingNothingIsLoggedOrShownButPiecesAreStillFiled) {
  ParserRig rig;
  rig.flags.RecordingActive = false;
  EXPECT_TRUE(rig.Feed(kSmallU01, true).empty());
  EXPECT_EQ(rig.tDev.Text(), "");
  EXPECT_EQ(rig.log.creates, 0);
  EXPECT_TRUE(rig.parse.Log().RestartPending);
  EXPECT_EQ(rig.Pattern(1), kSmallU01);
}

TEST(Parser, ReportBoxKeepsTheLast14LinesOldestFirst) {
  ParserRig rig;
  // Fifteen messages of one data byte d at 40 00 00 00: checksum (128 - (64 + d)) % 128.
  std::string expected;
  for (int d = 1; d <= 15; ++d) {
    const auto cks = static_cast<std::uint8_t>((128 - (64 + d)) % 128);
    (void)rig.Feed({0xF0, 0x41, 0x10, 0x00, 0x03, 0x12, 0x40, 0x00, 0x00, static_cast<std::uint8_t>(d), 0x00, cks,
                    0xF7});
  }
  for (int d = 2; d <= 15; ++d) {
    char line[32];
    std::snprintf(line, sizeof line, "400000%02X 2 BYTES.\r\n", d);
    expected += line;
  }
  EXPECT_EQ(rig.tDev.Text(), expected);
}

TEST(Parser, AMessageEndingRightAfterItsAddressHasNoChecksumAndFails) {
  ParserRig rig;
  // The message before ends in the checksum 0x40 (40 00 00 00 + data 00: 128 - 64).
  // Against that stale byte an empty 40 00 00 00 would pass: 64 + 0x40 = 128.
  const Bytes before = {0xF0, 0x41, 0x10, 0x00, 0x03, 0x12, 0x40, 0x00, 0x00, 0x00, 0x00, 0x40, 0xF7};
  const Bytes empty = {0xF0, 0x41, 0x10, 0x00, 0x03, 0x12, 0x40, 0x00, 0x00, 0x00, 0xF7};
  EXPECT_TRUE(rig.Feed(before).empty());
  EXPECT_EQ(rig.Feed(empty), std::vector<std::size_t>{empty.size() - 1});
  EXPECT_EQ(rig.tDev.Text(), "40000000 2 BYTES.\r\n400000 BAD CKS (WAS 00, EXPECTED 40)!\r\n");
  EXPECT_EQ(rig.Store().PendingBytes, empty);
}

TEST(Parser, MessageWithoutF7CountsEverythingAsDataUntilOneComes) {
  ParserRig rig;
  const Bytes unfinished = {0xF0, 0x41, 0x10, 0x00, 0x03, 0x12, 0x40, 0x00, 0x00, 0x00, 0x01};
  EXPECT_TRUE(rig.Feed(unfinished).empty());
  // The next message's bytes become data of the unfinished one, and its F7 ends it
  // with a checksum that no longer fits.
  const auto falses = rig.Feed(kSmallU01);
  EXPECT_EQ(falses, std::vector<std::size_t>{kSmallU01.size() - 1});
  EXPECT_NE(rig.tDev.Text().find("BAD CKS"), std::string::npos);
  EXPECT_FALSE(rig.Store().PatternPresent[0]);
}

}  // namespace
