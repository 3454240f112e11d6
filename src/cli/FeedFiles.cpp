#include "cli/FeedFiles.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <new>
#include <string_view>
#include <utility>

#include "mc303/SyxFiles.h"
#include "platform/Platform.h"
#include "smf/StandardMidiFile.h"

namespace cli {
namespace {

constexpr std::size_t kChunkBytes = 256 * 1024;

std::string TooLarge() { return "is larger than " + std::to_string(kMaxInputBytes >> 20) + " MiB, more than any dump"; }

bool StandardInputAtMostOnce(const std::vector<std::string>& names, Console& console) {
  if (std::count(names.begin(), names.end(), kStandardStream) <= 1) return true;
  console.Error(InputName(kStandardStream), "named more than once; it can be read only once");
  return false;
}

}  // namespace

void InputReader::Closer::operator()(std::FILE* f) const {
  if (f != stdin) std::fclose(f);
}

InputReader::InputReader(std::string name, Midi midi) : name_(std::move(name)), midi_(midi) {}
InputReader::~InputReader() = default;
InputReader::InputReader(InputReader&&) noexcept = default;
InputReader& InputReader::operator=(InputReader&&) noexcept = default;

std::optional<std::string> InputReader::Open() {
  namespace fs = std::filesystem;
  if (name_ == kStandardStream) {
    file_.reset(stdin);
  } else {
    std::error_code ec;
    const fs::file_status status = fs::status(name_, ec);
    if (fs::is_directory(status)) return error_ = "is a directory";
    if (fs::is_regular_file(status)) {
      const std::uintmax_t size = fs::file_size(name_, ec);
      if (!ec && size > kMaxInputBytes) return error_ = TooLarge();
      if (!ec) knownSize_ = size;
    }
    int error = 0;
    file_.reset(platform::OpenForReading(name_, error));
    if (!file_) return error_ = platform::ErrorText(error);
  }
  if (midi_ == Midi::Raw) return std::nullopt;
  // The first bytes tell a MIDI file; they are given again by the first Next.
  constexpr std::string_view kMidiHeader = "MThd";
  const std::span<const std::uint8_t> head = ReadChunk(kMidiHeader.size());
  peeked_ = head.size();
  if (error_) return error_;
  if (!std::equal(kMidiHeader.begin(), kMidiHeader.end(), head.begin(), head.end())) return std::nullopt;
  return Decode();
}

std::optional<std::string> InputReader::Decode() {
  smf::ByteString file(chunk_.begin(), chunk_.begin() + static_cast<std::ptrdiff_t>(peeked_));
  peeked_ = 0;
  if (knownSize_) file.reserve(static_cast<std::size_t>(*knownSize_));
  for (auto piece = ReadChunk(kChunkBytes); !piece.empty(); piece = ReadChunk(kChunkBytes)) {
    file.insert(file.end(), piece.begin(), piece.end());
  }
  if (error_) return error_;
  smf::SmfReadResult read = smf::ReadSysexFromSmf(std::move(file));
  if (read.error) return error_ = smf::SmfErrorText(*read.error);
  sysex_ = std::move(read.sysex.bytes);
  knownSize_ = sysex_.size();
  decoded_ = true;
  return std::nullopt;
}

std::span<const std::uint8_t> InputReader::ReadChunk(std::size_t most) {
  if (!file_ || error_) return {};
  chunk_.resize(kChunkBytes);
  // A producer that stalls (standard input, a FIFO) holds the read up only until a stop
  // signal: then the file cannot be read, and says why.
  int error = 0;
  const std::size_t n = platform::ReadWaiting(file_.get(), chunk_.data(), most, error);
  if (error != 0) {
    error_ = platform::ErrorText(error);
    file_.reset();
    return {};
  }
  if (n == 0) {
    file_.reset();
    return {};
  }
  read_ += n;
  if (read_ > kMaxInputBytes) {
    error_ = TooLarge();
    file_.reset();
    return {};
  }
  return {chunk_.data(), n};
}

std::span<const std::uint8_t> InputReader::Next() {
  if (decoded_) {
    decoded_ = false;  // given once, whole
    return sysex_;
  }
  if (peeked_ > 0) {
    const std::size_t n = std::exchange(peeked_, 0);
    return {chunk_.data(), n};
  }
  return ReadChunk(kChunkBytes);
}

std::optional<std::string> ReadInputFile(const std::string& name, std::vector<std::uint8_t>& bytes,
                                         InputReader::Midi midi) {
  bytes.clear();
  try {
    InputReader reader(name, midi);
    if (auto error = reader.Open()) return error;
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
    InputReader& reader = inputs.emplace_back(name);
    if (auto error = reader.Open()) {
      console.Error(InputName(name), *error);
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

filelist::FilePtr InputsByName::Open(const std::string& name) const {
  const std::vector<std::uint8_t>* bytes = Bytes(name);
  return filelist::FilePtr(bytes != nullptr ? platform::OpenBytesForReading(bytes->data(), bytes->size()) : nullptr);
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

  bool ok = true;
  session.parse.ResetPieceStore();
  session.flags.RecordingActive = true;
  for (InputReader& input : inputs) {
    starts.push_back(session.parse.BytesFed());
    session.parse.Store().LastKind = static_cast<std::int16_t>(mc303::PieceKind::None);
    for (auto piece = input.Next(); !piece.empty(); piece = input.Next()) {
      for (std::uint8_t b : piece) (void)session.parse.ParseMidiByte(b, true);
    }
    if (input.Error()) {
      console.Error(InputName(input.Name()), *input.Error());
      ok = false;
      break;
    }
  }
  session.parse.CloseOutfile();
  session.flags.RecordingActive = false;
  session.parse.SetMessageObserver(nullptr);
  return ok;
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

std::string UserName(int userNumber) {
  return std::string("U") + static_cast<char>('0' + userNumber / 10) + static_cast<char>('0' + userNumber % 10);
}

}  // namespace cli
