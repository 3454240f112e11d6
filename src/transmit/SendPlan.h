// What a Send is to hand over, worked out from the listed files' bytes before the first
// one goes: how many bytes will go (up to the list's last 0xF7; a tail after it never
// does) and how many blocks are followed by the pause. The progress window's bar and
// time left count from it, so that the bar ends full and the time left holds the
// line's time and every pause, also for a list of many small files. Blocks are cut as
// the engine cuts them; the buffer size may change during a Send (the Speed window stays
// usable), so the blocks still to come are counted from any position.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "filelist/ListedFile.h"

namespace transmit {

class SendPlan {
 public:
  void Clear() { files_.clear(); }
  // The next listed file, read to its end; what cannot be read of it counts for nothing.
  void AddFile(filelist::ListedFile& file);

  std::int64_t BytesToSend() const;
  std::int64_t BytesListed() const;
  // The blocks followed by a pause that are still to come when `offset` bytes of the
  // listed file `file` (0 for the first) have been read, `pending` of them since the
  // last hand-over, and blocks end at the first 0xF7 past bufferSize bytes.
  std::int64_t PacedBlocksFrom(std::size_t file, std::int64_t offset, std::int64_t pending,
                               std::int32_t bufferSize) const;

 private:
  struct File {
    std::int64_t size = 0;
    std::vector<std::int64_t> messageEnds;  // the offset just past each 0xF7
  };
  std::vector<File> files_;
};

}  // namespace transmit
