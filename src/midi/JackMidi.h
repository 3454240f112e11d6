// The program's own JACK client: one client for all its JACK ports, and a process
// callback that moves bytes between the ports and lock-free rings without locking,
// allocating or waiting. RtMidi's JACK output frees its ring before it closes its
// client, so a cycle under way could read freed memory; here a closing port first
// leaves the callback's reach and the cycle under way ends before anything goes.
// Output leaves at a MIDI line's pace, timed in the callback (unpaced for the simulated
// device, which paces itself). A call that waits for the server gives up two seconds
// after giveUp is set; the client is then left as it is, and nothing it may touch freed.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "midi/ByteRing.h"
#include "midi/MidiPorts.h"

namespace midi {

void QuietJack();  // keeps the JACK library's complaints off stderr

class JackMidi {
 public:
  static const bool kBuilt;  // false where the program was built without JACK
  // The client, running; nullptr when no JACK server answers. wake: notified whenever
  // the process thread stored input.
  static std::unique_ptr<JackMidi> Connect(const std::string& clientName, Waker* wake = nullptr,
                                           const std::atomic<bool>* giveUp = nullptr);
  ~JackMidi();

  // The other clients' MIDI ports, in the server's order: sources or destinations.
  std::vector<std::string> PortNames(bool sources) const;
  // A port of this client connected to peer (none for a virtual port); -1 on failure.
  int Open(const std::string& name, const std::string& peer, bool output, bool paced = true);
  // An output first passes on what it holds, allowing its wire time and two seconds.
  void Close(int port);

  // Input is stored (as PushEvent stores it) only while listening.
  void Listen(int port, bool on);
  ByteRing& Input(int port);
  // A block, copied; kErrOutputLost (the block not taken) when bytes handed over
  // earlier reached no one, kErrNotReady when there was no room within its wire time.
  MidiResult Send(int port, const std::uint8_t* bytes, std::size_t size);
  std::chrono::microseconds DrainTime(int port) const;
  bool PeerPresent(int port) const;
  std::uint64_t LostInputBytes() const;
  std::uint64_t LostOutputBytes() const;

 private:
  struct State;
  explicit JackMidi(std::unique_ptr<State> state);
  std::unique_ptr<State> s_;
};

}  // namespace midi
