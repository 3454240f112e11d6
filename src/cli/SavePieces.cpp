#include "cli/SavePieces.h"

#include "cli/Commands.h"
#include "mc303/SyxFiles.h"

namespace cli {

bool AnyCompleteSlot(const mc303::PieceStore& store) {
  for (int s = 0; s < mc303::kUserSlots; ++s) {
    const auto i = static_cast<std::size_t>(s);
    if (store.PatternPresent[i] && store.SettingsPresent[i]) return true;
  }
  return false;
}

int WritePieceFiles(const mc303::PieceStore& store, const std::string& base, std::ostream& out, std::ostream& err) {
  int status = kExitOk;
  for (int s = 0; s < mc303::kUserSlots; ++s) {
    const auto i = static_cast<std::size_t>(s);
    if (!store.PatternPresent[i] || !store.SettingsPresent[i]) continue;
    for (mc303::PieceKind kind : {mc303::PieceKind::Pattern, mc303::PieceKind::Settings}) {
      const auto& bytes = kind == mc303::PieceKind::Pattern ? store.PatternData[i] : store.SettingsData[i];
      const std::string path = mc303::PieceFileName(base, s, kind);
      if (bytes.size() > mc303::kMaxPieceFileBytes) {
        err << path << ": not written: the piece holds " << bytes.size() << " bytes, more than "
            << mc303::kMaxPieceFileBytes << '\n';
        status = kExitUsageOrIo;
        break;  // as in the window, a slot whose pattern file fails gets no settings file
      }
      if (auto error = mc303::ReplaceFile(path, bytes)) {
        err << path << ": cannot write: " << *error << '\n';
        status = kExitUsageOrIo;
        break;
      }
      out << path << '\n';
    }
  }
  return status;
}

}  // namespace cli
