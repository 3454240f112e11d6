#include "midi/JackMidi.h"

#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "midi/PacedOutput.h"

namespace midi {
namespace {

constexpr std::uint64_t kMicrosPerByte = 320;  // 31250 baud, ten bits a byte
constexpr std::size_t kInputRingBytes = 4u << 20;   // a quarter of an hour of wire speed
constexpr std::size_t kOutputRingBytes = 1u << 20;  // several whole bulk loads
constexpr auto kGrace = std::chrono::seconds(2);
using Clock = std::chrono::steady_clock;

}  // namespace

struct JackMidi::State {
  struct Port {
    std::atomic<jack_port_t*> live{nullptr};  // what the process thread sees; null: skip
    jack_port_t* registered = nullptr;
    std::string peer;
    bool output = false, paced = false;
    std::unique_ptr<ByteRing> ring;
    std::atomic<bool> listening{false}, failed{false};
    std::atomic<std::uint64_t> written{0}, lost{0}, lineFree{0}, lastWrite{0};
    std::uint64_t queued = 0;      // bytes handed over
    std::uint32_t blockLeft = 0;   // process thread: what is left of the block under way
    bool linked = false;           // process thread: the connection has been seen
  };

  jack_client_t* client = nullptr;
  const std::atomic<bool>* giveUp = nullptr;
  std::atomic<Waker*> wake{nullptr};
  std::array<Port, 2 * kMaxSlots + 4> ports;
  std::atomic<std::uint64_t> cycles{0};  // process cycles completed
  std::atomic<bool> inCycle{false}, serverGone{false};
  std::atomic<std::uint64_t> nextCycle{0};  // when the next cycle begins, on JACK's clock
  std::uint64_t lostByClosed = 0, outputLostByClosed = 0;
  bool hung = false;  // a call was abandoned: the client is left as it is

  // Runs a call that waits for the server on a thread of its own, so that the caller
  // can stop waiting once told to give up and the server has not answered for two
  // seconds after that (a server that answers still gets a port closed properly). The
  // call must hold copies of what it uses.
  std::optional<std::intptr_t> Ask(std::function<std::intptr_t()> call) {
    if (hung) return std::nullopt;
    struct Answer {
      std::mutex mutex;
      std::condition_variable done;
      std::optional<std::intptr_t> value;
    };
    auto answer = std::make_shared<Answer>();
    std::thread([call = std::move(call), answer] {
      const std::intptr_t value = call();
      std::lock_guard lock(answer->mutex);
      answer->value = value;
      answer->done.notify_all();
    }).detach();
    std::unique_lock lock(answer->mutex);
    std::optional<Clock::time_point> toldAt;
    while (!answer->done.wait_for(lock, std::chrono::milliseconds(50), [&] { return answer->value.has_value(); })) {
      if (giveUp == nullptr || !giveUp->load()) continue;
      if (!toldAt) toldAt = Clock::now();
      if (Clock::now() - *toldAt >= kGrace) {
        hung = true;
        return std::nullopt;
      }
    }
    return answer->value;
  }

  // Waits, polling, until done() or the deadline; false at the deadline.
  bool WaitFor(const std::function<bool()>& done, Clock::time_point deadline) const {
    while (!done()) {
      if (Clock::now() >= deadline || serverGone.load()) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }

  static int Process(jack_nframes_t frames, void* self) {
    static_cast<State*>(self)->Cycle(frames);
    return 0;
  }
  static void Shutdown(void* self) { static_cast<State*>(self)->serverGone.store(true); }

  void Cycle(jack_nframes_t frames) {
    inCycle.store(true);
    jack_nframes_t start = 0;
    jack_time_t startUs = 0, nextUs = 0;
    float periodUs = 0;
    if (jack_get_cycle_times(client, &start, &startUs, &nextUs, &periodUs) != 0 || nextUs <= startUs) {
      startUs = jack_get_time();
      nextUs = startUs + 1;
    }
    nextCycle.store(nextUs, std::memory_order_relaxed);
    bool stored = false;
    for (Port& p : ports) {
      jack_port_t* port = p.live.load();
      if (port == nullptr) continue;
      void* buffer = jack_port_get_buffer(port, frames);
      if (p.output) {
        Write(p, jack_port_connected(port) > 0 || p.peer.empty(), buffer, frames, startUs, nextUs);
      } else {
        stored = Store(p, buffer, start) || stored;
      }
    }
    cycles.fetch_add(1);
    inCycle.store(false);
    if (Waker* w = wake.load(); stored && w != nullptr) w->Notify();
  }

  bool Store(Port& p, void* buffer, jack_nframes_t start) {
    const bool listening = p.listening.load(std::memory_order_acquire);
    const std::uint32_t count = jack_midi_get_event_count(buffer);
    bool stored = false;
    for (std::uint32_t i = 0; i < count && listening; ++i) {
      jack_midi_event_t e;
      if (jack_midi_event_get(&e, buffer, i) != 0) continue;
      if (PushEvent(*p.ring, e.buffer, e.size, jack_frames_to_time(client, start + e.time))) {
        stored = true;
      } else {
        p.lost.fetch_add(e.size, std::memory_order_relaxed);
      }
    }
    return stored;
  }

  void Write(Port& p, bool connected, void* buffer, jack_nframes_t frames, std::uint64_t startUs,
             std::uint64_t endUs) {
    jack_midi_clear_buffer(buffer);
    // The process thread sees a new connection a cycle or so after it was made: output
    // waits for it, and only a connection that was there and went means the device went.
    p.linked = p.linked || connected;
    if (!p.linked) return;
    std::uint64_t line = std::max(p.lineFree.load(std::memory_order_relaxed), startUs);
    while (!p.paced || line < endUs) {
      if (p.blockLeft == 0) {
        if (p.ring->Readable() < sizeof p.blockLeft) break;
        p.ring->Read(&p.blockLeft, sizeof p.blockLeft);
        continue;
      }
      std::size_t room = jack_midi_max_event_size(buffer);
      if (p.paced) room = std::min<std::size_t>(room, (endUs - line + kMicrosPerByte - 1) / kMicrosPerByte);
      const std::size_t wanted = std::min<std::size_t>(room, p.blockLeft);
      std::size_t n = PartLength([&p](std::size_t i) { return p.ring->At(i); }, room, p.blockLeft, line <= startUs);
      if (n == 0) break;  // the port's buffer is full, or the part waits for the next cycle
      const auto frame = static_cast<jack_nframes_t>(
          std::min<std::uint64_t>((line - startUs) * frames / (endUs - startUs), frames - 1));
      jack_midi_data_t* to = connected ? jack_midi_event_reserve(buffer, frame, n) : nullptr;
      if (to == nullptr && connected) break;
      if (to == nullptr) {
        // The device has gone: what it was to get is lost, and said at the next block.
        std::uint8_t scrap[256];
        n = std::min(n, sizeof scrap);
        p.ring->Read(scrap, n);
        p.lost.fetch_add(n, std::memory_order_relaxed);
        p.failed.store(true);
      } else {
        p.ring->Read(to, n);
      }
      p.blockLeft -= static_cast<std::uint32_t>(n);
      p.written.fetch_add(n, std::memory_order_release);
      p.lastWrite.store(cycles.load(), std::memory_order_relaxed);
      if (p.paced) line += n * kMicrosPerByte;
      if (n < wanted) break;  // a part cut short is its cycle's last
    }
    p.lineFree.store(line, std::memory_order_relaxed);
  }

  // Takes the port out of the process thread's reach and lets the cycle under way end
  // (the callback never waits, so that takes at most a cycle).
  bool Detach(Port& p) {
    p.live.store(nullptr);
    const std::uint64_t seen = cycles.load();
    const auto deadline = Clock::now() + kGrace;
    while (inCycle.load() && cycles.load() == seen) {
      if (Clock::now() >= deadline) return false;
      std::this_thread::yield();
    }
    return true;
  }
};

JackMidi::JackMidi(std::unique_ptr<State> state) : s_(std::move(state)) {}

std::unique_ptr<JackMidi> JackMidi::Connect(const std::string& clientName, Waker* wake,
                                            const std::atomic<bool>* giveUp) {
  auto s = std::make_unique<State>();
  s->giveUp = giveUp;
  s->wake.store(wake);
  const auto client = s->Ask([clientName] {
    return reinterpret_cast<std::intptr_t>(jack_client_open(clientName.c_str(), JackNoStartServer, nullptr));
  });
  if (!client || *client == 0) return nullptr;
  s->client = reinterpret_cast<jack_client_t*>(*client);
  jack_set_process_callback(s->client, &State::Process, s.get());
  jack_on_shutdown(s->client, &State::Shutdown, s.get());
  State* raw = s.get();
  std::unique_ptr<JackMidi> jack(new JackMidi(std::move(s)));
  if (raw->Ask([raw] { return static_cast<std::intptr_t>(jack_activate(raw->client)); }).value_or(-1) != 0) {
    return nullptr;  // the destructor closes what was opened, or leaves it when abandoned
  }
  return jack;
}

JackMidi::~JackMidi() {
  State* s = s_.get();
  s->wake.store(nullptr);
  // Deactivated first: after that no process cycle runs, and everything may go.
  if (!s->Ask([s] { return static_cast<std::intptr_t>(jack_deactivate(s->client)); }) ||
      !s->Ask([s] { return static_cast<std::intptr_t>(jack_client_close(s->client)); })) {
    (void)s_.release();  // a server that does not answer may still run a cycle
  }
}

std::vector<std::string> JackMidi::PortNames(bool sources) const {
  std::vector<std::string> names;
  const char** found =
      jack_get_ports(s_->client, nullptr, JACK_DEFAULT_MIDI_TYPE, sources ? JackPortIsOutput : JackPortIsInput);
  for (const char** n = found; n != nullptr && *n != nullptr; ++n) {
    if (!jack_port_is_mine(s_->client, jack_port_by_name(s_->client, *n))) names.emplace_back(*n);
  }
  if (found != nullptr) jack_free(static_cast<void*>(found));
  return names;
}

int JackMidi::OpenInput(const std::string& name, const std::string& peer) { return Open(name, peer, false, false); }
int JackMidi::OpenOutput(const std::string& name, const std::string& peer, bool paced) {
  return Open(name, peer, true, paced);
}

int JackMidi::Open(const std::string& name, const std::string& peer, bool output, bool paced) {
  State& s = *s_;
  const auto free = std::find_if(s.ports.begin(), s.ports.end(), [](const State::Port& p) { return p.registered == nullptr; });
  if (free == s.ports.end() || s.serverGone.load()) return -1;
  jack_client_t* client = s.client;
  const auto port = s.Ask([client, name, output] {
    return reinterpret_cast<std::intptr_t>(
        jack_port_register(client, name.c_str(), JACK_DEFAULT_MIDI_TYPE, output ? JackPortIsOutput : JackPortIsInput, 0));
  });
  if (!port || *port == 0) return -1;
  auto* registered = reinterpret_cast<jack_port_t*>(*port);
  if (!peer.empty()) {
    const std::string own = jack_port_name(registered);
    const auto connected = s.Ask([client, own, peer, output] {
      return static_cast<std::intptr_t>(output ? jack_connect(client, own.c_str(), peer.c_str())
                                               : jack_connect(client, peer.c_str(), own.c_str()));
    });
    if (connected.value_or(-1) != 0) {
      (void)s.Ask([client, registered] { return static_cast<std::intptr_t>(jack_port_unregister(client, registered)); });
      return -1;
    }
  }
  State::Port& p = *free;
  p.registered = registered;
  p.peer = peer;
  p.output = output;
  p.paced = paced;
  p.ring = std::make_unique<ByteRing>(output ? kOutputRingBytes : kInputRingBytes);
  p.queued = 0;
  p.blockLeft = 0;
  p.linked = false;
  p.written.store(0);
  p.lastWrite.store(0);
  p.lineFree.store(0);
  p.failed.store(false);
  p.live.store(registered);
  return static_cast<int>(free - s.ports.begin());
}

void JackMidi::Close(int port) {
  State& s = *s_;
  State::Port& p = s.ports.at(static_cast<std::size_t>(port));
  if (p.registered == nullptr) return;
  p.listening.store(false);
  if (p.output) {
    // Everything handed over leaves first, and the process thread runs one more cycle
    // past the last byte, which clears the port's buffer (a buffer left as it was
    // would give the device the last piece again) and lets the device take it in.
    const auto pending = std::chrono::microseconds(kMicrosPerByte * (p.queued - p.written.load()));
    const bool drained = s.WaitFor([&] { return p.written.load(std::memory_order_acquire) == p.queued; },
                                   Clock::now() + pending + kGrace);
    if (drained) s.WaitFor([&] { return s.cycles.load() >= p.lastWrite.load() + 2; }, Clock::now() + kGrace);
  }
  const bool detached = s.Detach(p);
  p.lost += p.queued - p.written.load();  // what never left
  p.queued = p.written.load();
  if (!detached) s.hung = true;  // a cycle that does not end: the port stays as it is
  jack_client_t* client = s.client;
  jack_port_t* registered = p.registered;
  if (!s.Ask([client, registered] { return static_cast<std::intptr_t>(jack_port_unregister(client, registered)); })) {
    return;
  }
  (p.output ? s.outputLostByClosed : s.lostByClosed) += p.lost.exchange(0);
  p.ring.reset();
  p.registered = nullptr;
}

void JackMidi::Listen(int port, bool on) { s_->ports.at(static_cast<std::size_t>(port)).listening.store(on, std::memory_order_release); }

ByteRing& JackMidi::Input(int port) { return *s_->ports.at(static_cast<std::size_t>(port)).ring; }

MidiResult JackMidi::Send(int port, const std::uint8_t* bytes, std::size_t size) {
  State& s = *s_;
  State::Port& p = s.ports.at(static_cast<std::size_t>(port));
  if (p.failed.exchange(false)) return kErrOutputLost;
  const auto n = static_cast<std::uint32_t>(size);
  const auto deadline = Clock::now() + std::chrono::microseconds(kMicrosPerByte * size) + kGrace;
  if (!s.WaitFor([&] { return p.ring->Room() >= sizeof n + size; }, deadline) || !p.ring->Write(&n, sizeof n, bytes, size)) {
    return kErrNotReady;
  }
  p.queued += size;
  return kNoError;
}

std::chrono::microseconds JackMidi::DrainTime(int port) const {
  const State::Port& p = s_->ports.at(static_cast<std::size_t>(port));
  const std::uint64_t now = jack_get_time();
  const std::uint64_t pending = p.queued - p.written.load(std::memory_order_acquire);
  std::uint64_t end = std::max(p.lineFree.load(std::memory_order_relaxed), now);
  // Bytes still in the ring go from the next cycle on.
  if (pending > 0) end = std::max(end, s_->nextCycle.load(std::memory_order_relaxed)) + pending * kMicrosPerByte;
  return std::chrono::microseconds(end - now);
}

bool JackMidi::PeerPresent(int port) const {
  const State::Port& p = s_->ports.at(static_cast<std::size_t>(port));
  return p.registered != nullptr && !p.peer.empty() && !s_->serverGone.load() &&
         jack_port_by_name(s_->client, p.peer.c_str()) != nullptr;
}

std::uint64_t JackMidi::LostInputBytes() const {
  std::uint64_t lost = s_->lostByClosed;
  for (const State::Port& p : s_->ports) lost += p.output ? 0 : p.lost.load();
  return lost;
}

std::uint64_t JackMidi::LostOutputBytes() const {
  std::uint64_t lost = s_->outputLostByClosed;
  for (const State::Port& p : s_->ports) lost += p.output ? p.lost.load() : 0;
  return lost;
}

}  // namespace midi
