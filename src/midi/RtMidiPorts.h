// The MIDI device layer on RtMidi: every MIDI system RtMidi was built with (ALSA and
// JACK on Linux, CoreMIDI, WinMM), tried in turn; a system whose server is missing is
// skipped. The port lists are read once, when the layer is made, and merged (each
// system's ports after the previous system's): slot s is input port s and output port s
// of those lists, so ports the program itself registers later do not shift the slots.
// Output leaves each port through a PacedOutput: copied when handed over, then passed
// to RtMidi at the pace of a MIDI line, in pieces where the system needs them.
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
  RtMidiPorts(const RtMidiPorts&) = delete;
  RtMidiPorts& operator=(const RtMidiPorts&) = delete;

  MidiResult OutOpen(PortHandle* handle, int slot) override;
  MidiResult InOpen(PortHandle* handle, int slot, InputCallback callback, std::uintptr_t instance) override;
  MidiResult OutReset(PortHandle port) override;
  MidiResult InReset(PortHandle port) override;
  MidiResult InGetDevCaps(PortHandle port, std::string* name) override;
  MidiResult OutGetDevCaps(PortHandle port, std::string* name) override;
  MidiResult InPrepareHeader(PortHandle port, MidiHdr* header, std::uint32_t size) override;
  MidiResult InAddBuffer(PortHandle port, MidiHdr* header, std::uint32_t size) override;
  MidiResult InUnprepareHeader(PortHandle port, MidiHdr* header, std::uint32_t size) override;
  MidiResult InStart(PortHandle port) override;
  MidiResult InStop(PortHandle port) override;
  MidiResult InClose(PortHandle port) override;
  MidiResult OutClose(PortHandle port) override;
  MidiResult OutPrepareHeader(PortHandle port, MidiHdr* header, std::uint32_t size) override;
  MidiResult OutLongMsg(PortHandle port, MidiHdr* header, std::uint32_t size) override;
  MidiResult OutUnprepareHeader(PortHandle port, MidiHdr* header, std::uint32_t size) override;
  std::string ErrorText(MidiResult code) override;
  std::optional<std::chrono::microseconds> OutDrainTime(PortHandle port) override;
  bool InSourcePresent(PortHandle port) override;
  std::uint64_t LostInputBytes() const override;
  std::uint64_t LostOutputBytes() const override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace midi
