// The program's own JACK client: one client for all its JACK ports, registered as they
// are opened, and a process callback that moves bytes between the ports and lock-free
// rings (it neither locks nor allocates). RtMidi's JACK backend frees its ring before it
// closes its client, so a process cycle already under way could read freed memory as a
// port closed; here nothing the callback touches is freed until the callback can no
// longer reach it: a closing port is first taken out of the callback's table and the
// cycle under way is let finish, and the client is deactivated before it goes.
//
// Output leaves at the pace of a MIDI line, 320 microseconds a byte, timed in the
// callback, which therefore knows when the last byte of a block has gone (DrainTime).
// A block that spans cycles goes in pieces none of which but the last ends in 0xF7, so
// that a receiver joining a SysEx message's parts until its 0xF7 sees the block whole.
// Unpaced output (the simulated device, which paces itself) goes as soon as it can.
//
// Every call that waits for the server's answer gives up once giveUp is set (SIGINT or
// SIGTERM), so a server that stops answering (stopped, hung) cannot hold the program;
// from then on the client is left as it is, and nothing it may touch is ever freed.
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

  // The MIDI ports of the other clients, in the server's order: the sources an input
  // reads from, or the destinations an output goes to.
  std::vector<std::string> PortNames(bool sources) const;

  // A port of this client, connected to peer (left unconnected when peer is empty, as
  // a virtual port is); -1 when it cannot be made.
  int OpenInput(const std::string& name, const std::string& peer);
  int OpenOutput(const std::string& name, const std::string& peer, bool paced);
  // An output first passes on what it holds, allowing its wire time and two seconds.
  void Close(int port);

  // Input is stored (as PushEvent stores it) only while listening.
  void Listen(int port, bool on);
  ByteRing& Input(int port);

  // A block, copied; it leaves after those handed over before it. kErrOutputLost when
  // bytes handed over earlier reached no one (the block is not taken then), and
  // kErrNotReady when the output had no room for it within its wire time.
  MidiResult Send(int port, const std::uint8_t* bytes, std::size_t size);
  // How long what was handed over still takes to leave the port.
  std::chrono::microseconds DrainTime(int port) const;

  bool PeerPresent(int port) const;
  std::uint64_t LostInputBytes() const;
  std::uint64_t LostOutputBytes() const;

 private:
  struct State;
  explicit JackMidi(std::unique_ptr<State> state);
  int Open(const std::string& name, const std::string& peer, bool output, bool paced);
  std::unique_ptr<State> s_;
};

}  // namespace midi
