// The simulator's MIDI ports: one virtual input and one virtual output, both named after
// the device, on the first MIDI system that can make virtual ports (JACK when its
// server runs, else ALSA; CoreMIDI on macOS). The librarian then finds the simulator in
// both of its device lists as it would find a MIDI interface. On JACK the ports are the
// librarian's own JACK clients (midi/JackMidi.h), which close without a crash.
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

class RtMidiIn;
class RtMidiOut;
namespace midi {
class JackMidi;
}

namespace mc303sim {

class SimPorts {
 public:
  // apiChoice: "auto", "jack", "alsa" or "core". On failure, nullptr and the reasons.
  static std::unique_ptr<SimPorts> Open(const std::string& name, const std::string& apiChoice, std::string& why);
  ~SimPorts();
  SimPorts(const SimPorts&) = delete;
  SimPorts& operator=(const SimPorts&) = delete;

  const std::string& SystemName() const { return systemName_; }
  // The next message waiting at the input: false when none. seconds: the time since the
  // message before it, as the MIDI system stamped them.
  bool Read(std::vector<unsigned char>& message, double& seconds);
  // Where Read writes every byte as it comes, a block's first parts before its 0xF7: a
  // simulator killed in the middle of a block has recorded what reached it.
  void RecordTo(std::ostream* record) { record_ = record; }
  // False when the MIDI system reported an error.
  bool Send(const std::vector<unsigned char>& message);
  // Errors the MIDI system reported since the ports opened (a full input queue, ...).
  int Errors() const;
  // Closes both ports, as an unplugged device goes; the output passes on what it holds
  // first. Read and Send must not be called after it.
  void Close();

 private:
  SimPorts() = default;
  std::string systemName_;
  std::atomic<int> errors_{0};
  std::unique_ptr<RtMidiIn> in_;
  std::unique_ptr<RtMidiOut> out_;
  // On JACK: a client for each port, named as the device's sockets.
  std::unique_ptr<midi::JackMidi> jackIn_, jackOut_;
  int jackInPort_ = -1, jackOutPort_ = -1;
  // A SysEx message whose parts are still arriving, from when its first part came.
  std::vector<unsigned char> pending_;
  std::uint64_t pendingAt_ = 0, lastAt_ = 0;
  std::ostream* record_ = nullptr;
  void Record(const std::vector<unsigned char>& bytes);
};

}  // namespace mc303sim
