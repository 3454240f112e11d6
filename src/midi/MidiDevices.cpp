#include "midi/MidiDevices.h"

namespace midi {
namespace {

// A product name field holds 32 bytes with its NUL.
std::string ProductName(std::string name) {
  const std::size_t nul = name.find('\0');
  if (nul != std::string::npos) name.resize(nul);
  if (name.size() > 31) name.resize(31);
  return name;
}

}  // namespace

void ProbeDevices(MidiPorts& ports, DeviceState& devices, InputCallback callback, std::uintptr_t instance,
                  roles::EventPump& pump) {
  devices.DeviceSlotCount = kMaxSlots;
  for (int s = 0; s < kMaxSlots; ++s) {
    const auto i = static_cast<std::size_t>(s);
    PortHandle out = 0;
    ports.OutOpen(&out, s);  // the handle, not the result, tells whether it opened
    devices.OutputHandles[i] = out;
    if (out != 0) {
      devices.OutputPresent[i] = true;
      ports.OutReset(out);
    }
    PortHandle in = 0;
    ports.InOpen(&in, s, callback, instance);
    devices.InputHandles[i] = in;
    if (in != 0) {
      devices.InputPresent[i] = true;
      ports.InReset(in);
    }
    pump.PumpEvents();
    if (out == 0 && in == 0) {
      devices.DeviceSlotCount = static_cast<std::int16_t>(s);
      return;
    }
  }
}

void DeviceSelection::InputChosen() {
  const int p = cInp_.ListIndex();
  if (p >= devices_.DeviceSlotCount) {
    dialogs_.MessageBox("Illegal input device selected!", roles::Buttons::Ok);
    // With no slot at all entry 0 would be illegal too; stop rather than loop forever.
    if (devices_.DeviceSlotCount > 0) SelectInput(0);
    return;
  }
  if (devices_.SelectedInput >= 0 && devices_.SelectedInput < devices_.DeviceSlotCount) {
    const PortHandle old = devices_.InputHandles[static_cast<std::size_t>(devices_.SelectedInput)];
    pool_.UnpreparePool(old);
    ports_.InStop(old);  // the old port stays open
  }
  devices_.SelectedInput = static_cast<std::int16_t>(p);
  if (p < 0) return;
  const PortHandle port = devices_.InputHandles[static_cast<std::size_t>(p)];
  // At start-up the first selection comes before the pool exists; start-up queues it.
  if (pool_.Allocated()) pool_.RequeuePool(port);
  ports_.InStart(port);
  cInp_.SetText(cInp_.Item(p));
}

void DeviceSelection::OutputChosen() {
  const int p = cOut_.ListIndex();
  if (p < devices_.DeviceSlotCount) {
    devices_.SelectedOutput = static_cast<std::int16_t>(p);
    cOut_.SetText(cOut_.Item(p));
    return;
  }
  dialogs_.MessageBox("Illegal output device selected!", roles::Buttons::Ok);
  if (devices_.DeviceSlotCount > 0) SelectOutput(0);
}

void DeviceSelection::SelectInput(int position) {
  cInp_.SetListIndex(position);
  InputChosen();
}

void DeviceSelection::SelectOutput(int position) {
  cOut_.SetListIndex(position);
  OutputChosen();
}

void FillDeviceLists(MidiPorts& ports, DeviceState& devices, DeviceSelection& selection, DeviceList& cInp,
                     DeviceList& cOut, bool& quitRequested) {
  cInp.Clear();
  for (int s = 0; s < devices.DeviceSlotCount && devices.InputPresent[static_cast<std::size_t>(s)]; ++s) {
    std::string name;
    if (ports.InGetDevCaps(devices.InputHandles[static_cast<std::size_t>(s)], &name) != kNoError) {
      quitRequested = true;
      continue;
    }
    cInp.AddItem(ProductName(name));
  }
  if (devices.DeviceSlotCount > 0 && devices.InputPresent[0]) selection.SelectInput(0);

  cOut.Clear();
  for (int s = 0; s < devices.DeviceSlotCount && devices.OutputPresent[static_cast<std::size_t>(s)]; ++s) {
    std::string name;
    if (ports.OutGetDevCaps(devices.OutputHandles[static_cast<std::size_t>(s)], &name) != kNoError) {
      quitRequested = true;
      continue;
    }
    cOut.AddItem(ProductName(name));
  }
  if (devices.DeviceSlotCount > 0 && devices.OutputPresent[0]) selection.SelectOutput(0);
}

void ShutDownPorts(MidiPorts& ports, DeviceState& devices) {
  for (int s = 0; s < devices.DeviceSlotCount; ++s) {
    const auto i = static_cast<std::size_t>(s);
    const PortHandle in = devices.InputHandles[i];
    if (in != 0) {
      ports.InStop(in);
      // A stop leaves empty buffers queued; the reset takes them back, so that nothing
      // writes into the pool once its memory is freed.
      ports.InReset(in);
    }
    if (devices.OutputHandles[i] != 0) ports.OutClose(devices.OutputHandles[i]);
    if (in != 0) ports.InClose(in);
    devices.InputHandles[i] = 0;
    devices.OutputHandles[i] = 0;
  }
  devices.SelectedInput = -1;
}

}  // namespace midi
