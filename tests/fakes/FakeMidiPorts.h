// A MIDI layer for tests, run in-process: ports per slot with names (input only, output
// only or both), failures to inject, and input delivered on a thread of its own through
// the same hub as the real layer, so buffers fill and return as they do there. Output
// long messages are recorded with the time they were handed over.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
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
    std::chrono::steady_clock::time_point time;
  };

  FakeMidiPorts();
  ~FakeMidiPorts() override;

  // --- Script (before the ports are opened) ---
  // The next slot; an empty name means that side has no port.
  int AddSlot(const std::string& inputName, const std::string& outputName);
  std::set<int> failInOpen, failOutOpen, failInCaps, failOutCaps;  // slots
  // Results of the next InPrepareHeader calls, in order; when empty they succeed.
  std::deque<midi::MidiResult> inPrepareResults;
  midi::MidiResult outPrepareResult = midi::kNoError;
  midi::MidiResult outLongMsgResult = midi::kNoError;
  // Results of the next OutLongMsg calls, in order, before outLongMsgResult applies.
  std::deque<midi::MidiResult> outLongMsgResults;
  midi::MidiResult outUnprepareResult = midi::kNoError;
  std::map<midi::MidiResult, std::string> errorTexts;
  std::set<int> goneSources;  // slots whose input device has gone

  // --- Input, from any thread: handed over on the fake's delivery thread ---
  void SendShort(int slot, std::vector<std::uint8_t> bytes);
  void SendSysex(int slot, std::vector<std::uint8_t> bytes);
  // Another notification, e.g. kMimOpen with param1 0.
  void SendNotification(int slot, std::uint32_t message, std::uintptr_t param1);
  // True once everything sent has reached the callback or a buffer; false at the
  // deadline (a port with no buffer queued or not started keeps its bytes waiting).
  bool WaitUntilDelivered(std::chrono::milliseconds timeout = std::chrono::seconds(10));

  // --- What happened ---
  std::vector<LongMessage> OutputMessages() const;
  std::vector<std::string> Calls() const;  // e.g. "InStop 1", "InAddBuffer 0", "OutUnprepareHeader 0"
  void ClearCalls();
  std::size_t QueuedBuffers(int slot) const;
  bool InputOpen(int slot) const;

  // midi::MidiPorts
  midi::MidiResult OutOpen(midi::PortHandle* handle, int slot) override;
  midi::MidiResult InOpen(midi::PortHandle* handle, int slot, midi::InputCallback callback,
                          std::uintptr_t instance) override;
  midi::MidiResult OutReset(midi::PortHandle port) override;
  midi::MidiResult InReset(midi::PortHandle port) override;
  midi::MidiResult InGetDevCaps(midi::PortHandle port, std::string* name) override;
  midi::MidiResult OutGetDevCaps(midi::PortHandle port, std::string* name) override;
  midi::MidiResult InPrepareHeader(midi::PortHandle port, midi::MidiHdr* header, std::uint32_t size) override;
  midi::MidiResult InAddBuffer(midi::PortHandle port, midi::MidiHdr* header, std::uint32_t size) override;
  midi::MidiResult InUnprepareHeader(midi::PortHandle port, midi::MidiHdr* header, std::uint32_t size) override;
  midi::MidiResult InStart(midi::PortHandle port) override;
  midi::MidiResult InStop(midi::PortHandle port) override;
  midi::MidiResult InClose(midi::PortHandle port) override;
  midi::MidiResult OutClose(midi::PortHandle port) override;
  midi::MidiResult OutPrepareHeader(midi::PortHandle port, midi::MidiHdr* header, std::uint32_t size) override;
  midi::MidiResult OutLongMsg(midi::PortHandle port, midi::MidiHdr* header, std::uint32_t size) override;
  midi::MidiResult OutUnprepareHeader(midi::PortHandle port, midi::MidiHdr* header, std::uint32_t size) override;
  std::string ErrorText(midi::MidiResult code) override;
  std::uint64_t LostInputBytes() const override { return hub_.LostBytes(); }
  bool InSourcePresent(midi::PortHandle port) override;

  static midi::PortHandle InHandle(int slot) { return static_cast<midi::PortHandle>(slot + 1); }
  static midi::PortHandle OutHandle(int slot) { return static_cast<midi::PortHandle>(slot + 1001); }

 private:
  struct Slot {
    std::string inName, outName;
    bool inOpen = false, outOpen = false;
  };
  struct Item {
    int slot;
    enum Kind { Short, Sysex, Notice } kind;
    std::vector<std::uint8_t> bytes;
    std::uint32_t message = 0;
    std::uintptr_t param1 = 0;
  };
  int SlotOf(midi::PortHandle port, bool input) const;
  void Record(const std::string& call, midi::PortHandle port, bool input);
  void Push(Item item);
  void DeliveryLoop();

  mutable std::mutex mutex_;  // everything below but the hub
  std::condition_variable idle_;
  std::vector<Slot> slots_;
  std::map<int, std::pair<midi::InputCallback, std::uintptr_t>> callbacks_;
  std::deque<Item> inbox_;
  bool busy_ = false;  // the delivery thread holds items taken from the inbox
  std::vector<LongMessage> output_;
  std::vector<std::string> calls_;
  bool stopping_ = false;

  midi::Waker wake_;
  midi::InputHub hub_{[this] { wake_.Notify(); }};
  std::thread delivery_;
};
