// Names and writing of the .SYX files the program saves: the overall file and the two
// files of each complete user slot. Shared by the window's saving and the
// command-line front end so both name and write files alike.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "mc303/PieceStore.h"

namespace mc303 {

// A piece longer than this is refused: the per-piece save counts byte positions in
// 16 bits, and a file it could not finish must not be written half.
inline constexpr std::size_t kMaxPieceFileBytes = 32767;

// Only the exact forms ".SYX" and ".syx" count as the extension.
bool HasSyxExtension(const std::string& name);

// The overall file: ".SYX" is appended unless the name already ends in it.
std::string OverallFileName(const std::string& chosen);

// A chosen piece name serves as the base: a trailing ".SYX"/".syx" is removed when the
// name is longer than those four characters.
std::string PieceBaseName(const std::string& chosen);

// base + "_U" + two-digit user number + "P.SYX" (pattern) or "S.SYX" (settings).
std::string PieceFileName(const std::string& base, int slotIndex, PieceKind kind);

// Replaces the file at path with exactly these bytes, as platform::SafeFile writes: a
// failure leaves the old file as it was, a link is written through, a read-only file is
// refused. Returns the reason on failure.
std::optional<std::string> ReplaceFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);

// Reads a whole file; returns the reason on failure.
std::optional<std::string> ReadWholeFile(const std::filesystem::path& path, std::vector<std::uint8_t>& bytes);

}  // namespace mc303
