// Naming of the saved .SYX files (how they are written: the command line's hostile cases).
#include <gtest/gtest.h>

#include <array>

#include "mc303/SyxFiles.h"

namespace {

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

}  // namespace
