#include "cli/FeedFiles.h"

#include <algorithm>
#include <iostream>

#include "cli/StandardMidiFile.h"
#include "mc303/SyxFiles.h"

namespace cli {

bool LoadInputFiles(const std::vector<std::string>& names, std::vector<InputFile>& files) {
  files.clear();
  for (const std::string& name : names) {
    InputFile f;
    f.name = name;
    if (auto error = mc303::ReadWholeFile(name, f.bytes)) {
      std::cerr << name << ": cannot read: " << *error << '\n';
      return false;
    }
    SmfReadResult sysex = SysexOfFile(std::move(f.bytes));
    if (sysex.error) {
      std::cerr << name << ": " << SmfErrorText(*sysex.error) << '\n';
      return false;
    }
    f.bytes = std::move(sysex.sysex.bytes);
    files.push_back(std::move(f));
  }
  return true;
}

std::vector<FedMessage> FeedAsReload(CliSession& session, const std::vector<InputFile>& files) {
  std::vector<FedMessage> messages;
  // Feed index at which each file starts, to turn a message's start back into a
  // file and an offset.
  std::vector<std::uint64_t> starts;
  session.parse.SetMessageObserver([&](const mc303::MessageReport& r) {
    FedMessage m;
    m.report = r;
    const auto it = std::upper_bound(starts.begin(), starts.end(), r.startIndex);
    m.fileIndex = static_cast<std::size_t>(std::max<std::ptrdiff_t>(0, (it - starts.begin()) - 1));
    m.offset = r.startIndex - starts[m.fileIndex];
    messages.push_back(std::move(m));
  });

  session.parse.ResetPieceStore();
  session.flags.RecordingActive = true;
  for (const InputFile& f : files) {
    starts.push_back(session.parse.BytesFed());
    session.parse.Store().LastKind = static_cast<std::int16_t>(mc303::PieceKind::None);
    for (std::uint8_t b : f.bytes) (void)session.parse.ParseMidiByte(b, true);
  }
  session.parse.CloseOutfile();
  session.flags.RecordingActive = false;
  session.parse.SetMessageObserver(nullptr);
  return messages;
}

const char* OutcomeName(mc303::MessageOutcome outcome) {
  switch (outcome) {
    case mc303::MessageOutcome::New: return "new";
    case mc303::MessageOutcome::Continued: return "continued";
    case mc303::MessageOutcome::Duplicate: return "duplicate";
    case mc303::MessageOutcome::NoPiece: return "no-piece";
    case mc303::MessageOutcome::BadChecksum: return "bad-checksum";
  }
  return "no-piece";
}

const char* KindName(mc303::PieceKind kind) {
  return kind == mc303::PieceKind::Settings ? "settings" : "pattern";
}

}  // namespace cli
