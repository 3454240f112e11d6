// The MIDI ports held open and those in use, for window and command line (UI thread).
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "midi/MidiPorts.h"
#include "roles/Dialogs.h"
#include "roles/EventPump.h"

namespace midi {

struct DeviceState {
  std::int16_t DeviceSlotCount = 0;  // slots 0 .. count-1 have at least one port
  std::int16_t SelectedInput = -1;   // -1 while no input port is chosen
  std::int16_t SelectedOutput = -1;
  std::array<PortHandle, kMaxSlots + 1> InputHandles{};  // 0 = not open
  std::array<PortHandle, kMaxSlots + 1> OutputHandles{};

  PortHandle SelectedInputHandle() const {  // or 0
    return SelectedInput >= 0 && SelectedInput < DeviceSlotCount ? InputHandles[static_cast<std::size_t>(SelectedInput)]
                                                                 : 0;
  }
};

// A drop-down list of device names, a position a slot; set by code it runs no handler.
class DeviceList {
 public:
  virtual ~DeviceList() = default;
  virtual void Clear() = 0;
  virtual void AddItem(const std::string& name) = 0;
  virtual int ListCount() const = 0;
  virtual std::string Item(int position) const = 0;
  virtual int ListIndex() const = 0;  // -1 when nothing is selected
  virtual void SetListIndex(int position) = 0;
};

class DeviceSession {
 public:
  DeviceSession(MidiPorts& ports, roles::Dialogs& dialogs, roles::EventPump& pump, DeviceList& inputList, DeviceList& outputList)
      : ports_(ports), dialogs_(dialogs), pump_(pump), inputList_(inputList), outputList_(outputList) {}
  ~DeviceSession() { Close(); }
  DeviceSession(const DeviceSession&) = delete;
  DeviceSession& operator=(const DeviceSession&) = delete;

  // Opens output and input port of slot 0, 1, ... until a slot has neither; returns the
  // slot count. Every port that opened stays open.
  int Probe();
  // Fills each list with the open ports' names up to the first slot without a port of
  // its kind, and chooses entry 0 where slot 0 has a port (the input's port starts);
  // slot 0 then counts as chosen for both. A name that cannot be read sets quitRequested.
  void FillLists(bool& quitRequested);
  bool Open(bool& quitRequested);  // both; false when no slot has a port
  // Closes every port, reads the lists afresh and opens them again, keeping the input
  // and output chosen by name where they are there again. False when no port is left.
  bool Rescan(bool& quitRequested);
  void Close();  // stops and closes every port

  // The lists' selection changed (by the user, or by selecting an entry by code).
  void InputChosen();
  void OutputChosen();
  void SelectInput(int position);
  void SelectOutput(int position);

  // Up to max bytes of what the chosen input received, as they came; 0 when none waits.
  std::size_t Read(std::uint8_t* bytes, std::size_t max);
  const DeviceState& State() const { return devices_; }

 private:
  MidiPorts& ports_;
  roles::Dialogs& dialogs_;
  roles::EventPump& pump_;
  DeviceList& inputList_;
  DeviceList& outputList_;
  DeviceState devices_;
};

}  // namespace midi
