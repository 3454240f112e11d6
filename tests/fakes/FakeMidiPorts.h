// A MIDI layer for tests, run in-process: ports per slot with names (input only, output
// only or both), failures to inject, and input delivered on a thread of its own through
// the same hub as the real layer, so buffers fill and return as they do there. Output
// long messages are recorded.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "midi/InputHub.h"
#include "midi/MidiPorts.h"
#include "midi/Waker.h"

class FakeMidiPorts final : public midi::MidiPorts {
 public:
  struct LongMessage {
    int slot = -1;
    std::vector<std::uint8_t> bytes;
  };

  FakeMidiPorts();
  ~FakeMidiPorts() override;

  // --- Script (before the ports are opened) ---
  // The next slot; an empty name means that side has no port.
  int AddSlot(const std::string& inputName, const std::string& outputName);
  std::set<int> failOutCaps;  // slots whose output name cannot be read
  // Results of the next InPrepareHeader / OutLongMsg calls, in order; then they succeed.
  std::deque<midi::MidiResult> inPrepareResults, outLongMsgResults;
  midi::MidiResult outUnprepareResult = midi::kNoError;
  std::map<midi::MidiResult, std::string> errorTexts;
  std::set<int> goneSources;  // slots whose input device has gone
  // A MIDI line behind the outputs, on this clock (microseconds): each long message
  // leaves at lineUsPerByte once the line is free, and OutDrainTime tells how long is
  // left. Without a clock the layer cannot tell.
  std::function<std::int64_t()> lineClockUs;
  std::int64_t lineUsPerByte = 320;

  // --- Input, from any thread: handed over on the fake's delivery thread ---
  void SendShort(int slot, std::vector<std::uint8_t> bytes);
  void SendSysex(int slot, std::vector<std::uint8_t> bytes);
  // True once everything sent has reached the callback or a buffer; false at the
  // deadline (a port with no buffer queued keeps its bytes waiting). Input for a port
  // that is not open and started is dropped when delivered, as a real port drops it.
  bool WaitUntilDelivered(std::chrono::milliseconds timeout = std::chrono::seconds(10));

  // --- What happened ---
  std::vector<LongMessage> OutputMessages() const;
  int OutUnprepares() const;  // OutUnprepareHeader calls on an open port
  std::size_t QueuedBuffers(int slot) const { return hub_.QueuedBuffers(InHandle(slot)); }
  bool InputOpen(int slot) const;

  // midi::MidiPorts
  midi::MidiResult OutOpen(midi::PortHandle* handle, int slot) override;
  midi::MidiResult InOpen(midi::PortHandle* handle, int slot, midi::InputCallback callback,
                          std::uintptr_t instance) override;
  midi::MidiResult OutReset(midi::PortHandle port) override;
  midi::MidiResult InReset(midi::PortHandle port) override { return hub_.Reset(port); }
  midi::MidiResult InGetDevCaps(midi::PortHandle port, std::string* name) override { return Name(port, true, name); }
  midi::MidiResult OutGetDevCaps(midi::PortHandle port, std::string* name) override { return Name(port, false, name); }
  midi::MidiResult InPrepareHeader(midi::PortHandle port, midi::MidiHdr* header, std::uint32_t size) override;
  midi::MidiResult InAddBuffer(midi::PortHandle port, midi::MidiHdr* header, std::uint32_t size) override {
    return hub_.AddBuffer(port, header, size);
  }
  midi::MidiResult InUnprepareHeader(midi::PortHandle port, midi::MidiHdr* header, std::uint32_t size) override {
    return hub_.Unprepare(port, header, size);
  }
  midi::MidiResult InStart(midi::PortHandle port) override { return hub_.Start(port); }
  midi::MidiResult InStop(midi::PortHandle port) override { return hub_.Stop(port); }
  midi::MidiResult InClose(midi::PortHandle port) override;
  midi::MidiResult OutClose(midi::PortHandle port) override;
  midi::MidiResult OutPrepareHeader(midi::PortHandle port, midi::MidiHdr* header, std::uint32_t size) override;
  midi::MidiResult OutLongMsg(midi::PortHandle port, midi::MidiHdr* header, std::uint32_t size) override;
  midi::MidiResult OutUnprepareHeader(midi::PortHandle port, midi::MidiHdr* header, std::uint32_t size) override;
  std::string ErrorText(midi::MidiResult code) override;
  std::optional<std::chrono::microseconds> OutDrainTime(midi::PortHandle port) override;
  std::uint64_t LostInputBytes() const override { return hub_.LostBytes(); }
  bool InSourcePresent(midi::PortHandle port) override;

 private:
  struct Slot {
    std::string inName, outName;
    bool inOpen = false, outOpen = false;
  };
  struct Item {
    int slot;
    std::vector<std::uint8_t> bytes;
  };
  static midi::PortHandle InHandle(int slot) { return static_cast<midi::PortHandle>(slot + 1); }
  static midi::PortHandle OutHandle(int slot) { return static_cast<midi::PortHandle>(slot + 1001); }
  int SlotOf(midi::PortHandle port, bool input) const;  // -1 unless open
  midi::MidiResult Open(midi::PortHandle* handle, int slot, bool input);  // under the lock
  midi::MidiResult Name(midi::PortHandle port, bool input, std::string* name);
  void Push(Item item);
  void DeliveryLoop();

  mutable std::mutex mutex_;  // everything below but the hub
  std::condition_variable idle_;
  std::vector<Slot> slots_;
  std::deque<Item> inbox_;
  bool busy_ = false;  // the delivery thread holds items taken from the inbox
  std::vector<LongMessage> output_;
  int outUnprepares_ = 0;
  std::int64_t lineFreeUs_ = 0;
  bool stopping_ = false;

  midi::Waker wake_;
  midi::InputHub hub_{[this] { wake_.Notify(); }};
  std::thread delivery_;
};
