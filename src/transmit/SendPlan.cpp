#include "transmit/SendPlan.h"

#include <algorithm>

namespace transmit {

void SendPlan::AddFile(filelist::ListedFile& file) {
  File f;
  for (auto piece = file.Next(); !piece.empty(); piece = file.Next()) {
    for (const std::uint8_t b : piece) {
      ++f.size;
      if (b == 0xF7) f.messageEnds.push_back(f.size);
    }
  }
  files_.push_back(std::move(f));
}

std::int64_t SendPlan::BytesToSend() const {
  std::int64_t before = 0;
  std::int64_t total = 0;
  for (const File& f : files_) {
    if (!f.messageEnds.empty()) total = before + f.messageEnds.back();
    before += f.size;
  }
  return total;
}

std::int64_t SendPlan::BytesListed() const {
  std::int64_t total = 0;
  for (const File& f : files_) total += f.size;
  return total;
}

std::int64_t SendPlan::PacedBlocksFrom(std::size_t file, std::int64_t offset, std::int64_t pending,
                                       std::int32_t bufferSize) const {
  std::int64_t blocks = 0;
  std::int64_t count = pending;
  for (std::size_t f = file; f < files_.size(); ++f) {
    const File& here = files_[f];
    std::int64_t read = f == file ? offset : 0;
    auto end = std::upper_bound(here.messageEnds.begin(), here.messageEnds.end(), read);
    for (; end != here.messageEnds.end(); ++end) {
      count += *end - read;
      read = *end;
      if (count > bufferSize) {
        ++blocks;
        count = 0;
      }
    }
    count += here.size - read;
    const bool endsAtF7 = !here.messageEnds.empty() && here.messageEnds.back() == here.size;
    if (endsAtF7 && count > 0) {
      // The rest of a file is paced when another name follows it.
      if (f + 1 < files_.size()) ++blocks;
      count = 0;
    }
  }
  return blocks;
}

}  // namespace transmit
