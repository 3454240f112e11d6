#include "fakes/FakeMidiPorts.h"

#include <algorithm>

int FakeMidiPorts::AddSlot(const std::string& inputName, const std::string& outputName) {
  script.emplace_back(inputName, outputName);
  return static_cast<int>(script.size()) - 1;
}

FakeMidiPorts::Port* FakeMidiPorts::Find(midi::PortHandle port, int* slot) {
  const auto it = ports_.find(port);
  if (it == ports_.end() || !it->second.open) return nullptr;
  if (slot != nullptr) *slot = static_cast<int>(port > 1000 ? port - 1001 : port - 1);
  return &it->second;
}

midi::MidiResult FakeMidiPorts::Open(midi::PortHandle* handle, int slot, bool input) {
  std::lock_guard lock(mutex_);
  *handle = 0;
  if (slot < 0 || slot >= static_cast<int>(script.size())) return midi::kErrBadDeviceId;
  const auto& [in, out] = script[static_cast<std::size_t>(slot)];
  if ((input ? in : out).empty()) return midi::kErrBadDeviceId;
  *handle = Handle(slot, input);
  ports_[*handle] = Port{true, false, {}};
  return midi::kNoError;
}

midi::MidiResult FakeMidiPorts::PortName(midi::PortHandle port, std::string* name) {
  std::lock_guard lock(mutex_);
  int slot = -1;
  if (Find(port, &slot) == nullptr) return midi::kErrInvalidHandle;
  if (port > 1000 && failOutNames.count(slot) != 0) return midi::kErrNoDriver;
  const auto& [in, out] = script[static_cast<std::size_t>(slot)];
  *name = port > 1000 ? out : in;
  return midi::kNoError;
}

midi::MidiResult FakeMidiPorts::Close(midi::PortHandle port) {
  std::lock_guard lock(mutex_);
  Port* p = Find(port);
  if (p == nullptr) return midi::kErrInvalidHandle;
  *p = Port{};
  return midi::kNoError;
}

midi::MidiResult FakeMidiPorts::Start(midi::PortHandle port, bool on) {
  std::lock_guard lock(mutex_);
  Port* p = port < 1000 ? Find(port) : nullptr;
  if (p == nullptr) return midi::kErrInvalidHandle;
  p->started = on;
  return midi::kNoError;
}

void FakeMidiPorts::Receive(int slot, const std::vector<std::uint8_t>& bytes) {
  {
    std::lock_guard lock(mutex_);
    Port* p = Find(Handle(slot, true));
    if (p == nullptr || !p->started) return;
    p->input.insert(p->input.end(), bytes.begin(), bytes.end());
  }
  arrived_.Notify();
}

std::size_t FakeMidiPorts::InRead(midi::PortHandle port, std::uint8_t* bytes, std::size_t max) {
  std::lock_guard lock(mutex_);
  Port* p = port < 1000 ? Find(port) : nullptr;
  std::size_t n = 0;
  for (; p != nullptr && n < max && !p->input.empty(); ++n) {
    bytes[n] = p->input.front();
    p->input.pop_front();
  }
  return n;
}

bool FakeMidiPorts::InputOpen(int slot) const {
  std::lock_guard lock(mutex_);
  const auto it = ports_.find(Handle(slot, true));
  return it != ports_.end() && it->second.open;
}

bool FakeMidiPorts::InSourcePresent(midi::PortHandle port) {
  std::lock_guard lock(mutex_);
  int slot = -1;
  return Find(port, &slot) != nullptr && goneSources.count(slot) == 0;
}

midi::MidiResult FakeMidiPorts::OutSend(midi::PortHandle port, const std::uint8_t* bytes, std::size_t size) {
  std::lock_guard lock(mutex_);
  int slot = -1;
  if (port < 1000 || Find(port, &slot) == nullptr) return midi::kErrInvalidHandle;
  if (!sendResults.empty()) {
    const midi::MidiResult scripted = sendResults.front();
    sendResults.pop_front();
    if (scripted != midi::kNoError) return scripted;
  }
  output_.push_back({slot, std::vector<std::uint8_t>(bytes, bytes + size)});
  if (lineClockUs) lineFreeUs_ = std::max(lineFreeUs_, lineClockUs()) + lineUsPerByte * static_cast<std::int64_t>(size);
  return midi::kNoError;
}

std::optional<std::chrono::microseconds> FakeMidiPorts::OutDrainTime(midi::PortHandle) {
  std::lock_guard lock(mutex_);
  if (!lineClockUs) return std::nullopt;
  return std::chrono::microseconds(std::max<std::int64_t>(0, lineFreeUs_ - lineClockUs()));
}

std::vector<FakeMidiPorts::LongMessage> FakeMidiPorts::OutputMessages() const {
  std::lock_guard lock(mutex_);
  return output_;
}

std::string FakeMidiPorts::ErrorText(midi::MidiResult code) {
  std::lock_guard lock(mutex_);
  const auto it = errorTexts.find(code);
  return it == errorTexts.end() ? std::string() : it->second;
}
