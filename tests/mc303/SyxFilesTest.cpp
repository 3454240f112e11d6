// Naming and writing of the saved .SYX files.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>

#include "mc303/SyxFiles.h"

namespace {

namespace fs = std::filesystem;

TEST(SyxFiles, NamesFollowTheExtensionRules) {
  // The overall file gets .SYX unless it ends in .SYX or .syx exactly; a piece base loses
  // such an ending only when the name is longer than it.
  for (const auto& [typed, overall, pieceBase] : {std::array<std::string, 3>{"DUMP", "DUMP.SYX", "DUMP"},
                                                  {"/a/D.syx", "/a/D.syx", "/a/D"}, {"D.Syx", "D.Syx.SYX", "D.Syx"},
                                                  {".SYX", ".SYX", ".SYX"}, {"SYX", "SYX.SYX", "SYX"}}) {
    EXPECT_EQ(mc303::OverallFileName(typed), overall);
    EXPECT_EQ(mc303::PieceBaseName(typed), pieceBase);
  }
  EXPECT_EQ(mc303::PieceFileName(".SYX", 49, mc303::PieceKind::Settings), ".SYX_U50S.SYX");
}

TEST(SyxFiles, ReplaceWritesExactBytesAndAFailureLeavesTheOldFile) {
  const auto dir = fs::temp_directory_path() / "vz-syxfiles-test";
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::vector<std::uint8_t> bytes = {0xF0, 0x00, 0x0D, 0x0A, 0x1A, 0xF7};
  std::vector<std::uint8_t> back;
  ASSERT_FALSE(mc303::ReplaceFile(dir / "A.SYX", std::vector<std::uint8_t>(10, 0x55)).has_value());
  ASSERT_FALSE(mc303::ReplaceFile(dir / "A.SYX", bytes).has_value());
  ASSERT_FALSE(mc303::ReadWholeFile(dir / "A.SYX", back).has_value());
  EXPECT_EQ(back, bytes);

  // A folder standing where the file should go cannot be replaced; nothing else in the
  // folder changes.
  fs::create_directories(dir / "B.SYX" / "inner");
  EXPECT_TRUE(mc303::ReplaceFile(dir / "B.SYX", bytes).has_value());
  EXPECT_TRUE(fs::is_directory(dir / "B.SYX" / "inner"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
  fs::remove_all(dir);
}

}  // namespace
