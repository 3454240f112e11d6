#include "cli/FeedFiles.h"

#include <algorithm>
#include <new>
#include <span>

#include "filelist/FileList.h"
#include "mc303/SyxFiles.h"
#include "roles/ProgressWindow.h"

namespace cli {
namespace {

bool StandardInputAtMostOnce(const std::vector<std::string>& names, Console& console) {
  if (std::count(names.begin(), names.end(), kStandardStream) <= 1) return true;
  console.Error(InputName(kStandardStream), "named more than once; it can be read only once");
  return false;
}

}  // namespace

InputReader OpenInput(const std::string& name, InputReader::Midi midi) {
  return InputReader(name, midi, name == kStandardStream);
}

std::optional<std::string> ReadInputFile(const std::string& name, std::vector<std::uint8_t>& bytes,
                                         InputReader::Midi midi) {
  bytes.clear();
  try {
    InputReader reader = OpenInput(name, midi);
    if (reader.Error()) return reader.Error();
    if (reader.KnownSize()) bytes.reserve(static_cast<std::size_t>(*reader.KnownSize()));
    for (auto piece = reader.Next(); !piece.empty(); piece = reader.Next()) {
      bytes.insert(bytes.end(), piece.begin(), piece.end());
    }
    if (reader.Error()) return reader.Error();
  } catch (const std::bad_alloc&) {
    bytes = {};
    return std::string("not enough memory to read it");
  }
  return std::nullopt;
}

bool OpenInputFiles(const std::vector<std::string>& names, std::vector<InputReader>& inputs, Console& console) {
  inputs.clear();
  if (!StandardInputAtMostOnce(names, console)) return false;
  for (const std::string& name : names) {
    const InputReader& reader = inputs.emplace_back(OpenInput(name));
    if (reader.Error()) {
      console.Error(InputName(name), *reader.Error());
      return false;
    }
  }
  return true;
}

bool LoadInputFiles(const std::vector<std::string>& names, std::vector<InputFile>& files, Console& console) {
  files.clear();
  if (!StandardInputAtMostOnce(names, console)) return false;
  for (const std::string& name : names) {
    InputFile& f = files.emplace_back();
    f.name = name;
    if (auto error = ReadInputFile(name, f.bytes)) {
      console.Error(InputName(name), *error);
      return false;
    }
  }
  return true;
}

InputsByName::InputsByName(const std::vector<InputFile>& files) {
  for (const InputFile& f : files) byName_.emplace(f.name, &f.bytes);
}

const std::vector<std::uint8_t>* InputsByName::Bytes(const std::string& name) const {
  const auto it = byName_.find(name);
  return it == byName_.end() ? nullptr : it->second;
}

filelist::ListedFile InputsByName::Open(const std::string& name) const {
  const std::vector<std::uint8_t>* bytes = Bytes(name);
  return filelist::ListedFile(name, bytes != nullptr ? std::span<const std::uint8_t>(*bytes) : std::span<const std::uint8_t>());
}

void PieceTally::Take(mc303::PieceStore& store, const mc303::MessageReport& report) {
  if (report.userNumber < 1 || report.userNumber > mc303::kUserSlots) return;
  const auto i = static_cast<std::size_t>(report.userNumber - 1);
  const bool pattern = report.kind == mc303::PieceKind::Pattern;
  mc303::ByteString& data = pattern ? store.PatternData[i] : store.SettingsData[i];
  const std::uint64_t size = (pattern ? patternBytes : settingsBytes)[i] += data.size();
  if (keepBytes && size > mc303::kMaxPieceFileBytes) {
    // Too long for a piece file: it is never written, so its bytes need no keeping.
    (pattern ? patternParts : settingsParts)[i] = {};
  } else if (keepBytes && !data.empty()) {
    // Blocks of a fixed size, filled in turn: no allocation per message, no copy of what
    // is already kept.
    std::vector<mc303::ByteString>& parts = (pattern ? patternParts : settingsParts)[i];
    constexpr std::size_t kBlockBytes = 64 * 1024;
    if (parts.empty() || parts.back().size() + data.size() > parts.back().capacity()) {
      parts.emplace_back().reserve(std::max(kBlockBytes, data.size()));
    }
    parts.back().insert(parts.back().end(), data.begin(), data.end());
  }
  data.clear();
}

void PieceTally::TakeAll(mc303::PieceStore& store) {
  for (int s = 0; s < mc303::kUserSlots; ++s) {
    for (mc303::PieceKind kind : {mc303::PieceKind::Pattern, mc303::PieceKind::Settings}) {
      mc303::MessageReport whole;
      whole.userNumber = s + 1;
      whole.kind = kind;
      Take(store, whole);
    }
  }
}

bool FeedAsReload(CliSession& session, std::vector<InputReader>& inputs,
                  const std::function<void(const FedMessage&)>& sink, PieceTally& tally, Console& console) {
  // Feed index at which each input starts, to turn a message's start back into a file
  // and an offset.
  std::vector<std::uint64_t> starts;
  FedMessage m;
  session.parse.SetMessageObserver([&](const mc303::MessageReport& r) {
    m.report = r;
    const auto it = std::upper_bound(starts.begin(), starts.end(), r.startIndex);
    m.fileIndex = static_cast<std::size_t>(std::max<std::ptrdiff_t>(0, (it - starts.begin()) - 1));
    m.offset = r.startIndex - starts[m.fileIndex];
    tally.Take(session.parse.Store(), r);
    if (sink) sink(m);
  });
  roles::NoProgressWindow noSplash;
  const filelist::ReloadFailure failure = filelist::ReloadFiles(
      {session.flags, session.parse, session.pump, noSplash}, filelist::Reports::On,
      [&]() -> InputReader* {
        if (starts.size() == inputs.size()) return nullptr;
        starts.push_back(session.parse.BytesFed());
        return &inputs[starts.size() - 1];
      },
      [&](const InputReader& input, filelist::ReloadFailure) {
        console.Error(InputName(input.Name()), input.Error().value_or(""));
      });
  session.parse.SetMessageObserver(nullptr);
  return failure == filelist::ReloadFailure::None;
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
