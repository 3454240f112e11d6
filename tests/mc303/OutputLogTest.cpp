// The output log: started anew after a reset, counted, batched, and every failure
// reported within the limit of three messages.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>

#include "DumpGenerator.h"
#include "support/ParserRig.h"

namespace {

const std::string kIoError = "I/O Error accessing /prog/OUTFILE.SYX";

TEST(OutputLog, FirstLoggedByteAfterAResetStartsTheFileAnewCountingFromZero) {
  ParserRig rig;
  (void)rig.Feed({0x01, 0x02});
  EXPECT_EQ(rig.log.creates, 1);
  EXPECT_EQ(rig.log.deletes, 1);
  EXPECT_FALSE(rig.parse.Log().RestartPending);
  rig.parse.CloseOutfile();
  EXPECT_EQ(rig.parse.Log().ByteCount, 2);

  rig.parse.ResetPieceStore();
  EXPECT_TRUE(rig.parse.Log().RestartPending);
  EXPECT_EQ(rig.parse.Log().ByteCount, 2) << "a reset leaves the count for the save dialog";
  (void)rig.Feed({0x03});
  rig.parse.CloseOutfile();
  EXPECT_EQ(rig.log.creates, 2);
  EXPECT_EQ(rig.parse.Log().ByteCount, 1);
  EXPECT_EQ(rig.log.bytes, Bytes{0x03});
}

TEST(OutputLog, NothingIsLoggedWhileSuppressedOrNotRecording) {
  ParserRig rig;
  rig.parse.Log().Suppressed = true;
  (void)rig.Feed({0x01, 0x02});
  rig.parse.Log().Suppressed = false;
  rig.flags.RecordingActive = false;
  (void)rig.Feed({0x03});
  EXPECT_EQ(rig.log.creates, 0);
  EXPECT_TRUE(rig.parse.Log().RestartPending);
  EXPECT_EQ(rig.Store().PendingBytes, (Bytes{0x01, 0x02, 0x03})) << "the parser still keeps the bytes";
}

TEST(OutputLog, AFailedWriteIsReportedAtMostThreeTimesAndNotCounted) {
  ParserRig rig;
  rig.log.capacity = 2;
  (void)rig.Feed({1, 2, 3, 4, 5, 6});
  rig.parse.CloseOutfile();
  EXPECT_EQ(rig.parse.Log().ByteCount, 2);
  EXPECT_EQ(rig.dialogs.Texts(), (std::vector<std::string>{kIoError, kIoError, kIoError}));
  EXPECT_EQ(rig.dialogs.messages[0].buttons, ui::Buttons::Ok);
  EXPECT_EQ(rig.dialogs.messages[0].title, "");

  // A reset gives three more messages.
  rig.parse.ResetPieceStore();
  rig.log.capacity = 0;
  (void)rig.Feed({7});
  rig.parse.CloseOutfile();
  EXPECT_EQ(rig.dialogs.messages.size(), 4u);
  EXPECT_EQ(rig.parse.Log().ByteCount, 0);
}

TEST(OutputLog, ACreateThatFailsIsTriedOnceMoreThenReportedLikeAFailedWrite) {
  ParserRig rig;
  rig.log.failCreates = 1;
  (void)rig.Feed({1});
  EXPECT_EQ(rig.log.creates, 2);
  EXPECT_TRUE(rig.dialogs.messages.empty());

  rig.parse.CloseOutfile();
  rig.parse.ResetPieceStore();
  rig.log.failCreates = 2;
  (void)rig.Feed({1, 2, 3, 4, 5});
  EXPECT_EQ(rig.dialogs.Texts(), (std::vector<std::string>{kIoError, kIoError, kIoError}));
  EXPECT_EQ(rig.parse.Log().ByteCount, 0);
}

TEST(OutputLog, BytesAfterTheLogWasClosedAreReportedNotLost) {
  ParserRig rig;
  (void)rig.Feed({1, 2});
  rig.parse.CloseOutfile();  // as Stop does before its save dialog is answered
  (void)rig.Feed({3});
  EXPECT_EQ(rig.dialogs.Texts(), std::vector<std::string>{kIoError});
  EXPECT_EQ(rig.parse.Log().ByteCount, 2);
}

TEST(OutputLog, CountOverflowSaysSoAndStartsAgainAtZero) {
  ParserRig rig;
  (void)rig.Feed({1});
  rig.parse.Log().ByteCount = std::numeric_limits<std::int32_t>::max();
  (void)rig.Feed({2});
  EXPECT_EQ(rig.dialogs.Texts(), std::vector<std::string>{"Wow that's a lot of bytes."});
  EXPECT_EQ(rig.parse.Log().ByteCount, 0);
}

TEST(OutputLog, OnDiskItHoldsTheStreamLessRealTimeBytesAcrossManyBatches) {
  const auto dir = std::filesystem::temp_directory_path() / "vz-outputlog-test";
  std::filesystem::create_directories(dir);
  mc303::SharedFlags flags;
  ui::TextBox tPieces{16384}, tDev{1024};
  CountingPump pump;
  ScriptedDialogs dialogs;
  mc303::DiskLogFile log(dir);
  mc303::MC303Parse parse(flags, tPieces, tDev, pump, dialogs, log);
  flags.RecordingActive = true;
  parse.ResetPieceStore();

  dumpgen::DumpOptions o;
  o.maxPatternBytes = 4000;  // about 100 KB, more than one batch
  Bytes stream = dumpgen::GenerateDump(o);
  for (std::size_t i = 0; i < stream.size(); i += 97) stream.insert(stream.begin() + static_cast<long>(i), 0xF8);
  Bytes expected;
  for (std::uint8_t b : stream) {
    if (b != 0xFE && b != 0xF8) expected.push_back(b);
  }
  ASSERT_GT(expected.size(), 70'000u);
  for (std::uint8_t b : stream) (void)parse.ParseMidiByte(b, false);
  parse.CloseOutfile();

  std::ifstream in(dir / "OUTFILE.SYX", std::ios::binary);
  const Bytes onDisk((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(onDisk, expected);
  EXPECT_EQ(parse.Log().ByteCount, static_cast<int>(expected.size()));
  EXPECT_TRUE(dialogs.messages.empty());
  std::filesystem::remove_all(dir);
}

}  // namespace
