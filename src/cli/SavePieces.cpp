#include "cli/SavePieces.h"

#include <list>

#include "cli/OutputFile.h"
#include "mc303/SyxFiles.h"
#include "platform/Platform.h"

namespace cli {

bool AnyCompleteSlot(const mc303::PieceStore& store) {
  for (int s = 0; s < mc303::kUserSlots; ++s) {
    const auto i = static_cast<std::size_t>(s);
    if (store.PatternPresent[i] && store.SettingsPresent[i]) return true;
  }
  return false;
}

std::vector<std::string> PieceFilePaths(const mc303::PieceStore* store, const std::string& base) {
  std::vector<std::string> paths;
  for (int s = 0; s < mc303::kUserSlots; ++s) {
    const auto i = static_cast<std::size_t>(s);
    if (store != nullptr && (!store->PatternPresent[i] || !store->SettingsPresent[i])) continue;
    for (mc303::PieceKind kind : {mc303::PieceKind::Pattern, mc303::PieceKind::Settings}) {
      paths.push_back(mc303::PieceFileName(base, s, kind));
    }
  }
  return paths;
}

bool PieceFilesClash(const std::vector<std::string>& pieces, const std::vector<std::string>& others,
                     const std::string& othersAre, Console& console) {
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    for (const std::string& other : others) {
      if (SameFile(other, pieces[i])) {
        console.Error(pieces[i], "is the same file as " + othersAre + InputName(other) + "; nothing written");
        return true;
      }
    }
    // Two names of one file: the second would replace the first.
    for (std::size_t j = 0; j < i; ++j) {
      if (SameFile(pieces[j], pieces[i])) {
        console.Error(pieces[i], "is the same file as " + pieces[j] + ", written before it; nothing written");
        return true;
      }
    }
  }
  return false;
}

std::optional<std::vector<std::string>> WritePieceFiles(const mc303::PieceStore& store, const PieceTally& pieces,
                                                        const std::string& base, Console& console) {
  std::vector<std::string> paths;
  std::list<platform::SafeFile> files;  // discarded together unless every one is complete
  for (int s = 0; s < mc303::kUserSlots; ++s) {
    const auto i = static_cast<std::size_t>(s);
    if (!store.PatternPresent[i] || !store.SettingsPresent[i]) continue;
    for (mc303::PieceKind kind : {mc303::PieceKind::Pattern, mc303::PieceKind::Settings}) {
      const bool pattern = kind == mc303::PieceKind::Pattern;
      const std::uint64_t size = (pattern ? pieces.patternBytes : pieces.settingsBytes)[i];
      const std::string path = mc303::PieceFileName(base, s, kind);
      if (size > mc303::kMaxPieceFileBytes) {
        console.Error(path, "the piece holds " + std::to_string(size) + " bytes, more than " +
                                std::to_string(mc303::kMaxPieceFileBytes) + "; no piece file written");
        return std::nullopt;
      }
      platform::SafeFile& file = files.emplace_back();
      std::optional<std::string> error = file.Open(path);
      for (const mc303::ByteString& part : (pattern ? pieces.patternParts : pieces.settingsParts)[i]) {
        if (!error) error = file.Write(part.data(), part.size());
      }
      if (error) {
        console.Error(path, *error + "; no piece file written");
        return std::nullopt;
      }
      paths.push_back(path);
    }
  }
  std::size_t committed = 0;
  for (platform::SafeFile& file : files) {
    if (auto error = file.Commit()) {
      console.Error(paths[committed], *error + "; " + std::to_string(committed) + " of " +
                                          std::to_string(paths.size()) + " piece files written before it");
      return std::nullopt;
    }
    ++committed;
  }
  return paths;
}

bool CanWritePieceFiles(const std::string& base, Console& console) {
  const std::string path = mc303::PieceFileName(base, 0, mc303::PieceKind::Pattern);
  platform::SafeFile probe;
  if (auto error = probe.Open(path)) {
    console.Error(path, *error);
    return false;
  }
  return true;
}

}  // namespace cli
