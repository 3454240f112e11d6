#include "midi/DeviceSession.h"

#include <algorithm>

namespace midi {
namespace {

// A product name field holds 32 bytes with its NUL.
std::string ProductName(const std::string& name) { return name.substr(0, std::min<std::size_t>(name.find('\0'), 31)); }

// Fills a list from the ports of one kind, up to the first slot without one.
void Fill(MidiPorts& ports, DeviceList& list, const std::array<PortHandle, kMaxSlots + 1>& handles, int slots,
          bool& quitRequested) {
  list.Clear();
  for (int s = 0; s < slots && handles[static_cast<std::size_t>(s)] != 0; ++s) {
    std::string name;
    if (ports.PortName(handles[static_cast<std::size_t>(s)], &name) != kNoError) {
      quitRequested = true;
      continue;
    }
    list.AddItem(ProductName(name));
  }
}

int Find(const DeviceList& list, const std::string& name) {
  for (int p = 0; p < list.ListCount(); ++p) {
    if (list.Item(p) == name) return p;
  }
  return -1;
}

}  // namespace

int DeviceSession::Probe() {
  devices_ = DeviceState{};
  devices_.DeviceSlotCount = kMaxSlots;
  for (int s = 0; s < kMaxSlots; ++s) {
    const auto i = static_cast<std::size_t>(s);
    ports_.OutOpen(&devices_.OutputHandles[i], s);  // the handle, not the result, tells whether it opened
    ports_.InOpen(&devices_.InputHandles[i], s);
    pump_.PumpEvents();
    if (devices_.OutputHandles[i] == 0 && devices_.InputHandles[i] == 0) {
      devices_.DeviceSlotCount = static_cast<std::int16_t>(s);
      break;
    }
  }
  return devices_.DeviceSlotCount;
}

void DeviceSession::FillLists(bool& quitRequested) {
  const int slots = devices_.DeviceSlotCount;
  Fill(ports_, inputList_, devices_.InputHandles, slots, quitRequested);
  if (devices_.InputHandles[0] != 0) SelectInput(0);
  Fill(ports_, outputList_, devices_.OutputHandles, slots, quitRequested);
  if (devices_.OutputHandles[0] != 0) SelectOutput(0);
  devices_.SelectedInput = 0;
  devices_.SelectedOutput = 0;
}

bool DeviceSession::Open(bool& quitRequested) {
  if (Probe() == 0) return false;
  FillLists(quitRequested);
  return true;
}

bool DeviceSession::Rescan(bool& quitRequested) {
  const std::string input = inputList_.Item(devices_.SelectedInput), output = outputList_.Item(devices_.SelectedOutput);
  Close();
  ports_.ReadPortLists();
  if (!Open(quitRequested)) {
    // The lists would still offer the ports just closed.
    inputList_.Clear();
    outputList_.Clear();
    return false;
  }
  if (const int p = Find(inputList_, input); p > 0) SelectInput(p);
  if (const int p = Find(outputList_, output); p > 0) SelectOutput(p);
  return true;
}

void DeviceSession::Close() {
  for (int s = 0; s < devices_.DeviceSlotCount; ++s) {
    const auto i = static_cast<std::size_t>(s);
    if (devices_.InputHandles[i] != 0) ports_.InStop(devices_.InputHandles[i]);
    if (devices_.OutputHandles[i] != 0) ports_.Close(devices_.OutputHandles[i]);
    if (devices_.InputHandles[i] != 0) ports_.Close(devices_.InputHandles[i]);
  }
  devices_ = DeviceState{};
}

void DeviceSession::InputChosen() {
  const int p = inputList_.ListIndex();
  if (p >= devices_.DeviceSlotCount) {
    dialogs_.MessageBox("Illegal input device selected!", roles::Buttons::Ok);
    // With no slot at all entry 0 would be illegal too; stop rather than loop forever.
    if (devices_.DeviceSlotCount > 0) SelectInput(0);
    return;
  }
  if (const PortHandle old = devices_.SelectedInputHandle(); old != 0) ports_.InStop(old);
  devices_.SelectedInput = static_cast<std::int16_t>(p);
  if (p >= 0) ports_.InStart(devices_.InputHandles[static_cast<std::size_t>(p)]);
}

void DeviceSession::OutputChosen() {
  const int p = outputList_.ListIndex();
  if (p < devices_.DeviceSlotCount) {
    devices_.SelectedOutput = static_cast<std::int16_t>(p);
    return;
  }
  dialogs_.MessageBox("Illegal output device selected!", roles::Buttons::Ok);
  if (devices_.DeviceSlotCount > 0) SelectOutput(0);
}

void DeviceSession::SelectInput(int position) {
  inputList_.SetListIndex(position);
  InputChosen();
}

void DeviceSession::SelectOutput(int position) {
  outputList_.SetListIndex(position);
  OutputChosen();
}

std::size_t DeviceSession::Read(std::uint8_t* bytes, std::size_t max) {
  const PortHandle in = devices_.SelectedInputHandle();
  return in == 0 ? 0 : ports_.InRead(in, bytes, max);
}

}  // namespace midi
