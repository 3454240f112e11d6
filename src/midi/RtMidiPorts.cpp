#include "midi/RtMidiPorts.h"

#include <rtmidi/RtMidi.h>

#include <cstdlib>
#include <iostream>
#include <map>
#include <type_traits>
#include <vector>

#include "midi/ByteRing.h"
#include "midi/JackMidi.h"
#include "midi/PacedOutput.h"

#if defined(VZ_QUIET_ALSA) && defined(__LINUX_ALSA__)
#include <alsa/asoundlib.h>
#endif

namespace midi {
namespace {

#if defined(VZ_QUIET_ALSA) && defined(__LINUX_ALSA__)
void IgnoreAlsa(const char*, int, const char*, int, const char*, ...) {}
#endif

// Errors must never abort the program; called from RtMidi's threads too, so it only counts.
void CountError(RtMidiError::Type type, const std::string&, void* userData) {
  if (type != RtMidiError::DEBUG_WARNING) static_cast<std::atomic<int>*>(userData)->fetch_add(1);
}

// Without a JACK server (or ALSA), every reading of the lists made the libraries print
// a dozen lines about the missing system; the chatter is kept for VZ_MIDI_DEBUG.
bool QuietSystems() {
  static const bool quiet = [] {
    if (std::getenv("VZ_MIDI_DEBUG") != nullptr) return false;
#if defined(VZ_QUIET_ALSA) && defined(__LINUX_ALSA__)
    snd_lib_error_set_handler(&IgnoreAlsa);
#endif
    QuietJack();
    return true;
  }();
  return quiet;
}

// RtMidi reports a system it cannot reach straight to std::cerr, before an error callback
// can be set. Only the thread that reads the lists or opens a port makes clients.
template <typename Client>
std::unique_ptr<Client> MakeClient(RtMidi::Api api, const std::string& clientName, std::atomic<int>& errors) {
  struct Restore {
    std::streambuf* saved;
    ~Restore() {
      if (saved != nullptr) std::cerr.rdbuf(saved), std::cerr.clear();
    }
  } restore{QuietSystems() ? std::cerr.rdbuf(nullptr) : nullptr};
  auto client = std::make_unique<Client>(api, clientName);
  client->setErrorCallback(&CountError, &errors);
  return client;
}

// The port's number in a client now (others come and go); -1 once it has gone.
template <typename Client>
int FindPort(Client& client, const std::string& name) {
  const unsigned count = client.getPortCount();
  for (unsigned i = 0; i < count; ++i) {
    if (client.getPortName(i) == name) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace

struct RtMidiPorts::Impl {
  struct Port {  // an open port: RtMidi's, or one of the JACK client's (jack >= 0)
    Impl* owner = nullptr;
    bool output = false;
    std::string name;
    int jack = -1;
    std::atomic<int> errors{0};  // RtMidi's reports, from any of its threads
    std::atomic<bool> started{false};
    std::unique_ptr<ByteRing> ring;  // RtMidi's input thread fills it
    std::uint32_t eventLeft = 0;     // the reader's place in an event read in part
    std::unique_ptr<RtMidiIn> in;    // after the ring: destroyed first, which ends its callbacks
    std::unique_ptr<RtMidiOut> out;
    std::unique_ptr<PacedOutput> line;  // after out: ends before the port closes
  };
  struct SystemPort { RtMidi::Api api; std::string name; };

  Impl(std::string name, const std::atomic<bool>* stop) : clientName(std::move(name)), giveUp(stop) {}
  std::string clientName;
  const std::atomic<bool>* giveUp = nullptr;
  Waker arrived;
  std::unique_ptr<JackMidi> jack;
  std::vector<SystemPort> inputs, outputs;
  std::map<PortHandle, std::unique_ptr<Port>> ports;
  PortHandle nextHandle = 1;
  std::atomic<std::uint64_t> lostInput{0};  // RtMidi's input threads add to it
  std::uint64_t outputLostByClosed = 0;
  std::vector<std::unique_ptr<Port>> stuck;  // outputs whose sender may still be inside RtMidi

  Port* Find(PortHandle handle, bool output) {
    const auto it = ports.find(handle);
    return it == ports.end() || it->second->output != output ? nullptr : it->second.get();
  }

  // RtMidi's input thread: no lock, no allocation; a full ring counts the message lost.
  static void OnMessage(double, std::vector<unsigned char>* message, void* userData) {
    auto* port = static_cast<Port*>(userData);
    if (message == nullptr || message->empty() || !port->started.load(std::memory_order_acquire)) return;
    if (PushEvent(*port->ring, message->data(), message->size(), 0)) {
      port->owner->arrived.Notify();
    } else {
      port->owner->lostInput.fetch_add(message->size(), std::memory_order_relaxed);
    }
  }

  template <typename Client>
  void ReadPorts(RtMidi::Api api, std::vector<SystemPort>& list) {
    try {
      std::atomic<int> errors{0};
      auto client = MakeClient<Client>(api, clientName, errors);
      const unsigned count = client->getPortCount();
      for (unsigned i = 0; i < count; ++i) list.push_back({api, client->getPortName(i)});
    } catch (const RtMidiError&) {
      // This system is not available here (ALSA without a sequencer, no JACK server).
    }
  }

  template <typename Client>
  bool OpenClient(std::unique_ptr<Client>& client, Port& port, const SystemPort& system, const std::string& own) {
    try {
      client = MakeClient<Client>(system.api, clientName, port.errors);
      if constexpr (std::is_same_v<Client, RtMidiIn>) {
        // RtMidi drops SysEx, timing clock and active sensing unless told otherwise; the
        // program shows active sensing, records SysEx and drops the clock itself.
        client->ignoreTypes(false, false, false);
        client->setCallback(&OnMessage, &port);
      }
      const int index = FindPort(*client, system.name);
      if (index < 0) return false;
      client->openPort(static_cast<unsigned>(index), own);
    } catch (const RtMidiError&) {
      return false;
    }
    return port.errors.load() == 0 && client->isPortOpen();
  }

  MidiResult Open(PortHandle* handle, int slot, bool output) {
    *handle = 0;
    const std::vector<SystemPort>& list = output ? outputs : inputs;
    if (slot < 0 || static_cast<std::size_t>(slot) >= list.size()) return kErrBadDeviceId;
    const SystemPort& system = list[static_cast<std::size_t>(slot)];
    auto port = std::make_unique<Port>();
    port->owner = this;
    port->output = output;
    port->name = system.name;
    const std::string own = (output ? "out " : "in ") + std::to_string(slot);
    if (system.api == RtMidi::UNIX_JACK && JackMidi::kBuilt) {
      if (!jack || (port->jack = jack->Open(own, system.name, output)) < 0) return kErrNoDriver;
    } else if (output) {
      if (!OpenClient(port->out, *port, system, own)) return kErrNoDriver;
      port->line = std::make_unique<PacedOutput>([p = port.get()](const std::uint8_t* data, std::size_t size) {
        // A port whose device has gone still takes every message and passes it to no one:
        // refused here, the loss is counted and told at the next hand-over.
        if (FindPort(*p->out, p->name) < 0) return false;
        const int before = p->errors.load();
        p->out->sendMessage(data, size);
        return p->errors.load() == before;
      });
    } else {
      port->ring = std::make_unique<ByteRing>(kInputRingBytes);
      if (!OpenClient(port->in, *port, system, own)) return kErrNoDriver;
    }
    *handle = nextHandle++;
    ports[*handle] = std::move(port);
    return kNoError;
  }

  // An output's queue drains first; one whose system no longer takes data is kept for ever.
  void Close(std::unique_ptr<Port> port) {
    if (port->jack >= 0) return jack->Close(port->jack);
    if (!port->output) return port->in.reset();  // no RtMidi callback for this port after this
    const bool drained = port->line->Finish(std::chrono::seconds(2));
    outputLostByClosed += port->line->LostBytes();
    if (!drained) stuck.push_back(std::move(port));
  }

  MidiResult Start(PortHandle handle, bool on) {
    Port* port = Find(handle, false);
    if (port == nullptr) return kErrInvalidHandle;
    if (port->jack >= 0) jack->Listen(port->jack, on);
    port->started.store(on, std::memory_order_release);
    return kNoError;
  }
};

RtMidiPorts::RtMidiPorts(const std::string& clientName, const std::atomic<bool>* giveUp)
    : impl_(std::make_unique<Impl>(clientName, giveUp)) {
  ReadPortLists();
}

RtMidiPorts::~RtMidiPorts() {
  for (auto& [handle, port] : impl_->ports) impl_->Close(std::move(port));
  // What the MIDI system never took back must outlive the program's own use of it.
  for (auto& stuck : impl_->stuck) (void)stuck.release();
}

void RtMidiPorts::ReadPortLists() {
  impl_->inputs.clear();
  impl_->outputs.clear();
  std::vector<RtMidi::Api> apis;
  RtMidi::getCompiledApi(apis);
  for (RtMidi::Api api : apis) {
    // JACK through a client of the program's own, in RtMidi's place among the systems.
    if (api == RtMidi::UNIX_JACK && JackMidi::kBuilt) {
      QuietSystems();
      if (!impl_->jack) impl_->jack = JackMidi::Connect(impl_->clientName, &impl_->arrived, impl_->giveUp);
      for (const bool sources : {true, false}) {
        for (const std::string& name : impl_->jack ? impl_->jack->PortNames(sources) : std::vector<std::string>()) {
          (sources ? impl_->inputs : impl_->outputs).push_back({api, name});
        }
      }
      continue;
    }
    impl_->ReadPorts<RtMidiIn>(api, impl_->inputs);
    impl_->ReadPorts<RtMidiOut>(api, impl_->outputs);
  }
}

MidiResult RtMidiPorts::OutOpen(PortHandle* handle, int slot) { return impl_->Open(handle, slot, true); }
MidiResult RtMidiPorts::InOpen(PortHandle* handle, int slot) { return impl_->Open(handle, slot, false); }

MidiResult RtMidiPorts::PortName(PortHandle handle, std::string* name) {
  const auto it = impl_->ports.find(handle);
  return it == impl_->ports.end() ? kErrInvalidHandle : (*name = it->second->name, kNoError);
}

MidiResult RtMidiPorts::Close(PortHandle handle) {
  auto node = impl_->ports.extract(handle);
  if (node.empty()) return kErrInvalidHandle;
  impl_->Close(std::move(node.mapped()));
  return kNoError;
}

MidiResult RtMidiPorts::InStart(PortHandle port) { return impl_->Start(port, true); }
MidiResult RtMidiPorts::InStop(PortHandle port) { return impl_->Start(port, false); }

std::size_t RtMidiPorts::InRead(PortHandle handle, std::uint8_t* bytes, std::size_t max) {
  Impl::Port* port = impl_->Find(handle, false);
  if (port == nullptr) return 0;
  return ReadEventBytes(port->jack >= 0 ? impl_->jack->Input(port->jack) : *port->ring, port->eventLeft, bytes, max);
}

Waker& RtMidiPorts::InputArrived() { return impl_->arrived; }

bool RtMidiPorts::InSourcePresent(PortHandle handle) {
  Impl::Port* port = impl_->Find(handle, false);
  return port != nullptr &&
         (port->jack >= 0 ? impl_->jack->PeerPresent(port->jack) : FindPort(*port->in, port->name) >= 0);
}

MidiResult RtMidiPorts::OutSend(PortHandle handle, const std::uint8_t* bytes, std::size_t size) {
  Impl::Port* port = impl_->Find(handle, true);
  if (port == nullptr) return kErrInvalidHandle;
  if (port->jack >= 0) return impl_->jack->Send(port->jack, bytes, size);
  // That block is not taken: the rest of a bulk load is of no use to a device that missed part.
  if (port->line->TakeFailure()) return kErrOutputLost;
  port->line->Send(bytes, size);
  return kNoError;
}

std::optional<std::chrono::microseconds> RtMidiPorts::OutDrainTime(PortHandle handle) {
  Impl::Port* port = impl_->Find(handle, true);
  if (port == nullptr) return std::nullopt;
  if (port->jack >= 0) return impl_->jack->DrainTime(port->jack);
  return std::chrono::ceil<std::chrono::microseconds>(port->line->DrainTime());
}

std::string RtMidiPorts::ErrorText(MidiResult code) {
  switch (code) {
    case kErrInvalidHandle: return "The specified device handle is invalid.";
    case kErrNotReady: return "The hardware is busy.";
    case kErrOutputLost: return "Data sent earlier did not reach the MIDI system.";
    default: return {};
  }
}

std::uint64_t RtMidiPorts::LostOutputBytes() const {
  std::uint64_t lost = impl_->outputLostByClosed + (impl_->jack ? impl_->jack->LostOutputBytes() : 0);
  for (const auto& [handle, port] : impl_->ports) lost += port->line ? port->line->LostBytes() : 0;
  return lost;
}

std::uint64_t RtMidiPorts::LostInputBytes() const {
  return impl_->lostInput.load() + (impl_->jack ? impl_->jack->LostInputBytes() : 0);
}

}  // namespace midi
