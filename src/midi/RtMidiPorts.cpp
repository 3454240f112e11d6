#include "midi/RtMidiPorts.h"

#include <rtmidi/RtMidi.h>

#include <atomic>
#include <cstdlib>
#include <iostream>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "midi/ByteRing.h"
#include "midi/InputHub.h"
#include "midi/MidiError.h"
#include "midi/PacedOutput.h"
#include "midi/Waker.h"

#if defined(VZ_QUIET_ALSA) && defined(__LINUX_ALSA__)
#include <alsa/asoundlib.h>
#endif
#if defined(VZ_HAVE_JACK)
#include <jack/jack.h>

#include "midi/JackMidi.h"
#endif

namespace midi {
namespace {

// What RtMidi's callback thread (JACK's realtime thread, or ALSA's input thread) may
// hold before the delivery thread takes it: about a quarter of an hour of MIDI at wire
// speed, so a stalled delivery thread loses nothing in practice.
constexpr std::size_t kBackendRingBytes = 4u << 20;

struct SystemPort {
  RtMidi::Api api;
  std::string name;
};

// Errors must never abort the program, and RtMidi calls this from its own threads too:
// only an atomic count, nothing that allocates.
void CountError(RtMidiError::Type type, const std::string&, void* userData) {
  if (type == RtMidiError::DEBUG_WARNING) return;
  static_cast<std::atomic<int>*>(userData)->fetch_add(1, std::memory_order_relaxed);
}

#if defined(VZ_QUIET_ALSA) && defined(__LINUX_ALSA__)
void IgnoreAlsa(const char*, int, const char*, int, const char*, ...) {}
#endif
#if defined(VZ_HAVE_JACK)
void IgnoreJack(const char*) {}
#endif

// On a machine with ALSA but no JACK server (or the reverse), every reading of the
// device lists made the libraries print a dozen lines about the system that is missing,
// on every run of the CLI. Whether a system is there shows in the lists; the chatter is
// kept for whoever sets VZ_MIDI_DEBUG.
bool QuietSystems() {
  static const bool quiet = [] {
    if (std::getenv("VZ_MIDI_DEBUG") != nullptr) return false;
#if defined(VZ_QUIET_ALSA) && defined(__LINUX_ALSA__)
    snd_lib_error_set_handler(&IgnoreAlsa);
#endif
#if defined(VZ_HAVE_JACK)
    jack_set_error_function(&IgnoreJack);
    jack_set_info_function(&IgnoreJack);
#endif
    return true;
  }();
  return quiet;
}

// RtMidi reports a system it cannot reach while a client is being made, before an error
// callback can be set, straight to std::cerr. Only the thread that reads the lists or
// opens a port makes clients, and nothing else in the program writes to std::cerr then.
class QuietClientMaking {
 public:
  QuietClientMaking() : saved_(QuietSystems() ? std::cerr.rdbuf(nullptr) : nullptr), swapped_(saved_ != nullptr) {}
  ~QuietClientMaking() {
    if (swapped_) {
      std::cerr.rdbuf(saved_);
      std::cerr.clear();
    }
  }
  QuietClientMaking(const QuietClientMaking&) = delete;
  QuietClientMaking& operator=(const QuietClientMaking&) = delete;

 private:
  std::streambuf* saved_;
  bool swapped_;
};

template <typename Client>
std::unique_ptr<Client> MakeClient(RtMidi::Api api, const std::string& clientName) {
  QuietClientMaking quiet;
  return std::make_unique<Client>(api, clientName);
}

// The port's current number in a fresh client: others may have come and gone since the
// lists were read.
template <typename Client>
bool FindPort(Client& client, const std::string& name, unsigned& index) {
  const unsigned count = client.getPortCount();
  for (unsigned i = 0; i < count; ++i) {
    if (client.getPortName(i) == name) {
      index = i;
      return true;
    }
  }
  return false;
}

}  // namespace

struct RtMidiPorts::Impl {
  // A port is RtMidi's, or one of the JACK client's (jackPort >= 0).
  struct InPort {
    Impl* owner = nullptr;
    PortHandle handle = 0;
    std::string name;
    int jackPort = -1;
    std::unique_ptr<ByteRing> ownRing;  // RtMidi's thread fills it
    ByteRing* ring = nullptr;           // that, or the JACK client's ring of the port
    std::atomic<int> errors{0};
    std::atomic<std::uint64_t> lost{0};
    std::unique_ptr<RtMidiIn> midi;  // last: destroyed first, which ends its callbacks
  };
  struct OutPort {
    std::string name;
    int jackPort = -1;
    std::atomic<int> errors{0};  // RtMidi's reports; the sender thread reads them
    std::unique_ptr<RtMidiOut> midi;
    std::unique_ptr<PacedOutput> line;  // after midi: ends before the port closes
  };

  std::string clientName;
#if defined(VZ_HAVE_JACK)
  std::unique_ptr<JackMidi> jack;  // once the lists are read, while a JACK server answers
#endif
  std::vector<SystemPort> inputs;
  std::vector<SystemPort> outputs;

  std::mutex tableMutex;  // the port tables; the delivery thread reads them
  std::map<PortHandle, std::unique_ptr<InPort>> ins;
  std::map<PortHandle, std::unique_ptr<OutPort>> outs;
  PortHandle nextHandle = 1;
  std::uint64_t lostByClosedPorts = 0;
  std::uint64_t outputLostByClosedPorts = 0;
  // Output ports whose MIDI system stopped taking data: their sender may still be
  // inside RtMidi, so they are never destroyed.
  std::vector<std::unique_ptr<OutPort>> stuckOutputs;

  // What is still queued on a port when it closes may take this much longer than its
  // wire time to reach the MIDI system before it counts as lost.
  static constexpr std::chrono::milliseconds kCloseGrace{2000};

  // Lets the port's queue drain, then closes it. A port whose MIDI system no longer
  // takes data is kept for ever rather than destroyed under its sender thread.
  void CloseOutput(std::unique_ptr<OutPort> port) {
#if defined(VZ_HAVE_JACK)
    if (port->jackPort >= 0) return jack->Close(port->jackPort);
#endif
    if (!port->line->Finish(kCloseGrace)) {
      std::lock_guard lock(tableMutex);
      outputLostByClosedPorts += port->line->LostBytes();
      stuckOutputs.push_back(std::move(port));
      return;
    }
    const std::uint64_t lost = port->line->LostBytes();
    port.reset();
    std::lock_guard lock(tableMutex);
    outputLostByClosedPorts += lost;
  }

  Waker deliveryWake;
  InputHub hub{[this] { deliveryWake.Notify(); }};
  std::atomic<bool> stopping{false};
  std::thread delivery;

  // RtMidi's thread: copy the message into the port's ring and wake the delivery
  // thread. No lock, no allocation; a full ring counts the message as lost.
  static void OnMessage(double, std::vector<unsigned char>* message, void* userData) {
    auto* port = static_cast<InPort*>(userData);
    if (message == nullptr || message->empty()) return;
    if (!PushEvent(*port->ring, message->data(), message->size(), 0)) port->lost += message->size();
    port->owner->deliveryWake.Notify();
  }

  void DeliveryLoop() {
    std::vector<std::uint8_t> event;
    std::uint64_t micros = 0;
    while (!stopping.load(std::memory_order_acquire)) {
      // The timeout only bounds how long a lost wake-up could delay delivery.
      deliveryWake.WaitFor(std::chrono::milliseconds(200));
      {
        std::lock_guard lock(tableMutex);
        for (auto& [handle, port] : ins) {
          while (PopEvent(*port->ring, event, micros)) hub.Receive(handle, event.data(), event.size());
        }
      }
      hub.DeliverAll();
    }
  }

  template <typename Client>
  void ReadPorts(RtMidi::Api api, std::vector<SystemPort>& list) {
    try {
      auto client = MakeClient<Client>(api, clientName);
      std::atomic<int> errors{0};
      client->setErrorCallback(&CountError, &errors);
      const unsigned count = client->getPortCount();
      for (unsigned i = 0; i < count; ++i) list.push_back({api, client->getPortName(i)});
    } catch (const RtMidiError&) {
      // This system is not available here (ALSA without a sequencer, no JACK server).
    }
  }
};

RtMidiPorts::RtMidiPorts(const std::string& clientName, const std::atomic<bool>* giveUp)
    : impl_(std::make_unique<Impl>()) {
  impl_->clientName = clientName;
  std::vector<RtMidi::Api> apis;
  RtMidi::getCompiledApi(apis);
  for (RtMidi::Api api : apis) {
#if defined(VZ_HAVE_JACK)
    // JACK through a client of the program's own (JackMidi.h tells why), in RtMidi's
    // place among the systems, its ports named as RtMidi names them.
    if (api == RtMidi::UNIX_JACK) {
      QuietSystems();
      impl_->jack = JackMidi::Connect(clientName, &impl_->deliveryWake, giveUp);
      if (!impl_->jack) continue;
      for (const std::string& name : impl_->jack->PortNames(true)) impl_->inputs.push_back({api, name});
      for (const std::string& name : impl_->jack->PortNames(false)) impl_->outputs.push_back({api, name});
      continue;
    }
#endif
    impl_->ReadPorts<RtMidiIn>(api, impl_->inputs);
    impl_->ReadPorts<RtMidiOut>(api, impl_->outputs);
  }
  (void)giveUp;
  impl_->delivery = std::thread([this] { impl_->DeliveryLoop(); });
}

RtMidiPorts::~RtMidiPorts() {
  std::map<PortHandle, std::unique_ptr<Impl::OutPort>> outs;
  {
    std::lock_guard lock(impl_->tableMutex);
    impl_->ins.clear();  // ends every RtMidi callback before the rings go
    outs.swap(impl_->outs);
  }
  for (auto& [handle, port] : outs) impl_->CloseOutput(std::move(port));
  // What the MIDI system never took back must outlive the program's own use of it.
  for (auto& stuck : impl_->stuckOutputs) (void)stuck.release();
  impl_->stopping.store(true, std::memory_order_release);
  impl_->deliveryWake.Notify();
  impl_->delivery.join();
#if defined(VZ_HAVE_JACK)
  impl_->jack.reset();
#endif
}

MidiResult RtMidiPorts::OutOpen(PortHandle* handle, int slot) {
  *handle = 0;
  if (slot < 0 || static_cast<std::size_t>(slot) >= impl_->outputs.size()) return kErrBadDeviceId;
  const SystemPort& system = impl_->outputs[static_cast<std::size_t>(slot)];
  auto port = std::make_unique<Impl::OutPort>();
  port->name = system.name;
#if defined(VZ_HAVE_JACK)
  if (system.api == RtMidi::UNIX_JACK) {
    port->jackPort = impl_->jack->OpenOutput("out " + std::to_string(slot), system.name, true);
    if (port->jackPort < 0) return kErrNoDriver;
    std::lock_guard lock(impl_->tableMutex);
    *handle = impl_->nextHandle++;
    impl_->outs[*handle] = std::move(port);
    return kNoError;
  }
#endif
  try {
    port->midi = MakeClient<RtMidiOut>(system.api, impl_->clientName);
    port->midi->setErrorCallback(&CountError, &port->errors);
    unsigned index = 0;
    if (!FindPort(*port->midi, system.name, index)) return kErrBadDeviceId;
    port->midi->openPort(index, "out " + std::to_string(slot));
  } catch (const RtMidiError&) {
    return kErrNoDriver;
  }
  if (port->errors.load() != 0 || !port->midi->isPortOpen()) return kErrNoDriver;
  port->line = std::make_unique<PacedOutput>(
      [out = port.get()](const std::uint8_t* data, std::size_t size) {
        // A port whose device has gone (unplugged, its JACK client ended) still takes
        // every message and passes it to no one. Refused here, the loss is counted
        // and the next hand-over says so, rather than a Send that reports success.
        unsigned index = 0;
        if (!FindPort(*out->midi, out->name, index)) return false;
        const int before = out->errors.load();
        out->midi->sendMessage(data, size);
        return out->errors.load() == before;
      });
  std::lock_guard lock(impl_->tableMutex);
  *handle = impl_->nextHandle++;
  impl_->outs[*handle] = std::move(port);
  return kNoError;
}

MidiResult RtMidiPorts::InOpen(PortHandle* handle, int slot, InputCallback callback, std::uintptr_t instance) {
  *handle = 0;
  if (slot < 0 || static_cast<std::size_t>(slot) >= impl_->inputs.size()) return kErrBadDeviceId;
  const SystemPort& system = impl_->inputs[static_cast<std::size_t>(slot)];
  auto port = std::make_unique<Impl::InPort>();
  port->owner = impl_.get();
  port->name = system.name;
  PortHandle h = 0;
  {
    std::lock_guard lock(impl_->tableMutex);
    h = impl_->nextHandle++;
  }
  port->handle = h;
  // The hub knows the port before the first message can arrive; it ignores input until
  // the port is started.
  impl_->hub.Open(h, callback, instance);
#if defined(VZ_HAVE_JACK)
  if (system.api == RtMidi::UNIX_JACK) {
    port->jackPort = impl_->jack->OpenInput("in " + std::to_string(slot), system.name);
    if (port->jackPort < 0) {
      impl_->hub.Close(h);
      return kErrNoDriver;
    }
    port->ring = &impl_->jack->Input(port->jackPort);
    impl_->jack->Listen(port->jackPort, true);
    std::lock_guard lock(impl_->tableMutex);
    impl_->ins[h] = std::move(port);
    *handle = h;
    return kNoError;
  }
#endif
  port->ownRing = std::make_unique<ByteRing>(kBackendRingBytes);
  port->ring = port->ownRing.get();
  try {
    port->midi = MakeClient<RtMidiIn>(system.api, impl_->clientName);
    port->midi->setErrorCallback(&CountError, &port->errors);
    // RtMidi drops SysEx, timing clock and active sensing unless told otherwise; the
    // program shows active sensing and records SysEx, and its callback drops the clock.
    port->midi->ignoreTypes(false, false, false);
    port->midi->setCallback(&Impl::OnMessage, port.get());
    unsigned index = 0;
    if (!FindPort(*port->midi, system.name, index)) {
      impl_->hub.Close(h);
      return kErrBadDeviceId;
    }
    port->midi->openPort(index, "in " + std::to_string(slot));
  } catch (const RtMidiError&) {
    impl_->hub.Close(h);
    return kErrNoDriver;
  }
  if (port->errors.load() != 0 || !port->midi->isPortOpen()) {
    port->midi.reset();
    impl_->hub.Close(h);
    return kErrNoDriver;
  }
  std::lock_guard lock(impl_->tableMutex);
  impl_->ins[h] = std::move(port);
  *handle = h;
  return kNoError;
}

MidiResult RtMidiPorts::OutReset(PortHandle port) {
  std::lock_guard lock(impl_->tableMutex);
  return impl_->outs.count(port) != 0 ? kNoError : kErrInvalidHandle;
}

MidiResult RtMidiPorts::InReset(PortHandle port) { return impl_->hub.Reset(port); }

MidiResult RtMidiPorts::InGetDevCaps(PortHandle port, std::string* name) {
  std::lock_guard lock(impl_->tableMutex);
  const auto it = impl_->ins.find(port);
  if (it == impl_->ins.end()) return kErrInvalidHandle;
  *name = it->second->name;
  return kNoError;
}

MidiResult RtMidiPorts::OutGetDevCaps(PortHandle port, std::string* name) {
  std::lock_guard lock(impl_->tableMutex);
  const auto it = impl_->outs.find(port);
  if (it == impl_->outs.end()) return kErrInvalidHandle;
  *name = it->second->name;
  return kNoError;
}

MidiResult RtMidiPorts::InPrepareHeader(PortHandle port, MidiHdr* header, std::uint32_t size) {
  return impl_->hub.Prepare(port, header, size);
}
MidiResult RtMidiPorts::InAddBuffer(PortHandle port, MidiHdr* header, std::uint32_t size) {
  return impl_->hub.AddBuffer(port, header, size);
}
MidiResult RtMidiPorts::InUnprepareHeader(PortHandle port, MidiHdr* header, std::uint32_t size) {
  return impl_->hub.Unprepare(port, header, size);
}
MidiResult RtMidiPorts::InStart(PortHandle port) { return impl_->hub.Start(port); }
MidiResult RtMidiPorts::InStop(PortHandle port) { return impl_->hub.Stop(port); }

MidiResult RtMidiPorts::InClose(PortHandle port) {
  std::unique_ptr<Impl::InPort> closing;
  {
    std::lock_guard lock(impl_->tableMutex);
    const auto it = impl_->ins.find(port);
    if (it == impl_->ins.end()) return kErrInvalidHandle;
    closing = std::move(it->second);
    impl_->ins.erase(it);
    closing->midi.reset();  // no RtMidi callback for this port after this
    impl_->lostByClosedPorts += closing->lost.load();
  }
#if defined(VZ_HAVE_JACK)
  if (closing->jackPort >= 0) impl_->jack->Close(closing->jackPort);
#endif
  return impl_->hub.Close(port);
}

MidiResult RtMidiPorts::OutClose(PortHandle port) {
  std::unique_ptr<Impl::OutPort> closing;
  {
    std::lock_guard lock(impl_->tableMutex);
    const auto it = impl_->outs.find(port);
    if (it == impl_->outs.end()) return kErrInvalidHandle;
    closing = std::move(it->second);
    impl_->outs.erase(it);
  }
  impl_->CloseOutput(std::move(closing));
  return kNoError;
}

MidiResult RtMidiPorts::OutPrepareHeader(PortHandle port, MidiHdr* header, std::uint32_t size) {
  std::lock_guard lock(impl_->tableMutex);
  if (impl_->outs.count(port) == 0) return kErrInvalidHandle;
  if (header == nullptr || size != kMidiHdrSize || header->lpData == nullptr) return kErrInvalidParam;
  header->dwFlags |= kMhdrPrepared;
  return kNoError;
}

MidiResult RtMidiPorts::OutLongMsg(PortHandle port, MidiHdr* header, std::uint32_t size) {
  std::lock_guard lock(impl_->tableMutex);
  const auto it = impl_->outs.find(port);
  if (it == impl_->outs.end()) return kErrInvalidHandle;
  if (header == nullptr || size != kMidiHdrSize) return kErrInvalidParam;
  if ((header->dwFlags & kMhdrPrepared) == 0) return kErrUnprepared;
  if (header->lpData == nullptr && header->dwBufferLength > 0) return kErrInvalidParam;
  Impl::OutPort& out = *it->second;
#if defined(VZ_HAVE_JACK)
  if (out.jackPort >= 0) return impl_->jack->Send(out.jackPort, header->lpData, header->dwBufferLength);
#endif
  // A loss is told at the next hand-over, and that block is not taken: the rest of a
  // bulk load is of no use to a device that missed part of it.
  if (out.line->TakeFailure()) return kErrOutputLost;
  out.line->Send(header->lpData, header->dwBufferLength);
  header->dwFlags |= kMhdrDone;  // the line holds its own copy
  return kNoError;
}

MidiResult RtMidiPorts::OutUnprepareHeader(PortHandle port, MidiHdr* header, std::uint32_t size) {
  std::lock_guard lock(impl_->tableMutex);
  if (impl_->outs.count(port) == 0) return kErrInvalidHandle;
  if (header == nullptr || size != kMidiHdrSize) return kErrInvalidParam;
  header->dwFlags &= ~kMhdrPrepared;
  return kNoError;
}

std::optional<std::chrono::microseconds> RtMidiPorts::OutDrainTime(PortHandle port) {
  std::lock_guard lock(impl_->tableMutex);
  const auto it = impl_->outs.find(port);
  if (it == impl_->outs.end()) return std::nullopt;
#if defined(VZ_HAVE_JACK)
  if (it->second->jackPort >= 0) return impl_->jack->DrainTime(it->second->jackPort);
#endif
  return std::chrono::ceil<std::chrono::microseconds>(it->second->line->DrainTime());
}

std::string RtMidiPorts::ErrorText(MidiResult code) { return StandardErrorText(code); }

bool RtMidiPorts::InSourcePresent(PortHandle port) {
  std::lock_guard lock(impl_->tableMutex);
  const auto it = impl_->ins.find(port);
  if (it == impl_->ins.end()) return false;
#if defined(VZ_HAVE_JACK)
  if (it->second->jackPort >= 0) return impl_->jack->PeerPresent(it->second->jackPort);
#endif
  unsigned index = 0;
  return FindPort(*it->second->midi, it->second->name, index);
}

std::uint64_t RtMidiPorts::LostOutputBytes() const {
  std::lock_guard lock(impl_->tableMutex);
  std::uint64_t lost = impl_->outputLostByClosedPorts;
  for (const auto& [handle, port] : impl_->outs) lost += port->line ? port->line->LostBytes() : 0;
#if defined(VZ_HAVE_JACK)
  if (impl_->jack) lost += impl_->jack->LostOutputBytes();
#endif
  return lost;
}

std::uint64_t RtMidiPorts::LostInputBytes() const {
  std::lock_guard lock(impl_->tableMutex);
  std::uint64_t lost = impl_->hub.LostBytes() + impl_->lostByClosedPorts;
  for (const auto& [handle, port] : impl_->ins) lost += port->lost.load();
#if defined(VZ_HAVE_JACK)
  if (impl_->jack) lost += impl_->jack->LostInputBytes();
#endif
  return lost;
}

}  // namespace midi
