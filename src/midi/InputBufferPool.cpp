#include "midi/InputBufferPool.h"

#include <cstdlib>
#include <string>

#include "midi/MidiError.h"

namespace midi {
namespace {
// A lock that keeps failing is retried this often, pumping events in between, before
// the program gives up on the buffer.
constexpr int kLockRetries = 1000;
}  // namespace

std::uintptr_t HeapBlockAllocator::Allocate(std::size_t bytes) {
  return reinterpret_cast<std::uintptr_t>(std::calloc(bytes, 1));
}

void HeapBlockAllocator::Free(std::uintptr_t handle) { std::free(reinterpret_cast<void*>(handle)); }

InputBufferPool::InputBufferPool(MidiPorts& ports, BlockAllocator& allocator, roles::Dialogs& dialogs,
                                 roles::EventPump& pump)
    : ports_(ports), allocator_(allocator), dialogs_(dialogs), pump_(pump) {}

InputBufferPool::~InputBufferPool() { ReleasePool(); }

bool InputBufferPool::AllocatePool(bool& quitRequested) {
  for (int b = 0; b < kPoolBufferCount; ++b) {
    PoolBuffer& buffer = buffers_[static_cast<std::size_t>(b)];
    buffer.handle = allocator_.Allocate(kPoolBufferBytes);
    if (buffer.handle == 0) {
      // The figure is the total asked for so far: 16 for the first buffer, 64 for the last.
      dialogs_.MessageBox("Could not allocate " + std::to_string((b + 1) * 16) + "K of RAM.", roles::Buttons::Ok);
      return false;
    }
    allocated_ = true;
    int failures = 0;
    while (!quitRequested) {
      buffer.locked = allocator_.Lock(buffer.handle);
      if (buffer.locked != nullptr) break;
      if (++failures > kLockRetries) {
        dialogs_.MessageBox("Cannot lock buffer " + std::to_string(b), roles::Buttons::Ok);
        quitRequested = true;
      }
      pump_.PumpEvents();
    }
  }
  return true;
}

void InputBufferPool::Queue(PoolBuffer& buffer, PortHandle port) {
  ports_.InPrepareHeader(port, &buffer.header, kMidiHdrSize);
  if (ports_.InAddBuffer(port, &buffer.header, kMidiHdrSize) == kNoError) buffer.state = BufferState::Queued;
}

void InputBufferPool::QueuePool(PortHandle port) {
  for (PoolBuffer& buffer : buffers_) {
    if (buffer.state != BufferState::Idle) continue;  // never hand the layer a buffer it holds
    MidiHdr& h = buffer.header;
    h.dwBufferLength = kPoolBufferBytes;
    h.dwFlags = 0;
    h.reserved = 0;
    for (int i = 0; i < 4; ++i) h.dwReserved[i] = 0;
    h.lpData = buffer.locked;
    h.dwUser = 0;
    h.lpNext = nullptr;
    h.dwOffset = 0;
    Queue(buffer, port);
  }
}

int InputBufferPool::FindBufferByData(const std::uint8_t* data) const {
  for (int b = 0; b < kPoolBufferCount; ++b) {
    if (buffers_[static_cast<std::size_t>(b)].header.lpData == data) return b;
  }
  return -1;
}

void InputBufferPool::MarkReturned(int b) { buffers_[static_cast<std::size_t>(b)].state = BufferState::Out; }

void InputBufferPool::RecycleBuffer(int b, PortHandle port) {
  PoolBuffer& buffer = buffers_[static_cast<std::size_t>(b)];
  if (buffer.state == BufferState::Queued) return;
  buffer.header.dwBytesRecorded = 0;
  if (port == 0) {
    // No input port is active: the buffer waits for the next selection to queue it.
    buffer.state = BufferState::Idle;
    return;
  }
  const MidiResult result = ports_.InPrepareHeader(port, &buffer.header, kMidiHdrSize);
  if (result != kNoError) {
    // The buffer stays out for good; the other three go on cycling.
    buffer.state = BufferState::Idle;
    ShowMidiError(static_cast<std::int16_t>(result), "midiInPrepareHeader", ports_, dialogs_);
    return;
  }
  buffer.state = BufferState::Idle;
  if (ports_.InAddBuffer(port, &buffer.header, kMidiHdrSize) == kNoError) buffer.state = BufferState::Queued;
}

void InputBufferPool::UnpreparePool(PortHandle port) {
  for (PoolBuffer& buffer : buffers_) {
    if (buffer.state == BufferState::Out) continue;
    const MidiResult result = ports_.InUnprepareHeader(port, &buffer.header, kMidiHdrSize);
    if (buffer.state != BufferState::Queued) continue;
    // The layer no longer holds the header now, so its flags can be read safely. A done
    // header was returned before the withdrawal: its ring entry is on the way to the
    // receive loop, which recycles it. One the layer would not let go of stays where it
    // is rather than risk being queued on two ports.
    if ((buffer.header.dwFlags & kMhdrDone) != 0) {
      buffer.state = BufferState::Out;
    } else if (result == kNoError) {
      buffer.state = BufferState::Idle;
    }
  }
}

void InputBufferPool::RequeuePool(PortHandle port) {
  for (PoolBuffer& buffer : buffers_) {
    if (buffer.state == BufferState::Idle) Queue(buffer, port);
  }
}

void InputBufferPool::ReleasePool() {
  for (PoolBuffer& buffer : buffers_) {
    if (buffer.handle == 0) continue;
    if (buffer.locked != nullptr) allocator_.Unlock(buffer.handle);
    allocator_.Free(buffer.handle);
    buffer.handle = 0;
    buffer.locked = nullptr;
    buffer.state = BufferState::Idle;
  }
  allocated_ = false;
}

}  // namespace midi
