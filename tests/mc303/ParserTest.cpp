// The data-set state machine, checksum test, report lines and output log, on messages
// whose bytes and checksums are worked out by hand.
#include <gtest/gtest.h>

#include <limits>

#include "support/ParserRig.h"

namespace {

const Bytes kHeader = {0xF0, 0x41, 0x10, 0x00, 0x03, 0x12};
// Address 40 00 00 00, data 01 02 03: 64 + 6 = 70, checksum 128 - 70 = 58 = 0x3A.
const Bytes kSmallU01 = Cat({kHeader, {0x40, 0x00, 0x00, 0x00, 0x01, 0x02, 0x03, 0x3A, 0xF7}});
const std::string kIoError = "I/O Error accessing /prog/OUTFILE.SYX";

Bytes With(Bytes m, std::size_t at, std::uint8_t value) {
  m[at] = value;
  return m;
}

struct StreamCase {
  const char* name;
  Bytes stream;
  std::string reports;  // the report box afterwards
  bool failsAtEnd;      // ParseMidiByte returned false for the last byte, and for no other
  std::size_t filed;    // leading bytes (less FE and F8) filed as U01's pattern; the rest pending
};
void PrintTo(const StreamCase& c, std::ostream* os) { *os << c.name; }

class Stream : public testing::TestWithParam<StreamCase> {};

TEST_P(Stream, IsReportedFiledAndLoggedAsWorkedOut) {
  const StreamCase& c = GetParam();
  ParserRig rig;
  const Bytes stored = WithoutRealTime(c.stream);
  EXPECT_EQ(rig.Feed(c.stream), c.failsAtEnd ? std::vector<std::size_t>{c.stream.size() - 1} : std::vector<std::size_t>{});
  EXPECT_EQ(rig.reportBox.Text(), c.reports);
  EXPECT_EQ(rig.Pattern(1), Bytes(stored.begin(), stored.begin() + static_cast<long>(c.filed)));
  EXPECT_EQ(rig.Store().PendingBytes, Bytes(stored.begin() + static_cast<long>(c.filed), stored.end()));
  rig.parse.CloseOutfile();
  EXPECT_EQ(rig.log.bytes, stored);
  EXPECT_EQ(rig.parse.Log().ByteCount, static_cast<int>(stored.size()));
}

Bytes Interleaved(const Bytes& m) {
  Bytes out;
  for (std::uint8_t b : m) out.insert(out.end(), {0xFE, b, 0xF8});
  return out;
}

const std::string kSmallLine = "40000000 4 BYTES.\r\n";

INSTANTIATE_TEST_SUITE_P(
    Parser, Stream,
    testing::Values(
        // 40 00 00 00 and 128 data bytes of 0: checksum 128 - 64 = 0x40; the count takes it in.
        StreamCase{"LongMessage", Cat({kHeader, {0x40, 0, 0, 0}, Bytes(128, 0), {0x40, 0xF7}}),
                   "40000000 129 BYTES.\r\n", false, 140},
        // A status byte ends a message wherever it stands, 0xF7 too; what follows is stray.
        StreamCase{"DeviceIdF7", With(kSmallU01, 2, 0xF7), "", false, 0},
        // 40 00 00 00 + data 40 = 128: the checksum 0 stands for 128.
        StreamCase{"ChecksumZero", Cat({kHeader, {0x40, 0, 0, 0, 0x40, 0x00, 0xF7}}), "40000000 2 BYTES.\r\n", false, 13},
        // 40 00 01 0A + data 00: 64 + 1 + 10 = 75, expected 128 - 75 = 0x35; sent 0x11.
        StreamCase{"WrongChecksumShortDigits", Cat({kHeader, {0x40, 0x00, 0x01, 0x0A, 0x00, 0x11, 0xF7}}),
                   "40001A BAD CKS (WAS 11, EXPECTED 35)!\r\n", true, 0},
        StreamCase{"NotRoland", With(kSmallU01, 1, 0x7E), "", false, 0},
        // F0 42 goes back to idle; F0 41 10 00 broken off by F0 starts over there.
        StreamCase{"HeaderBrokenByF0", Cat({{0xF0, 0x42, 0x01, 0xF0, 0x41, 0x10, 0x00}, kSmallU01}), kSmallLine, false,
                   22},
        StreamCase{"RealTimeBytesInside", Interleaved(kSmallU01), kSmallLine, false, 15},
        // Start, reset and stop inside the header, the address and the data are kept,
        // in place, but are no part of the message.
        StreamCase{"OtherRealTimeBytesInside",
                   Cat({{0xF0, 0xFA, 0x41, 0x10, 0x00, 0x03, 0x12, 0x40, 0x00, 0xFF, 0x00, 0x00, 0x01, 0xFC},
                        {0x02, 0x03, 0x3A, 0xF7}}),
                   kSmallLine, false, 18},
        // A note-on cuts the data off; its rest is stray, in front of the next message.
        StreamCase{"AStatusByteEndsAMessage", Cat({kHeader, {0x40, 0, 0, 0, 0x01, 0x90, 0x02, 0x03, 0x3A, 0xF7}, kSmallU01}),
                   kSmallLine, false, 31},
        // Regression: the message before ends in the checksum 0x40 (40 00 00 00 + data 00),
        // against which an empty 40 00 00 00 would pass (64 + 0x40 = 128).
        StreamCase{"NothingAfterTheAddress", Cat({kHeader, {0x40, 0, 0, 0, 0x00, 0x40, 0xF7}, kHeader, {0x40, 0, 0, 0, 0xF7}}),
                   "40000000 2 BYTES.\r\n400000 BAD CKS (WAS 00, EXPECTED 40)!\r\n", true, 13},
        // With no byte after an address that sums to 0 mod 128 the sum would pass as a checksum 0.
        StreamCase{"EmptyAtAZeroSum", Cat({kHeader, {0x40, 0x40, 0, 0, 0xF7}}), "404000 BAD CKS (WAS 00, EXPECTED 00)!\r\n",
                   true, 0},
        // A message without its F7 ends at the next F0 and takes nothing of the next
        // message in: 11 bytes cut off, then 15 of a whole one.
        StreamCase{"NoF7", Cat({kHeader, {0x40, 0, 0, 0, 0x01}, kSmallU01}), kSmallLine, false, 26}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(OutputLog, FaultsAreToldAtMostThreeTimesPerResetAndLostBytesAreNotCounted) {
  ParserRig rig;
  rig.log.failCreates = 1;  // a failed creation is tried once more
  (void)rig.Feed({1, 2});
  rig.parse.CloseOutfile();
  EXPECT_TRUE(rig.dialogs.messages.empty());
  (void)rig.Feed({3});  // after the log was closed, as while Stop's save dialog is open
  EXPECT_EQ(rig.dialogs.Texts(), std::vector<std::string>{kIoError});
  EXPECT_TRUE(rig.dialogs.messages[0].buttons == roles::Buttons::Ok && rig.dialogs.messages[0].title.empty());
  EXPECT_EQ(rig.parse.Log().ByteCount, 2);

  rig.parse.ResetPieceStore();
  rig.log.capacity = 2;  // a full disk
  (void)rig.Feed({4, 5, 6, 7, 8, 9});
  rig.parse.CloseOutfile();
  EXPECT_EQ(rig.dialogs.Texts(), std::vector<std::string>(4, kIoError));
  EXPECT_EQ(rig.parse.Log().ByteCount, 2);

  rig.parse.ResetPieceStore();
  rig.log.capacity = 100;
  (void)rig.Feed({1});
  rig.parse.Log().ByteCount = std::numeric_limits<std::int32_t>::max();
  (void)rig.Feed({2});
  EXPECT_EQ(rig.dialogs.Texts().back(), "Wow that's a lot of bytes.");
  EXPECT_EQ(rig.parse.Log().ByteCount, 0);
}

}  // namespace
