#include "mc303/Backup.h"

#include "mc303/OutputLogFile.h"
#include "mc303/SharedFlags.h"
#include "mc303/SysexIntake.h"
#include "roles/Dialogs.h"
#include "roles/EventPump.h"
#include "roles/TextBox.h"

namespace mc303 {
namespace {

// Nothing is logged here, so the parser has nothing to tell; were it to ask, No.
class SilentDialogs final : public roles::Dialogs {
 public:
  roles::Answer MessageBox(std::string_view, roles::Buttons buttons, std::string_view, roles::Icon) override {
    return buttons == roles::Buttons::Ok ? roles::Answer::Ok : roles::Answer::No;
  }
  std::optional<std::string> SaveFileDialog(std::string_view, std::string_view) override { return std::nullopt; }
  std::optional<std::string> OpenFileDialog(std::string_view, std::string_view) override { return std::nullopt; }
};

}  // namespace

PieceStore FileBytes(std::span<const std::uint8_t> bytes, const std::function<void(const MessageReport&)>& onMessage) {
  SharedFlags flags;  // RecordingActive stays off: no log, no report lines
  roles::TextBox pieces{16384};
  roles::TextBox reports{1024};
  roles::NoEventPump pump;
  SilentDialogs dialogs;
  MemoryLogFile log;
  SysexIntake parse(flags, pieces, reports, pump, dialogs, log);
  parse.ResetPieceStore();
  parse.SetMessageObserver(onMessage);
  for (const std::uint8_t b : bytes) (void)parse.ParseMidiByte(b, false);
  return std::move(parse.Store());
}

Backup ReadBackup(std::span<const std::uint8_t> bytes) {
  Backup backup;
  PieceStore store = FileBytes(bytes, [&backup](const MessageReport& r) {
    if (r.outcome == MessageOutcome::BadChecksum) ++backup.badChecksums;
    if (r.outcome == MessageOutcome::Duplicate) ++backup.duplicates;
  });
  for (std::size_t s = 0; s < kUserSlots; ++s) {
    if (store.PatternPresent[s]) backup.patterns[s] = std::move(store.PatternData[s]);
    if (store.SettingsPresent[s]) backup.settings[s] = std::move(store.SettingsData[s]);
  }
  return backup;
}

std::vector<PieceComparison> CompareBackups(const Backup& a, const Backup& b) {
  std::vector<PieceComparison> pieces;
  for (int s = 0; s < kUserSlots; ++s) {
    for (const PieceKind kind : {PieceKind::Pattern, PieceKind::Settings}) {
      const std::optional<ByteString>& inA = a.Piece(s, kind);
      const std::optional<ByteString>& inB = b.Piece(s, kind);
      if (!inA && !inB) continue;
      const PieceStatus status = !inB ? PieceStatus::OnlyA
                                 : !inA ? PieceStatus::OnlyB
                                 : *inA == *inB ? PieceStatus::Same
                                                : PieceStatus::Differs;
      pieces.push_back({s + 1, kind, status});
    }
  }
  return pieces;
}

}  // namespace mc303
