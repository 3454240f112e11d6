// Which piece a checked message belongs to, duplicates, the Pieces box and report box
// lines, and the reset of the store.
#include <gtest/gtest.h>

#include "support/ParserRig.h"

namespace {

// A one-data-byte message at a0 a1 a2 00; checksum (128 - (a0 + a1 + a2 + data) % 128) % 128.
Bytes Msg(std::uint8_t a0, std::uint8_t a1, std::uint8_t a2 = 0, std::uint8_t data = 1) {
  const int sum = a0 + a1 + a2 + data;
  return {0xF0, 0x41, 0x10, 0x00, 0x03, 0x12, a0, a1, a2, 0x00, data, static_cast<std::uint8_t>((128 - sum % 128) % 128),
          0xF7};
}

TEST(Identify, PiecesGrowByRunsOfMessagesAndTheBoxFollowsThem) {
  ParserRig rig;
  // Addresses of no slot: just past the last pattern and settings, just before the first.
  const Bytes nowhere = Cat({Msg(0x72, 0), Msg(0x14, 0x32), Msg(0x3F, 0)});
  const Bytes stray = {0x01, 0x02, 0xF7}, u6a = Msg(0x45, 0), u6b = Msg(0x45, 0, 1);
  const Bytes u2 = Msg(0x41, 0), u6c = Msg(0x45, 0, 2);
  // Stray bytes and a message of no slot stand in front of the next piece.
  EXPECT_TRUE(rig.Feed(Cat({stray, nowhere, u6a, u6b})).empty());
  EXPECT_EQ(rig.Pattern(6), Cat({stray, nowhere, u6a, u6b}));
  EXPECT_EQ(rig.piecesBox.Text(), "U06 Missing Settings\r\n");
  // A piece begun again after another is a duplicate, its bytes kept all the same.
  EXPECT_EQ(rig.Feed(Cat({u2, u6c})), std::vector<std::size_t>{u2.size() + u6c.size() - 1});
  EXPECT_EQ(rig.Pattern(6), Cat({stray, nowhere, u6a, u6b, u6c}));
  EXPECT_EQ(rig.piecesBox.Text(), "U06 Missing Settings\r\nU02 Missing Settings\r\n");
  // The settings replace the slot's line and move it to the end.
  EXPECT_TRUE(rig.Feed(Msg(0x14, 0x05)).empty());
  EXPECT_EQ(rig.piecesBox.Text(), "U02 Missing Settings\r\nU06\r\n");
  EXPECT_EQ(rig.piecesBox.SelStart(), rig.piecesBox.Length());
  // Settings first read Settings Only until the pattern arrives.
  (void)rig.Feed(Msg(0x14, 0x31));
  EXPECT_EQ(rig.piecesBox.Text(), "U02 Missing Settings\r\nU06\r\nU50 Settings Only\r\n");
  (void)rig.Feed(Cat({Msg(0x71, 0), {0x55}}));
  EXPECT_EQ(rig.piecesBox.Text(), "U02 Missing Settings\r\nU06\r\nU50\r\n");
  EXPECT_EQ(rig.Store().PendingBytes, Bytes{0x55});
  // A new file of a reload (LastKind None) cannot continue a piece.
  rig.parse.Store().LastKind = static_cast<std::int16_t>(mc303::PieceKind::None);
  EXPECT_EQ(rig.Feed(Msg(0x71, 0, 1)).size(), 1u);
}

TEST(Identify, PiecesBoxDropsAnOlderLineOfTheSlotAndPastItsLimitKeepsItsLast8192Characters) {
  ParserRig rig;
  rig.piecesBox.SetText("U05 Missing Settings\r\n\r\nZZ\r\nU07\r\n");
  mc303::PiecesBox(rig.piecesBox, rig.pump).AddLine("U05\r\n");
  EXPECT_EQ(rig.piecesBox.Text(), "ZZ\r\nU07\r\nU05\r\n");

  // 3276 lines "X99\r\n" (number 99, never removed) and "abc" make 16383 characters; the
  // new line of 22 would pass 16384. The cut starts inside a line ("99\r\n"), and
  // "abcU01 Missing Settings\r\n" reads its number from "bc": neither is a slot.
  std::string filler;
  for (int i = 0; i < 3276; ++i) filler += "X99\r\n";
  filler += "abc";
  rig.piecesBox.SetText(filler);
  (void)rig.Feed(Msg(0x40, 0));
  EXPECT_EQ(rig.piecesBox.Text(), filler.substr(filler.size() - 8192) + "U01 Missing Settings\r\n");
}

TEST(Identify, AStoreResetByAHandlerDuringTheBoxUpkeepFilesNoEmptyPiece) {
  ParserRig rig;
  rig.pump.onPump = [&] {
    rig.pump.onPump = nullptr;
    rig.parse.ResetPieceStore();
  };
  (void)rig.Feed(Msg(0x40, 0));
  EXPECT_FALSE(rig.Store().PatternPresent[0]);
  EXPECT_TRUE(rig.Pattern(1).empty());
}

TEST(Identify, TheReportBoxShowsTheLast14LinesAndAResetKeepsItButEmptiesTheStore) {
  ParserRig rig;
  (void)rig.Feed(Msg(0x14, 0));
  std::string last14;
  for (std::uint8_t d = 1; d <= 15; ++d) {
    (void)rig.Feed(Msg(0x40, 0, d));
    char line[32];
    std::snprintf(line, sizeof line, "4000%02X00 2 BYTES.\r\n", d);
    if (d > 1) last14 += line;
  }
  (void)rig.Feed({0x33});
  EXPECT_EQ(rig.reportBox.Text(), last14);
  rig.parse.ResetPieceStore();
  EXPECT_TRUE(!rig.Store().SettingsPresent[0] && rig.Store().PendingBytes.empty() && rig.piecesBox.Text().empty());
  EXPECT_EQ(rig.reportBox.Text(), last14);
  EXPECT_TRUE(rig.parse.Log().RestartPending);
  EXPECT_EQ(rig.parse.Log().ByteCount, 16 * 13 + 1) << "the count stays for the save dialog until the next byte";

  (void)rig.Feed(Msg(0x41, 0));
  EXPECT_EQ(rig.reportBox.Text(), "41000000 2 BYTES.\r\n") << "the next report line starts a new list";
}

}  // namespace
