// InputBufferPool: the four 16 K buffers into which the MIDI layer writes received
// System Exclusive data for the program's whole life. Allocated and locked once at
// start-up, queued on the chosen input port, re-queued by the receive loop after it has
// emptied each one, moved to another port on a device change, freed at the end.
// Everything here runs on the user-interface thread.
//
// Each buffer is Idle (not with the layer), Queued (added to a port) or Out (returned
// by the layer and owned by the receive loop until it recycles it). The states keep a
// buffer from being queued twice when a device change runs inside the unpacking of a
// returned buffer: the change moves only the buffers the layer still held, and the
// loop recycles the one it holds to whichever port is selected by then.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "midi/MidiPorts.h"
#include "roles/Dialogs.h"
#include "roles/EventPump.h"

namespace midi {

inline constexpr int kPoolBufferCount = 4;
inline constexpr std::uint32_t kPoolBufferBytes = 16384;

// Blocks of memory that stay at one address while the layer may write into them.
// Handles are opaque; 0 means the allocation failed.
class BlockAllocator {
 public:
  virtual ~BlockAllocator() = default;
  // A zero-filled block of this many bytes, or 0.
  virtual std::uintptr_t Allocate(std::size_t bytes) = 0;
  // The block's fixed address, or nullptr when it cannot be locked now.
  virtual std::uint8_t* Lock(std::uintptr_t handle) = 0;
  virtual void Unlock(std::uintptr_t handle) = 0;
  virtual void Free(std::uintptr_t handle) = 0;
};

// Ordinary heap memory: it never moves, so locking is just handing out the address.
class HeapBlockAllocator final : public BlockAllocator {
 public:
  std::uintptr_t Allocate(std::size_t bytes) override;
  std::uint8_t* Lock(std::uintptr_t handle) override { return reinterpret_cast<std::uint8_t*>(handle); }
  void Unlock(std::uintptr_t) override {}
  void Free(std::uintptr_t handle) override;
};

enum class BufferState { Idle, Queued, Out };

struct PoolBuffer {
  std::uintptr_t handle = 0;        // 0 = not allocated
  std::uint8_t* locked = nullptr;   // nullptr = not locked
  MidiHdr header;                   // at a fixed address: the layer keeps pointers to it
  BufferState state = BufferState::Idle;
};

class InputBufferPool {
 public:
  InputBufferPool(MidiPorts& ports, BlockAllocator& allocator, roles::Dialogs& dialogs, roles::EventPump& pump);
  // Frees what is still allocated. Whoever owns the pool closes the input ports first.
  ~InputBufferPool();
  InputBufferPool(const InputBufferPool&) = delete;
  InputBufferPool& operator=(const InputBufferPool&) = delete;

  // Allocates and locks the four buffers. False when an allocation failed: the notice
  // "Could not allocate NK of RAM." has been shown and the program is to end at once.
  // A block that will not lock after 1000 retries shows "Cannot lock buffer B" and sets
  // quitRequested; no later lock is tried once it is set.
  [[nodiscard]] bool AllocatePool(bool& quitRequested);
  bool Allocated() const { return allocated_; }

  // Initialises every header and queues the four buffers on port.
  void QueuePool(PortHandle port);
  // Index of the buffer whose header holds this data address, or -1.
  int FindBufferByData(const std::uint8_t* data) const;
  // The receive loop has taken buffer b from the returned-buffer ring.
  void MarkReturned(int b);
  // Re-queues an emptied buffer; a failed preparation is shown and leaves it out. With
  // port 0 (no input active) the buffer is kept for the next device selection.
  void RecycleBuffer(int b, PortHandle port);
  // Device change: withdraw the buffers still queued on the old port ...
  void UnpreparePool(PortHandle port);
  // ... and queue the buffers that are free on the new one, headers as they stand.
  void RequeuePool(PortHandle port);
  // Unlocks and frees the four blocks.
  void ReleasePool();

  const PoolBuffer& Buffer(int b) const { return buffers_[static_cast<std::size_t>(b)]; }
  MidiHdr* Header(int b) { return &buffers_[static_cast<std::size_t>(b)].header; }

 private:
  void Queue(PoolBuffer& buffer, PortHandle port);

  MidiPorts& ports_;
  BlockAllocator& allocator_;
  roles::Dialogs& dialogs_;
  roles::EventPump& pump_;
  std::array<PoolBuffer, kPoolBufferCount> buffers_{};
  bool allocated_ = false;
};

}  // namespace midi
