#include "fakes/FakeMidiPorts.h"

#include <algorithm>

namespace {
// The next scripted result, or success once the script has run out.
midi::MidiResult Next(std::deque<midi::MidiResult>& script) {
  if (script.empty()) return midi::kNoError;
  const midi::MidiResult result = script.front();
  script.pop_front();
  return result;
}
}  // namespace

FakeMidiPorts::FakeMidiPorts() : delivery_([this] { DeliveryLoop(); }) {}

FakeMidiPorts::~FakeMidiPorts() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.Notify();
  delivery_.join();
}

int FakeMidiPorts::AddSlot(const std::string& inputName, const std::string& outputName) {
  std::lock_guard lock(mutex_);
  slots_.push_back({inputName, outputName});
  return static_cast<int>(slots_.size()) - 1;
}

void FakeMidiPorts::Push(Item item) {
  {
    std::lock_guard lock(mutex_);
    inbox_.push_back(std::move(item));
  }
  wake_.Notify();
}

void FakeMidiPorts::SendShort(int slot, std::vector<std::uint8_t> bytes) { Push({slot, std::move(bytes)}); }
void FakeMidiPorts::SendSysex(int slot, std::vector<std::uint8_t> bytes) { Push({slot, std::move(bytes)}); }

void FakeMidiPorts::DeliveryLoop() {
  for (;;) {
    wake_.WaitFor(std::chrono::milliseconds(50));
    std::deque<Item> items;
    {
      std::lock_guard lock(mutex_);
      if (stopping_) return;
      items.swap(inbox_);
      busy_ = true;
    }
    for (const Item& item : items) hub_.Receive(InHandle(item.slot), item.bytes.data(), item.bytes.size());
    hub_.DeliverAll();
    {
      std::lock_guard lock(mutex_);
      busy_ = false;
    }
    idle_.notify_all();
  }
}

bool FakeMidiPorts::WaitUntilDelivered(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return idle_.wait_for(lock, timeout, [this] { return inbox_.empty() && !busy_ && hub_.BacklogEmpty(); });
}

std::vector<FakeMidiPorts::LongMessage> FakeMidiPorts::OutputMessages() const {
  std::lock_guard lock(mutex_);
  return output_;
}

int FakeMidiPorts::OutUnprepares() const {
  std::lock_guard lock(mutex_);
  return outUnprepares_;
}

bool FakeMidiPorts::InputOpen(int slot) const {
  std::lock_guard lock(mutex_);
  return SlotOf(InHandle(slot), true) >= 0;
}

int FakeMidiPorts::SlotOf(midi::PortHandle port, bool input) const {
  const auto base = input ? InHandle(0) : OutHandle(0);
  if (port < base || port - base >= slots_.size()) return -1;
  const Slot& s = slots_[port - base];
  return (input ? s.inOpen : s.outOpen) ? static_cast<int>(port - base) : -1;
}

midi::MidiResult FakeMidiPorts::Open(midi::PortHandle* handle, int slot, bool input) {
  *handle = 0;
  if (slot < 0 || slot >= static_cast<int>(slots_.size())) return midi::kErrBadDeviceId;
  Slot& s = slots_[static_cast<std::size_t>(slot)];
  if ((input ? s.inName : s.outName).empty()) return midi::kErrBadDeviceId;
  (input ? s.inOpen : s.outOpen) = true;
  *handle = input ? InHandle(slot) : OutHandle(slot);
  return midi::kNoError;
}

midi::MidiResult FakeMidiPorts::OutOpen(midi::PortHandle* handle, int slot) {
  std::lock_guard lock(mutex_);
  return Open(handle, slot, false);
}

midi::MidiResult FakeMidiPorts::InOpen(midi::PortHandle* handle, int slot, midi::InputCallback callback,
                                       std::uintptr_t instance) {
  std::lock_guard lock(mutex_);
  const midi::MidiResult result = Open(handle, slot, true);
  if (result != midi::kNoError) return result;
  hub_.Open(*handle, callback, instance);
  return midi::kNoError;
}

midi::MidiResult FakeMidiPorts::OutReset(midi::PortHandle port) {
  std::lock_guard lock(mutex_);
  return SlotOf(port, false) < 0 ? midi::kErrInvalidHandle : midi::kNoError;
}

midi::MidiResult FakeMidiPorts::Name(midi::PortHandle port, bool input, std::string* name) {
  std::lock_guard lock(mutex_);
  const int slot = SlotOf(port, input);
  if (slot < 0) return midi::kErrInvalidHandle;
  if (!input && failOutCaps.count(slot) != 0) return midi::kErrNoDriver;
  const Slot& s = slots_[static_cast<std::size_t>(slot)];
  *name = input ? s.inName : s.outName;
  return midi::kNoError;
}

midi::MidiResult FakeMidiPorts::InPrepareHeader(midi::PortHandle port, midi::MidiHdr* header, std::uint32_t size) {
  {
    std::lock_guard lock(mutex_);
    if (const midi::MidiResult scripted = Next(inPrepareResults); scripted != midi::kNoError) return scripted;
  }
  return hub_.Prepare(port, header, size);
}

midi::MidiResult FakeMidiPorts::InClose(midi::PortHandle port) {
  {
    std::lock_guard lock(mutex_);
    const int slot = SlotOf(port, true);
    if (slot >= 0) slots_[static_cast<std::size_t>(slot)].inOpen = false;
  }
  return hub_.Close(port);
}

midi::MidiResult FakeMidiPorts::OutClose(midi::PortHandle port) {
  std::lock_guard lock(mutex_);
  const int slot = SlotOf(port, false);
  if (slot < 0) return midi::kErrInvalidHandle;
  slots_[static_cast<std::size_t>(slot)].outOpen = false;
  return midi::kNoError;
}

midi::MidiResult FakeMidiPorts::OutPrepareHeader(midi::PortHandle port, midi::MidiHdr* header, std::uint32_t) {
  std::lock_guard lock(mutex_);
  if (SlotOf(port, false) < 0) return midi::kErrInvalidHandle;
  header->dwFlags |= midi::kMhdrPrepared;
  return midi::kNoError;
}

midi::MidiResult FakeMidiPorts::OutLongMsg(midi::PortHandle port, midi::MidiHdr* header, std::uint32_t) {
  std::lock_guard lock(mutex_);
  const int slot = SlotOf(port, false);
  if (slot < 0) return midi::kErrInvalidHandle;
  if (const midi::MidiResult scripted = Next(outLongMsgResults); scripted != midi::kNoError) return scripted;
  if ((header->dwFlags & midi::kMhdrPrepared) == 0) return midi::kErrUnprepared;
  output_.push_back({slot, std::vector<std::uint8_t>(header->lpData, header->lpData + header->dwBufferLength)});
  if (lineClockUs) lineFreeUs_ = std::max(lineFreeUs_, lineClockUs()) + lineUsPerByte * header->dwBufferLength;
  header->dwFlags |= midi::kMhdrDone;
  return midi::kNoError;
}

midi::MidiResult FakeMidiPorts::OutUnprepareHeader(midi::PortHandle port, midi::MidiHdr* header, std::uint32_t) {
  std::lock_guard lock(mutex_);
  if (SlotOf(port, false) < 0) return midi::kErrInvalidHandle;
  ++outUnprepares_;
  if (outUnprepareResult != midi::kNoError) return outUnprepareResult;
  header->dwFlags &= ~midi::kMhdrPrepared;
  return midi::kNoError;
}

std::optional<std::chrono::microseconds> FakeMidiPorts::OutDrainTime(midi::PortHandle) {
  std::lock_guard lock(mutex_);
  if (!lineClockUs) return std::nullopt;
  return std::chrono::microseconds(std::max<std::int64_t>(0, lineFreeUs_ - lineClockUs()));
}

std::string FakeMidiPorts::ErrorText(midi::MidiResult code) {
  std::lock_guard lock(mutex_);
  const auto it = errorTexts.find(code);
  return it == errorTexts.end() ? std::string() : it->second;
}

bool FakeMidiPorts::InSourcePresent(midi::PortHandle port) {
  std::lock_guard lock(mutex_);
  const int slot = SlotOf(port, true);
  return slot >= 0 && goneSources.count(slot) == 0;
}
