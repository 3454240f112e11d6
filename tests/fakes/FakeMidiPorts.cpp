#include "fakes/FakeMidiPorts.h"

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

void FakeMidiPorts::SendShort(int slot, std::vector<std::uint8_t> bytes) { Push({slot, Item::Short, std::move(bytes)}); }
void FakeMidiPorts::SendSysex(int slot, std::vector<std::uint8_t> bytes) { Push({slot, Item::Sysex, std::move(bytes)}); }
void FakeMidiPorts::SendNotification(int slot, std::uint32_t message, std::uintptr_t param1) {
  Push({slot, Item::Notice, {}, message, param1});
}

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
    for (const Item& item : items) {
      if (item.kind == Item::Notice) {
        std::pair<midi::InputCallback, std::uintptr_t> cb{nullptr, 0};
        {
          std::lock_guard lock(mutex_);
          if (callbacks_.count(item.slot) != 0) cb = callbacks_[item.slot];
        }
        if (cb.first != nullptr) cb.first(InHandle(item.slot), item.message, cb.second, item.param1, 0);
      } else {
        hub_.Receive(InHandle(item.slot), item.bytes.data(), item.bytes.size());
      }
    }
    hub_.DeliverAll();
    {
      std::lock_guard lock(mutex_);
      busy_ = false;
    }
    idle_.notify_all();
  }
}

bool FakeMidiPorts::WaitUntilDelivered(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::unique_lock lock(mutex_);
  for (;;) {
    if (inbox_.empty() && !busy_ && hub_.BacklogEmpty()) return true;
    if (idle_.wait_until(lock, deadline) == std::cv_status::timeout) {
      return inbox_.empty() && !busy_ && hub_.BacklogEmpty();
    }
  }
}

std::vector<FakeMidiPorts::LongMessage> FakeMidiPorts::OutputMessages() const {
  std::lock_guard lock(mutex_);
  return output_;
}

std::vector<std::string> FakeMidiPorts::Calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

void FakeMidiPorts::ClearCalls() {
  std::lock_guard lock(mutex_);
  calls_.clear();
}

std::size_t FakeMidiPorts::QueuedBuffers(int slot) const { return hub_.QueuedBuffers(InHandle(slot)); }

bool FakeMidiPorts::InputOpen(int slot) const {
  std::lock_guard lock(mutex_);
  return slot >= 0 && slot < static_cast<int>(slots_.size()) && slots_[static_cast<std::size_t>(slot)].inOpen;
}

int FakeMidiPorts::SlotOf(midi::PortHandle port, bool input) const {
  const auto base = input ? InHandle(0) : OutHandle(0);
  if (port < base) return -1;
  const int slot = static_cast<int>(port - base);
  if (slot >= static_cast<int>(slots_.size())) return -1;
  const Slot& s = slots_[static_cast<std::size_t>(slot)];
  return (input ? s.inOpen : s.outOpen) ? slot : -1;
}

void FakeMidiPorts::Record(const std::string& call, midi::PortHandle port, bool input) {
  calls_.push_back(call + " " + std::to_string(SlotOf(port, input)));
}

midi::MidiResult FakeMidiPorts::OutOpen(midi::PortHandle* handle, int slot) {
  std::lock_guard lock(mutex_);
  *handle = 0;
  if (slot < 0 || slot >= static_cast<int>(slots_.size()) || slots_[static_cast<std::size_t>(slot)].outName.empty()) {
    return midi::kErrBadDeviceId;
  }
  if (failOutOpen.count(slot) != 0) return midi::kErrNoDriver;
  slots_[static_cast<std::size_t>(slot)].outOpen = true;
  *handle = OutHandle(slot);
  return midi::kNoError;
}

midi::MidiResult FakeMidiPorts::InOpen(midi::PortHandle* handle, int slot, midi::InputCallback callback,
                                       std::uintptr_t instance) {
  std::lock_guard lock(mutex_);
  *handle = 0;
  if (slot < 0 || slot >= static_cast<int>(slots_.size()) || slots_[static_cast<std::size_t>(slot)].inName.empty()) {
    return midi::kErrBadDeviceId;
  }
  if (failInOpen.count(slot) != 0) return midi::kErrNoDriver;
  slots_[static_cast<std::size_t>(slot)].inOpen = true;
  callbacks_[slot] = {callback, instance};
  hub_.Open(InHandle(slot), callback, instance);
  *handle = InHandle(slot);
  return midi::kNoError;
}

midi::MidiResult FakeMidiPorts::OutReset(midi::PortHandle port) {
  std::lock_guard lock(mutex_);
  Record("OutReset", port, false);
  return SlotOf(port, false) < 0 ? midi::kErrInvalidHandle : midi::kNoError;
}

midi::MidiResult FakeMidiPorts::InReset(midi::PortHandle port) {
  {
    std::lock_guard lock(mutex_);
    Record("InReset", port, true);
  }
  return hub_.Reset(port);
}

midi::MidiResult FakeMidiPorts::InGetDevCaps(midi::PortHandle port, std::string* name) {
  std::lock_guard lock(mutex_);
  const int slot = SlotOf(port, true);
  if (slot < 0) return midi::kErrInvalidHandle;
  if (failInCaps.count(slot) != 0) return midi::kErrNoDriver;
  *name = slots_[static_cast<std::size_t>(slot)].inName;
  return midi::kNoError;
}

midi::MidiResult FakeMidiPorts::OutGetDevCaps(midi::PortHandle port, std::string* name) {
  std::lock_guard lock(mutex_);
  const int slot = SlotOf(port, false);
  if (slot < 0) return midi::kErrInvalidHandle;
  if (failOutCaps.count(slot) != 0) return midi::kErrNoDriver;
  *name = slots_[static_cast<std::size_t>(slot)].outName;
  return midi::kNoError;
}

midi::MidiResult FakeMidiPorts::InPrepareHeader(midi::PortHandle port, midi::MidiHdr* header, std::uint32_t size) {
  {
    std::lock_guard lock(mutex_);
    Record("InPrepareHeader", port, true);
    if (!inPrepareResults.empty()) {
      const midi::MidiResult scripted = inPrepareResults.front();
      inPrepareResults.pop_front();
      if (scripted != midi::kNoError) return scripted;
    }
  }
  return hub_.Prepare(port, header, size);
}

midi::MidiResult FakeMidiPorts::InAddBuffer(midi::PortHandle port, midi::MidiHdr* header, std::uint32_t size) {
  {
    std::lock_guard lock(mutex_);
    Record("InAddBuffer", port, true);
  }
  return hub_.AddBuffer(port, header, size);
}

midi::MidiResult FakeMidiPorts::InUnprepareHeader(midi::PortHandle port, midi::MidiHdr* header, std::uint32_t size) {
  {
    std::lock_guard lock(mutex_);
    Record("InUnprepareHeader", port, true);
  }
  return hub_.Unprepare(port, header, size);
}

midi::MidiResult FakeMidiPorts::InStart(midi::PortHandle port) {
  {
    std::lock_guard lock(mutex_);
    Record("InStart", port, true);
  }
  return hub_.Start(port);
}

midi::MidiResult FakeMidiPorts::InStop(midi::PortHandle port) {
  {
    std::lock_guard lock(mutex_);
    Record("InStop", port, true);
  }
  return hub_.Stop(port);
}

midi::MidiResult FakeMidiPorts::InClose(midi::PortHandle port) {
  {
    std::lock_guard lock(mutex_);
    Record("InClose", port, true);
    const int slot = SlotOf(port, true);
    if (slot >= 0) {
      slots_[static_cast<std::size_t>(slot)].inOpen = false;
      callbacks_.erase(slot);
    }
  }
  return hub_.Close(port);
}

midi::MidiResult FakeMidiPorts::OutClose(midi::PortHandle port) {
  std::lock_guard lock(mutex_);
  Record("OutClose", port, false);
  const int slot = SlotOf(port, false);
  if (slot < 0) return midi::kErrInvalidHandle;
  slots_[static_cast<std::size_t>(slot)].outOpen = false;
  return midi::kNoError;
}

midi::MidiResult FakeMidiPorts::OutPrepareHeader(midi::PortHandle port, midi::MidiHdr* header, std::uint32_t) {
  std::lock_guard lock(mutex_);
  Record("OutPrepareHeader", port, false);
  if (SlotOf(port, false) < 0) return midi::kErrInvalidHandle;
  if (outPrepareResult != midi::kNoError) return outPrepareResult;
  header->dwFlags |= midi::kMhdrPrepared;
  return midi::kNoError;
}

midi::MidiResult FakeMidiPorts::OutLongMsg(midi::PortHandle port, midi::MidiHdr* header, std::uint32_t) {
  std::lock_guard lock(mutex_);
  const int slot = SlotOf(port, false);
  if (slot < 0) return midi::kErrInvalidHandle;
  if (!outLongMsgResults.empty()) {
    const midi::MidiResult scripted = outLongMsgResults.front();
    outLongMsgResults.pop_front();
    if (scripted != midi::kNoError) return scripted;
  } else if (outLongMsgResult != midi::kNoError) {
    return outLongMsgResult;
  }
  if ((header->dwFlags & midi::kMhdrPrepared) == 0) return midi::kErrUnprepared;
  output_.push_back({slot, std::vector<std::uint8_t>(header->lpData, header->lpData + header->dwBufferLength),
                     std::chrono::steady_clock::now()});
  header->dwFlags |= midi::kMhdrDone;
  return midi::kNoError;
}

midi::MidiResult FakeMidiPorts::OutUnprepareHeader(midi::PortHandle port, midi::MidiHdr* header, std::uint32_t) {
  std::lock_guard lock(mutex_);
  Record("OutUnprepareHeader", port, false);
  if (SlotOf(port, false) < 0) return midi::kErrInvalidHandle;
  if (outUnprepareResult != midi::kNoError) return outUnprepareResult;
  header->dwFlags &= ~midi::kMhdrPrepared;
  return midi::kNoError;
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
