// The MIDI device layer on every system RtMidi was built with (ALSA and JACK on Linux,
// CoreMIDI, WinMM), each system's ports after the previous one's; one whose server is
// missing is skipped. JACK goes through a client of the program's own (JackMidi.h).
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "midi/MidiPorts.h"

namespace midi {

class RtMidiPorts final : public MidiPorts {
 public:
  // clientName: how the program appears to the MIDI system. giveUp: once set (SIGINT,
  // SIGTERM), a wait for a MIDI server that does not answer ends.
  explicit RtMidiPorts(const std::string& clientName = "Vezorizer", const std::atomic<bool>* giveUp = nullptr);
  ~RtMidiPorts() override;

  void ReadPortLists() override;
  MidiResult OutOpen(PortHandle* handle, int slot) override;
  MidiResult InOpen(PortHandle* handle, int slot) override;
  MidiResult PortName(PortHandle port, std::string* name) override;
  MidiResult Close(PortHandle port) override;
  MidiResult InStart(PortHandle port) override;
  MidiResult InStop(PortHandle port) override;
  std::size_t InRead(PortHandle port, std::uint8_t* bytes, std::size_t max) override;
  Waker& InputArrived() override;
  bool InSourcePresent(PortHandle port) override;
  MidiResult OutSend(PortHandle port, const std::uint8_t* bytes, std::size_t size) override;
  std::optional<std::chrono::microseconds> OutDrainTime(PortHandle port) override;
  std::string ErrorText(MidiResult code) override;
  std::uint64_t LostInputBytes() const override;
  std::uint64_t LostOutputBytes() const override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace midi
