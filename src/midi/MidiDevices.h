// The MIDI ports the program holds open and which of them is in use: the start-up
// probe that opens every port it finds, the two device lists, the choice of input and
// output port, and the closing of all ports at shut-down. Used by the window's start-up
// and drop-down lists and by the capture command; all on the user-interface thread.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "midi/InputBufferPool.h"
#include "midi/MidiPorts.h"
#include "roles/Dialogs.h"
#include "roles/EventPump.h"

namespace midi {

struct DeviceState {
  std::int16_t DeviceSlotCount = 0;  // slots 0 .. count-1 have at least one port
  std::int16_t SelectedInput = -1;   // -1 while no input port is active
  std::int16_t SelectedOutput = -1;
  std::array<PortHandle, kMaxSlots + 1> InputHandles{};  // 0 = not open
  std::array<PortHandle, kMaxSlots + 1> OutputHandles{};
  std::array<bool, kMaxSlots> InputPresent{};
  std::array<bool, kMaxSlots> OutputPresent{};

  // The handle of the active input port, or 0.
  PortHandle SelectedInputHandle() const {
    return SelectedInput >= 0 && SelectedInput < DeviceSlotCount ? InputHandles[static_cast<std::size_t>(SelectedInput)]
                                                                 : 0;
  }
};

// A drop-down list of device names as the selection logic sees it: a position equals
// a device slot. Setting the position by code does not run any handler; the caller
// runs the selection itself (DeviceSelection::SelectInput/SelectOutput).
class DeviceList {
 public:
  virtual ~DeviceList() = default;
  virtual void Clear() = 0;
  virtual void AddItem(const std::string& name) = 0;
  virtual int ListCount() const = 0;
  virtual std::string Item(int position) const = 0;
  virtual int ListIndex() const = 0;  // -1 when nothing is selected
  virtual void SetListIndex(int position) = 0;
  virtual void SetText(const std::string& text) = 0;  // the list's text field
};

// Opens output and input port of slot 0, 1, ... with the callback, resetting each port
// that opened, until a slot has neither; every opened port stays open.
void ProbeDevices(MidiPorts& ports, DeviceState& devices, InputCallback callback, std::uintptr_t instance,
                  roles::EventPump& pump);

class DeviceSelection {
 public:
  DeviceSelection(MidiPorts& ports, DeviceState& devices, InputBufferPool& pool, roles::Dialogs& dialogs,
                  DeviceList& cInp, DeviceList& cOut)
      : ports_(ports), devices_(devices), pool_(pool), dialogs_(dialogs), cInp_(cInp), cOut_(cOut) {}

  // The lists' selection changed (by the user, or by the two functions below).
  void InputChosen();
  void OutputChosen();
  // Selecting an entry by code behaves as the user's choice.
  void SelectInput(int position);
  void SelectOutput(int position);

 private:
  MidiPorts& ports_;
  DeviceState& devices_;
  InputBufferPool& pool_;
  roles::Dialogs& dialogs_;
  DeviceList& cInp_;
  DeviceList& cOut_;
};

// Fills cInp and cOut with the product names of the open ports, each list ending at
// the first slot without a port of its kind so that a position is a slot, and selects
// entry 0 of each list whose slot 0 has a port. A failed name query sets quitRequested.
void FillDeviceLists(MidiPorts& ports, DeviceState& devices, DeviceSelection& selection, DeviceList& cInp,
                     DeviceList& cOut, bool& quitRequested);

// Stops, resets and closes every open port. After it, the layer holds no input buffer
// and writes into none, so the pool's memory may be freed.
void ShutDownPorts(MidiPorts& ports, DeviceState& devices);

}  // namespace midi
