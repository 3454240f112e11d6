// Naming and writing of the saved .SYX files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "mc303/SyxFiles.h"

namespace {

TEST(SyxFiles, OverallNameGetsSyxUnlessItEndsInAnExactForm) {
  EXPECT_EQ(mc303::OverallFileName("DUMP"), "DUMP.SYX");
  EXPECT_EQ(mc303::OverallFileName("DUMP.syx"), "DUMP.syx");
  EXPECT_EQ(mc303::OverallFileName("DUMP.SYX"), "DUMP.SYX");
  EXPECT_EQ(mc303::OverallFileName("DUMP.Syx"), "DUMP.Syx.SYX");
  EXPECT_EQ(mc303::OverallFileName(".SYX"), ".SYX");
  EXPECT_EQ(mc303::OverallFileName("SYX"), "SYX.SYX");
}

TEST(SyxFiles, PieceBaseLosesTheExtensionOnlyWhenLongerThanIt) {
  EXPECT_EQ(mc303::PieceBaseName("SET.SYX"), "SET");
  EXPECT_EQ(mc303::PieceBaseName("/a/SET.syx"), "/a/SET");
  EXPECT_EQ(mc303::PieceBaseName(".SYX"), ".SYX");
  EXPECT_EQ(mc303::PieceBaseName("SET.Syx"), "SET.Syx");
  EXPECT_EQ(mc303::PieceFileName(".SYX", 0, mc303::PieceKind::Pattern), ".SYX_U01P.SYX");
  EXPECT_EQ(mc303::PieceFileName("MYSET", 6, mc303::PieceKind::Pattern), "MYSET_U07P.SYX");
  EXPECT_EQ(mc303::PieceFileName("MYSET", 49, mc303::PieceKind::Settings), "MYSET_U50S.SYX");
}

TEST(SyxFiles, ReplaceWritesExactBytesAndAFailureLeavesTheOldFile) {
  const auto dir = std::filesystem::temp_directory_path() / "vz-syxfiles-test";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const auto path = dir / "A.SYX";
  const std::vector<std::uint8_t> first = {0xF0, 0x00, 0x0D, 0x0A, 0x1A, 0xF7};
  ASSERT_FALSE(mc303::ReplaceFile(path, first).has_value());
  std::vector<std::uint8_t> back;
  ASSERT_FALSE(mc303::ReadWholeFile(path, back).has_value());
  EXPECT_EQ(back, first);

  EXPECT_FALSE(mc303::ReplaceFile(path, {0x01}).has_value());
  ASSERT_FALSE(mc303::ReadWholeFile(path, back).has_value());
  EXPECT_EQ(back, std::vector<std::uint8_t>{0x01});

  // A directory standing where the file should go cannot be replaced; nothing else
  // in the folder changes.
  std::filesystem::create_directories(dir / "B.SYX" / "inner");
  EXPECT_TRUE(mc303::ReplaceFile(dir / "B.SYX", first).has_value());
  EXPECT_TRUE(std::filesystem::is_directory(dir / "B.SYX" / "inner"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()), 2);

  EXPECT_TRUE(mc303::ReplaceFile(dir / "missing" / "C.SYX", first).has_value());
  EXPECT_TRUE(mc303::ReadWholeFile(dir / "missing.SYX", back).has_value());
  std::filesystem::remove_all(dir);
}

}  // namespace
