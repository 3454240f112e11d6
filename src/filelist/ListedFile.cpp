#include "filelist/ListedFile.h"

#include <algorithm>
#include <filesystem>
#include <string_view>
#include <utility>

#include "platform/Platform.h"
#include "smf/StandardMidiFile.h"

namespace filelist {
namespace {

// Small enough that a read error shows before much of a file has been sent.
constexpr std::size_t kChunkBytes = 4096;

std::string TooLarge() { return "is larger than " + std::to_string(kMaxListedBytes >> 20) + " MiB, more than any dump"; }

}  // namespace

void ListedFile::Closer::operator()(std::FILE* f) const {
  if (f != stdin) std::fclose(f);
}

ListedFile::ListedFile(std::string name, Midi midi, bool standardInput) : name_(std::move(name)) {
  if (standardInput) {
    file_.reset(stdin);
  } else {
    OpenByName();
  }
  if (midi == Midi::Raw || !file_) return;
  // The first bytes tell a MIDI file; they are given again by the first Next.
  constexpr std::string_view kMidiHeader = "MThd";
  const std::span<const std::uint8_t> head = ReadChunk(kMidiHeader.size());
  peeked_ = head.size();
  if (std::equal(kMidiHeader.begin(), kMidiHeader.end(), head.begin(), head.end())) Decode();
}

void ListedFile::OpenByName() {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::file_status status = fs::status(name_, ec);
  // A folder opens for reading on some systems and then fails at the first read.
  if (fs::is_directory(status)) return Fail(Failure::Open, "is a directory");
  if (fs::is_regular_file(status)) {
    const std::uintmax_t size = fs::file_size(name_, ec);
    if (!ec) knownSize_ = size;
    if (knownSize_ > kMaxListedBytes) return Fail(Failure::Read, TooLarge());
  }
  int error = 0;
  file_.reset(platform::OpenForReading(name_, error));
  if (!file_) Fail(Failure::Open, platform::ErrorText(error));
}

ListedFile::ListedFile(std::string name, std::span<const std::uint8_t> bytes)
    : name_(std::move(name)), whole_(bytes), knownSize_(bytes.size()) {}

ListedFile::~ListedFile() = default;
ListedFile::ListedFile(ListedFile&&) noexcept = default;
ListedFile& ListedFile::operator=(ListedFile&&) noexcept = default;

void ListedFile::Fail(Failure failure, std::string why) {
  failure_ = failure;
  error_ = std::move(why);
  file_.reset();
  whole_ = {};
}

void ListedFile::Decode() {
  smf::ByteString file(chunk_.begin(), chunk_.begin() + static_cast<std::ptrdiff_t>(peeked_));
  peeked_ = 0;
  if (knownSize_) file.reserve(static_cast<std::size_t>(*knownSize_));
  for (auto piece = ReadChunk(kChunkBytes); !piece.empty(); piece = ReadChunk(kChunkBytes)) {
    file.insert(file.end(), piece.begin(), piece.end());
  }
  if (failure_ != Failure::None) return;
  smf::SmfReadResult read = smf::ReadSysexFromSmf(std::move(file));
  if (read.error) return Fail(Failure::Damaged, smf::SmfErrorText(*read.error));
  sysex_ = std::move(read.sysex.bytes);
  whole_ = sysex_;
  knownSize_ = sysex_.size();
}

std::span<const std::uint8_t> ListedFile::ReadChunk(std::size_t most) {
  if (!file_) return {};
  chunk_.resize(kChunkBytes);
  // A producer that stalls (standard input, a FIFO) holds the read up only until a stop
  // signal: then the file cannot be read, and says why.
  int error = 0;
  const std::size_t n = platform::ReadWaiting(file_.get(), chunk_.data(), most, error);
  if (error != 0) {
    Fail(Failure::Read, platform::ErrorText(error));
    return {};
  }
  read_ += n;
  if (read_ > kMaxListedBytes) {
    Fail(Failure::Read, TooLarge());
    return {};
  }
  if (n == 0) file_.reset();
  return {chunk_.data(), n};
}

std::span<const std::uint8_t> ListedFile::Next() {
  if (!whole_.empty()) return std::exchange(whole_, {});
  if (peeked_ > 0) return {chunk_.data(), std::exchange(peeked_, 0)};
  return ReadChunk(kChunkBytes);
}

}  // namespace filelist
