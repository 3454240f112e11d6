// The MIDI device layer: every MIDI operation the program makes (RtMidiPorts; tests' fakes).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "midi/ByteRing.h"
#include "roles/Dialogs.h"

namespace midi {

inline constexpr int kMaxSlots = 128;  // slot s: input port s and output port s
using PortHandle = std::uintptr_t;     // 0: not open

// 0 is success; other values are error codes that ErrorText describes.
using MidiResult = std::uint32_t;
inline constexpr MidiResult kNoError = 0;
inline constexpr MidiResult kErrBadDeviceId = 2;    // no port in that slot
inline constexpr MidiResult kErrInvalidHandle = 5;  // not an open port
inline constexpr MidiResult kErrNoDriver = 6;       // the MIDI system refused the operation
inline constexpr MidiResult kErrNotReady = 67;      // the port cannot take the block now
inline constexpr MidiResult kErrOutputLost = 512;  // bytes accepted earlier reached no one

class MidiPorts {
 public:
  virtual ~MidiPorts() = default;

  // Reads the port lists afresh, for the slots of the opens that follow; no port open.
  virtual void ReadPortLists() = 0;
  virtual MidiResult OutOpen(PortHandle* handle, int slot) = 0;  // *handle != 0: opened
  virtual MidiResult InOpen(PortHandle* handle, int slot) = 0;
  virtual MidiResult PortName(PortHandle port, std::string* name) = 0;
  virtual MidiResult Close(PortHandle port) = 0;  // an output passes on what it holds first

  // Input is kept only while its port is started; a stopped port keeps what it had.
  virtual MidiResult InStart(PortHandle port) = 0;
  virtual MidiResult InStop(PortHandle port) = 0;
  // Up to max of the bytes the port received, oldest first, as they came.
  virtual std::size_t InRead(PortHandle port, std::uint8_t* bytes, std::size_t max) = 0;
  virtual Waker& InputArrived() = 0;  // notified from the MIDI system's thread
  // False once the device an open input port listens to has gone (unplugged, ended).
  virtual bool InSourcePresent(PortHandle) { return true; }

  // Copies the block; blocks leave in the order handed over. kErrOutputLost, the block
  // not taken, when bytes handed over earlier did not reach the MIDI system.
  virtual MidiResult OutSend(PortHandle port, const std::uint8_t* bytes, std::size_t size) = 0;
  // How long the bytes handed over so far still take to leave, from now: a device's
  // pause between blocks starts once the last byte has gone. Nothing when the layer
  // cannot tell; the caller then reckons from the hand-over, 320 microseconds a byte.
  virtual std::optional<std::chrono::microseconds> OutDrainTime(PortHandle) { return std::nullopt; }

  virtual std::string ErrorText(MidiResult code) = 0;  // empty when the layer has none
  // Input bytes a full ring threw away, and output bytes accepted but not passed on.
  virtual std::uint64_t LostInputBytes() const { return 0; }
  virtual std::uint64_t LostOutputBytes() const { return 0; }
};

// The notice for a failed MIDI operation (code as callers keep it; 0 shows nothing).
inline void ShowMidiError(std::int16_t code, std::string_view operationName, MidiPorts& ports, roles::Dialogs& dialogs) {
  if (code == 0) return;
  const std::string text = ports.ErrorText(static_cast<MidiResult>(static_cast<std::uint16_t>(code)));
  dialogs.MessageBox(std::string(operationName) + ": " + (text.empty() ? "Unknown error" : text), roles::Buttons::Ok);
}

}  // namespace midi
