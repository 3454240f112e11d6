// Which piece a checked message belongs to, duplicates, and the Pieces box lines.
#include <gtest/gtest.h>

#include "support/ParserRig.h"

namespace {

// A one-data-byte message at the given address; checksum worked out as
// (128 - (a0 + a1 + a2 + a3 + data) % 128) % 128.
Bytes Msg(std::uint8_t a0, std::uint8_t a1, std::uint8_t a2, std::uint8_t a3, std::uint8_t data) {
  const int sum = a0 + a1 + a2 + a3 + data;
  return {0xF0, 0x41, 0x10, 0x00, 0x03, 0x12, a0, a1, a2, a3, data, static_cast<std::uint8_t>((128 - sum % 128) % 128),
          0xF7};
}

struct AddressCase {
  std::uint8_t a0, a1;
  int user;          // 0: no piece
  bool settings;
};

class AddressMap : public testing::TestWithParam<AddressCase> {};

TEST_P(AddressMap, FilesTheMessageUnderTheRightSlotAndKind) {
  const AddressCase c = GetParam();
  ParserRig rig;
  const Bytes m = Msg(c.a0, c.a1, 0x05, 0x06, 0x01);
  EXPECT_TRUE(rig.Feed(m).empty());
  for (int u = 1; u <= 50; ++u) {
    const bool isIt = u == c.user;
    EXPECT_EQ(rig.Store().PatternPresent[static_cast<std::size_t>(u - 1)], isIt && !c.settings) << "U" << u;
    EXPECT_EQ(rig.Store().SettingsPresent[static_cast<std::size_t>(u - 1)], isIt && c.settings) << "U" << u;
  }
  if (c.user == 0) {
    EXPECT_EQ(rig.Store().PendingBytes, m);
    EXPECT_EQ(rig.tPieces.Text(), "");
  } else {
    EXPECT_TRUE(rig.Store().PendingBytes.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Identify, AddressMap,
                         testing::Values(AddressCase{0x40, 0x00, 1, false}, AddressCase{0x40, 0x7F, 1, false},
                                         AddressCase{0x71, 0x00, 50, false}, AddressCase{0x72, 0x00, 0, false},
                                         AddressCase{0x3F, 0x00, 0, false}, AddressCase{0x14, 0x00, 1, true},
                                         AddressCase{0x14, 0x31, 50, true}, AddressCase{0x14, 0x32, 0, true},
                                         AddressCase{0x15, 0x00, 0, true}));

TEST(Identify, ConsecutiveMessagesOfOnePatternFormOnePiece) {
  ParserRig rig;
  const Bytes a = Msg(0x45, 0x00, 0x00, 0x00, 0x01);
  const Bytes b = Msg(0x45, 0x00, 0x01, 0x00, 0x02);
  EXPECT_TRUE(rig.Feed(Cat({a, b})).empty());
  EXPECT_EQ(rig.Pattern(6), Cat({a, b}));
  EXPECT_EQ(rig.tPieces.Text(), "U06 Missing Settings\r\n");
}

TEST(Identify, APieceBegunAgainAfterAnotherIsADuplicateYetItsBytesAreKept) {
  ParserRig rig;
  const Bytes u3a = Msg(0x42, 0, 0, 0, 1);
  const Bytes u4 = Msg(0x43, 0, 0, 0, 2);
  const Bytes u3b = Msg(0x42, 0, 1, 0, 3);
  const auto falses = rig.Feed(Cat({u3a, u4, u3b}));
  EXPECT_EQ(falses, std::vector<std::size_t>{u3a.size() + u4.size() + u3b.size() - 1});
  EXPECT_EQ(rig.Pattern(3), Cat({u3a, u3b}));
  EXPECT_EQ(rig.tPieces.Text(), "U03 Missing Settings\r\nU04 Missing Settings\r\n");
}

TEST(Identify, AResetBetweenMessagesMakesTheNextMessageOfAPieceADuplicate) {
  ParserRig rig;
  (void)rig.Feed(Msg(0x42, 0, 0, 0, 1));
  // A new file of a reload: LastKind None, so the piece cannot be continued.
  rig.parse.Store().LastKind = static_cast<std::int16_t>(mc303::PieceKind::None);
  EXPECT_EQ(rig.Feed(Msg(0x42, 0, 1, 0, 1)).size(), 1u);
}

TEST(Identify, PatternThenSettingsReplacesTheLineAndMovesItToTheEnd) {
  ParserRig rig;
  EXPECT_TRUE(rig.Feed(Cat({Msg(0x46, 0, 0, 0, 1), Msg(0x41, 0, 0, 0, 1)})).empty());
  EXPECT_EQ(rig.tPieces.Text(), "U07 Missing Settings\r\nU02 Missing Settings\r\n");
  EXPECT_TRUE(rig.Feed(Msg(0x14, 0x06, 0, 0, 1)).empty());
  EXPECT_EQ(rig.tPieces.Text(), "U02 Missing Settings\r\nU07\r\n");
  EXPECT_EQ(rig.tPieces.SelStart(), rig.tPieces.Length());
}

TEST(Identify, SettingsFirstReadSettingsOnlyUntilThePatternArrives) {
  ParserRig rig;
  (void)rig.Feed(Msg(0x14, 0x09, 0, 0, 1));
  EXPECT_EQ(rig.tPieces.Text(), "U10 Settings Only\r\n");
  (void)rig.Feed(Msg(0x49, 0, 0, 0, 1));
  EXPECT_EQ(rig.tPieces.Text(), "U10\r\n");
}

TEST(Identify, UnassignedAndStrayBytesStandInFrontOfTheNextPiece) {
  ParserRig rig;
  const Bytes stray = {0x01, 0x02, 0xF7};
  const Bytes nowhere = Msg(0x72, 0, 0, 0, 9);
  const Bytes u1 = Msg(0x40, 0, 0, 0, 1);
  const Bytes tail = {0x55};
  EXPECT_TRUE(rig.Feed(Cat({stray, nowhere, u1, tail})).empty());
  EXPECT_EQ(rig.Pattern(1), Cat({stray, nowhere, u1}));
  EXPECT_EQ(rig.Store().PendingBytes, tail);
}

TEST(Identify, PiecesBoxPastItsLimitKeepsItsLast8192CharactersThenTheNewLine) {
  ParserRig rig;
  // 3276 lines "X99\r\n" (number 99, never removed) and "abc" make 16383 characters;
  // the new line of 22 would pass 16384.
  std::string filler;
  for (int i = 0; i < 3276; ++i) filler += "X99\r\n";
  filler += "abc";  // 16383 characters, a final line without a line break
  rig.tPieces.SetText(filler);
  ASSERT_EQ(rig.tPieces.Length(), 16383);
  (void)rig.Feed(Msg(0x40, 0, 0, 0, 1));
  const std::string expected = filler.substr(filler.size() - 8192) + "U01 Missing Settings\r\n";
  // The cut starts inside a line ("99\r\n"), and "abcU01 Missing Settings\r\n" reads
  // its number from "bc": neither is a slot, so nothing is removed.
  EXPECT_EQ(rig.tPieces.Text(), expected);
}

TEST(Identify, OlderLineOfTheSameSlotIsRemovedWhereverItStands) {
  ParserRig rig;
  rig.tPieces.SetText("U05 Missing Settings\r\n\r\nZZ\r\nU07\r\n");
  rig.parse.AddPieceLine("U05\r\n");
  EXPECT_EQ(rig.tPieces.Text(), "ZZ\r\nU07\r\nU05\r\n");
}

TEST(Identify, PumpsEventsBeforeEachCharacterItExamines) {
  ParserRig rig;
  rig.tPieces.SetText("U01\r\n");
  const long before = rig.pump.calls;
  rig.parse.AddPieceLine("U02\r\n");
  // Ten characters walked, plus the final look past the end.
  EXPECT_EQ(rig.pump.calls - before, 11);
}

TEST(Identify, AStoreResetByAHandlerDuringTheBoxUpkeepFilesNoEmptyPiece) {
  ParserRig rig;
  bool resetDone = false;
  rig.pump.onPump = [&] {
    if (!resetDone) {
      resetDone = true;
      rig.parse.ResetPieceStore();
    }
  };
  (void)rig.Feed(Msg(0x40, 0, 0, 0, 1));
  EXPECT_FALSE(rig.Store().PatternPresent[0]);
  EXPECT_TRUE(rig.Pattern(1).empty());
}

TEST(Identify, ResetEmptiesEverySlotButLeavesTheReportBox) {
  ParserRig rig;
  (void)rig.Feed(Cat({Msg(0x40, 0, 0, 0, 1), Msg(0x14, 0, 0, 0, 1), {0x33}}));
  const std::string dev = rig.tDev.Text();
  rig.parse.ResetPieceStore();
  for (int s = 0; s < 50; ++s) {
    EXPECT_FALSE(rig.Store().PatternPresent[static_cast<std::size_t>(s)]);
    EXPECT_FALSE(rig.Store().SettingsPresent[static_cast<std::size_t>(s)]);
    EXPECT_TRUE(rig.Store().PatternData[static_cast<std::size_t>(s)].empty());
  }
  EXPECT_TRUE(rig.Store().PendingBytes.empty());
  EXPECT_EQ(rig.Store().LastSlot, 255);
  EXPECT_EQ(rig.Store().LastKind, 3);
  EXPECT_EQ(rig.tPieces.Text(), "");
  EXPECT_EQ(rig.tDev.Text(), dev);
  // The next report line starts a new list.
  (void)rig.Feed(Msg(0x41, 0, 0, 0, 1));
  EXPECT_EQ(rig.tDev.Text(), "41000000 2 BYTES.\r\n");
}

}  // namespace
