// A MIDI layer for tests, in-process: ports per slot with names (input only, output
// only or both), failures to inject, input kept as a started port's ring keeps it, and
// output blocks recorded. The slots are the script's as it stands when a port opens.
#pragma once

#include <cstdint>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "midi/MidiPorts.h"

class FakeMidiPorts final : public midi::MidiPorts {
 public:
  struct LongMessage {
    int slot = -1;
    std::vector<std::uint8_t> bytes;
  };

  // --- Script ---
  // The next slot; an empty name means that side has no port.
  int AddSlot(const std::string& inputName, const std::string& outputName);
  std::vector<std::pair<std::string, std::string>> script;  // input and output name per slot
  std::set<int> failOutNames;                              // slots whose output name cannot be read
  std::deque<midi::MidiResult> sendResults;                // of the next OutSend calls; then success
  std::map<midi::MidiResult, std::string> errorTexts;
  std::set<int> goneSources;  // script whose input device has gone
  int listReadings = 0;       // ReadPortLists calls
  // A MIDI line behind the outputs, on this clock (microseconds): each block leaves at
  // lineUsPerByte once the line is free, and OutDrainTime tells how long is left.
  // Without a clock the layer cannot tell.
  std::function<std::int64_t()> lineClockUs;
  std::int64_t lineUsPerByte = 320;

  // Input, from any thread: kept when the slot's input port is open and started.
  void Receive(int slot, const std::vector<std::uint8_t>& bytes);

  std::vector<LongMessage> OutputMessages() const;
  bool InputOpen(int slot) const;

  // midi::MidiPorts
  void ReadPortLists() override { ++listReadings; }
  midi::MidiResult OutOpen(midi::PortHandle* handle, int slot) override { return Open(handle, slot, false); }
  midi::MidiResult InOpen(midi::PortHandle* handle, int slot) override { return Open(handle, slot, true); }
  midi::MidiResult PortName(midi::PortHandle port, std::string* name) override;
  midi::MidiResult Close(midi::PortHandle port) override;
  midi::MidiResult InStart(midi::PortHandle port) override { return Start(port, true); }
  midi::MidiResult InStop(midi::PortHandle port) override { return Start(port, false); }
  std::size_t InRead(midi::PortHandle port, std::uint8_t* bytes, std::size_t max) override;
  midi::Waker& InputArrived() override { return arrived_; }
  bool InSourcePresent(midi::PortHandle port) override;
  midi::MidiResult OutSend(midi::PortHandle port, const std::uint8_t* bytes, std::size_t size) override;
  std::optional<std::chrono::microseconds> OutDrainTime(midi::PortHandle port) override;
  std::string ErrorText(midi::MidiResult code) override;

 private:
  struct Port {
    bool open = false, started = false;
    std::deque<std::uint8_t> input;
  };
  // A port's handle and its slot: inputs from 1, outputs from 1001.
  static midi::PortHandle Handle(int slot, bool input) { return static_cast<midi::PortHandle>(slot + (input ? 1 : 1001)); }
  Port* Find(midi::PortHandle port, int* slot = nullptr);  // nullptr unless open; under the lock
  midi::MidiResult Open(midi::PortHandle* handle, int slot, bool input);
  midi::MidiResult Start(midi::PortHandle port, bool on);

  mutable std::mutex mutex_;  // the ports and the output
  std::map<midi::PortHandle, Port> ports_;
  std::vector<LongMessage> output_;
  std::int64_t lineFreeUs_ = 0;
  midi::Waker arrived_;
};
