// The program's own JACK client: one client for all its JACK ports, registered as they
// open, and a process callback that moves bytes between the ports and lock-free rings
// (it neither locks nor allocates). RtMidi's JACK output frees its ring before it
// closes its client, so a cycle under way could read freed memory; here a closing port
// is first taken out of the callback's reach and the cycle under way let end, and the
// client is deactivated before anything goes.
//
// Output leaves at a MIDI line's pace, 320 microseconds a byte, timed in the callback,
// which therefore knows when a block's last byte has gone (DrainTime). A block spanning
// cycles goes in parts (PartLength). Unpaced output (the simulated device, which paces
// itself) goes as soon as it can.
//
// A call that waits for the server gives up once giveUp is set (SIGINT, SIGTERM) and
// two seconds have passed, so a server that stops answering cannot hold the program;
// the client is then left as it is, and nothing it may touch is freed.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "midi/ByteRing.h"
#include "midi/MidiPorts.h"
#include "midi/Waker.h"

namespace midi {

class JackMidi {
 public:
  // The client, running; nullptr when no JACK server answers. wake: notified from the
  // process thread whenever it stored input.
  static std::unique_ptr<JackMidi> Connect(const std::string& clientName, Waker* wake = nullptr,
                                           const std::atomic<bool>* giveUp = nullptr);
  ~JackMidi();
  JackMidi(const JackMidi&) = delete;
  JackMidi& operator=(const JackMidi&) = delete;

  // The other clients' MIDI ports, in the server's order: sources (what an input reads)
  // or destinations.
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
  std::uint64_t Lost(bool output) const;
  std::unique_ptr<State> s_;
};

}  // namespace midi
