// The MIDI device layer: every MIDI operation the program makes, modelled on the
// multimedia MIDI services it was first written for, so that the receive loop, the
// buffer pool and the transmit engine keep their exact protocol on any platform.
// Implementations: RtMidiPorts (ALSA, JACK, CoreMIDI, WinMM through RtMidi) and, in
// tests, FakeMidiPorts.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace midi {

// Ports are opened by slot number, 0 to 127; slot s is input port s and output port s.
inline constexpr int kMaxSlots = 128;

// 0 means "not open"; any other value names an open port until it is closed.
using PortHandle = std::uintptr_t;

// 0 is success; other values are error codes that ErrorText describes.
using MidiResult = std::uint32_t;
inline constexpr MidiResult kNoError = 0;
// The codes the layers return, numbered as the multimedia services number them so that
// a code shown to a user means the same on every platform.
inline constexpr MidiResult kErrBadDeviceId = 2;    // no port in that slot
inline constexpr MidiResult kErrAllocated = 4;      // the port is already open
inline constexpr MidiResult kErrInvalidHandle = 5;  // not an open port
inline constexpr MidiResult kErrNoDriver = 6;       // the MIDI system refused the operation
inline constexpr MidiResult kErrNoMemory = 7;
inline constexpr MidiResult kErrInvalidParam = 11;  // a header without data or of the wrong size
inline constexpr MidiResult kErrUnprepared = 64;    // the header was not prepared for this port
inline constexpr MidiResult kErrStillPlaying = 65;  // the header is still queued
inline constexpr MidiResult kErrNotReady = 67;      // the port cannot take the message now
// Past the multimedia services' own codes: bytes an output port accepted earlier never
// reached the MIDI system.
inline constexpr MidiResult kErrOutputLost = 512;

// Message codes delivered to the input callback.
inline constexpr std::uint32_t kMimOpen = 0x3C1;
inline constexpr std::uint32_t kMimClose = 0x3C2;
inline constexpr std::uint32_t kMimData = 0x3C3;       // param1: packed short message
inline constexpr std::uint32_t kMimLongData = 0x3C4;   // param1: the returned MidiHdr*
inline constexpr std::uint32_t kMimError = 0x3C5;
inline constexpr std::uint32_t kMimLongError = 0x3C6;  // param1: the returned MidiHdr*

// The header of one long-message buffer. The program passes the header size 52 with
// every header operation, the size of this record in the original 32-bit layout.
inline constexpr std::uint32_t kMidiHdrSize = 52;

// dwFlags bits maintained by the layer.
inline constexpr std::uint32_t kMhdrDone = 0x1;
inline constexpr std::uint32_t kMhdrPrepared = 0x2;
inline constexpr std::uint32_t kMhdrInQueue = 0x4;

struct MidiHdr {
  std::uint8_t* lpData = nullptr;
  std::uint32_t dwBufferLength = 0;
  std::uint32_t dwBytesRecorded = 0;
  std::uintptr_t dwUser = 0;
  std::uint32_t dwFlags = 0;
  MidiHdr* lpNext = nullptr;
  std::uintptr_t reserved = 0;
  std::uint32_t dwOffset = 0;
  std::uintptr_t dwReserved[5] = {};
};

// Called on a thread of the layer's own, never the user-interface thread, for every
// event of an open input port. Must not block, allocate or lock: on JACK it may run on
// the realtime thread.
using InputCallback = void (*)(PortHandle port, std::uint32_t message, std::uintptr_t instance,
                               std::uintptr_t param1, std::uintptr_t param2);

class MidiPorts {
 public:
  virtual ~MidiPorts() = default;

  // *handle is non-zero exactly when the port opened.
  virtual MidiResult OutOpen(PortHandle* handle, int slot) = 0;
  virtual MidiResult InOpen(PortHandle* handle, int slot, InputCallback callback, std::uintptr_t instance) = 0;
  virtual MidiResult OutReset(PortHandle port) = 0;
  virtual MidiResult InReset(PortHandle port) = 0;

  // The port's product name, at most 31 characters.
  virtual MidiResult InGetDevCaps(PortHandle port, std::string* name) = 0;
  virtual MidiResult OutGetDevCaps(PortHandle port, std::string* name) = 0;

  // Input buffers: prepared, then added to the port's queue; the layer fills them in
  // order and returns each through the callback (kMimLongData) when its message ends
  // or it is full. Preparing a header that is still prepared succeeds.
  virtual MidiResult InPrepareHeader(PortHandle port, MidiHdr* header, std::uint32_t size) = 0;
  virtual MidiResult InAddBuffer(PortHandle port, MidiHdr* header, std::uint32_t size) = 0;
  virtual MidiResult InUnprepareHeader(PortHandle port, MidiHdr* header, std::uint32_t size) = 0;
  virtual MidiResult InStart(PortHandle port) = 0;
  virtual MidiResult InStop(PortHandle port) = 0;
  virtual MidiResult InClose(PortHandle port) = 0;
  virtual MidiResult OutClose(PortHandle port) = 0;

  // Output: OutLongMsg returns without waiting for the bytes to leave; the layer has
  // taken its own copy of the header's data by then, so the caller may fill the buffer
  // with the next block at once. Blocks leave in the order handed over. A result other
  // than 0 means the block was not taken, or that bytes of an earlier block were lost
  // (among them bytes meant for a device that has gone from the MIDI system).
  virtual MidiResult OutPrepareHeader(PortHandle port, MidiHdr* header, std::uint32_t size) = 0;
  virtual MidiResult OutLongMsg(PortHandle port, MidiHdr* header, std::uint32_t size) = 0;
  virtual MidiResult OutUnprepareHeader(PortHandle port, MidiHdr* header, std::uint32_t size) = 0;

  // How long the bytes handed to this output port so far still take to leave it, from
  // now: the pause a device needs between blocks is silence on the line, so it starts
  // only once the last byte has gone. Nothing when the layer cannot tell; the caller
  // then reckons the line's time from the hand-over, 320 microseconds a byte.
  virtual std::optional<std::chrono::microseconds> OutDrainTime(PortHandle) { return std::nullopt; }

  // The text for an error code, or empty when the layer has none.
  virtual std::string ErrorText(MidiResult code) = 0;

  // False once the device that an open input port listens to has gone from the MIDI
  // system (unplugged, its program ended): nothing more can arrive on that port.
  virtual bool InSourcePresent(PortHandle) { return true; }

  // Input bytes the layer had to throw away since it was created because its own
  // queues were full, so that a capture can say its data is incomplete.
  virtual std::uint64_t LostInputBytes() const { return 0; }
  // Output bytes that an output port accepted but could not pass on, since the layer
  // was created. An output port passes on what it holds before OutClose returns.
  virtual std::uint64_t LostOutputBytes() const { return 0; }
};

}  // namespace midi
