#include "midi/JackMidi.h"

#if defined(VZ_HAVE_JACK)
#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
#include <array>
#include <functional>
#include <future>
#include <optional>
#include <thread>
#include <type_traits>

#include "midi/PacedOutput.h"

namespace midi {
namespace {

constexpr std::uint64_t kMicrosPerByte = kWireTimePerByte.count();
constexpr std::size_t kOutputRingBytes = 1u << 20;  // several whole bulk loads
constexpr auto kGrace = std::chrono::seconds(2);
using Clock = std::chrono::steady_clock;

}  // namespace

const bool JackMidi::kBuilt = true;

void QuietJack() {
  jack_set_error_function([](const char*) {});
  jack_set_info_function([](const char*) {});
}

struct JackMidi::State {
  struct Port {
    jack_port_t* port = nullptr;
    std::string peer;
    bool output = false, paced = false;
    ByteRing ring;
    std::atomic<bool> listening{false}, failed{false};
    std::atomic<std::uint64_t> written{0}, lineFree{0}, lastWrite{0};
    std::uint64_t queued = 0;     // bytes handed over
    std::uint32_t blockLeft = 0;  // process thread: what is left of the block under way
    bool linked = false;          // process thread: the connection has been seen
    Port(jack_port_t* registered, std::string to, bool out, bool pace)
        : port(registered), peer(std::move(to)), output(out), paced(pace),
          ring(out ? kOutputRingBytes : kInputRingBytes) {}
  };

  jack_client_t* client = nullptr;
  const std::atomic<bool>* giveUp = nullptr;
  std::atomic<Waker*> wake{nullptr};
  std::array<std::unique_ptr<Port>, 2 * kMaxSlots + 4> owned;  // the ports made
  std::array<std::atomic<Port*>, 2 * kMaxSlots + 4> live{};    // those the process thread serves
  std::atomic<std::uint64_t> cycles{0}, nextCycle{0};          // cycles done; when the next begins
  std::atomic<bool> inCycle{false}, serverGone{false};
  std::atomic<std::uint64_t> lostInput{0}, lostOutput{0};
  bool hung = false;  // a call was abandoned: the client is left as it is

  // A call that waits for the server runs on a thread of its own, so that the caller can
  // stop waiting two seconds after giveUp was set. The call holds copies of what it uses.
  template <typename Call, typename Answer = std::invoke_result_t<Call>>
  std::optional<Answer> Ask(Call call) {
    if (hung) return std::nullopt;
    auto answer = std::make_shared<std::promise<Answer>>();
    std::future<Answer> value = answer->get_future();
    std::thread([call = std::move(call), answer] { answer->set_value(call()); }).detach();
    std::optional<Clock::time_point> told;
    while (value.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready) {
      if (giveUp == nullptr || !giveUp->load()) continue;
      if (!told) told = Clock::now();
      if (Clock::now() - *told >= kGrace) {
        hung = true;
        return std::nullopt;
      }
    }
    return value.get();
  }

  bool WaitFor(const std::function<bool()>& done, Clock::time_point deadline) const {
    for (; !done(); std::this_thread::sleep_for(std::chrono::milliseconds(1))) {
      if (Clock::now() >= deadline || serverGone.load()) return false;
    }
    return true;
  }

  int Cycle(jack_nframes_t frames) {
    inCycle.store(true);
    jack_nframes_t frameTime = 0;
    jack_time_t startUs = 0, endUs = 0;
    float periodUs = 0;
    if (jack_get_cycle_times(client, &frameTime, &startUs, &endUs, &periodUs) != 0 || endUs <= startUs) {
      startUs = jack_get_time();
      endUs = startUs + 1;
    }
    nextCycle.store(endUs, std::memory_order_relaxed);
    bool stored = false;
    for (std::atomic<Port*>& slot : live) {
      Port* p = slot.load();
      if (p == nullptr) continue;
      void* buffer = jack_port_get_buffer(p->port, frames);
      if (p->output) {
        Write(*p, p->peer.empty() || jack_port_connected(p->port) > 0, buffer, frames, startUs, endUs);
      } else {
        stored = Store(*p, buffer, frames, static_cast<double>(endUs - startUs) / frames) || stored;
      }
    }
    cycles.fetch_add(1);
    inCycle.store(false);
    if (Waker* w = wake.load(); stored && w != nullptr) w->Notify();
    return 0;
  }

  // Each event dated by when this cycle runs, plus its place in the cycle: when the
  // program could first see it, even in a cycle that runs late.
  bool Store(Port& p, void* buffer, jack_nframes_t frames, double microsPerFrame) {
    const jack_time_t now = jack_get_time();
    const std::uint32_t count = p.listening.load(std::memory_order_acquire) ? jack_midi_get_event_count(buffer) : 0;
    bool stored = false;
    for (std::uint32_t i = 0; i < count; ++i) {
      jack_midi_event_t e;
      if (jack_midi_event_get(&e, buffer, i) != 0) continue;
      const auto at = now + static_cast<jack_time_t>(std::min(e.time, frames) * microsPerFrame);
      if (PushEvent(p.ring, e.buffer, e.size, at)) {
        stored = true;
      } else {
        lostInput.fetch_add(e.size, std::memory_order_relaxed);
      }
    }
    return stored;
  }

  void Write(Port& p, bool connected, void* buffer, jack_nframes_t frames, std::uint64_t startUs, std::uint64_t endUs) {
    jack_midi_clear_buffer(buffer);
    // The process thread sees a new connection a cycle or so after it was made: output
    // waits for it, and only a connection that was there and went means the device went.
    p.linked = p.linked || connected;
    if (!p.linked) return;
    std::uint64_t line = std::max(p.lineFree.load(std::memory_order_relaxed), startUs);
    while (!p.paced || line < endUs) {
      if (p.blockLeft == 0) {
        if (p.ring.Readable() < sizeof p.blockLeft) break;
        p.ring.Read(&p.blockLeft, sizeof p.blockLeft);
        continue;
      }
      std::size_t room = jack_midi_max_event_size(buffer);
      if (p.paced) room = std::min<std::size_t>(room, (endUs - line + kMicrosPerByte - 1) / kMicrosPerByte);
      const std::size_t wanted = std::min<std::size_t>(room, p.blockLeft);
      std::size_t n = PartLength([&p](std::size_t i) { return p.ring.At(i); }, room, p.blockLeft, line <= startUs);
      if (n == 0) break;  // the port's buffer is full, or the part waits for the next cycle
      const auto frame = static_cast<jack_nframes_t>(
          std::min<std::uint64_t>((line - startUs) * frames / (endUs - startUs), frames - 1));
      jack_midi_data_t* to = connected ? jack_midi_event_reserve(buffer, frame, n) : nullptr;
      if (to == nullptr && connected) break;
      if (to == nullptr) {
        // The device has gone: what it was to get is lost, and said at the next block.
        std::uint8_t scrap[256];
        n = std::min(n, sizeof scrap);
        p.ring.Read(scrap, n);
        lostOutput.fetch_add(n, std::memory_order_relaxed);
        p.failed.store(true);
      } else {
        p.ring.Read(to, n);
      }
      p.blockLeft -= static_cast<std::uint32_t>(n);
      p.written.fetch_add(n, std::memory_order_release);
      p.lastWrite.store(cycles.load(), std::memory_order_relaxed);
      if (p.paced) line += n * kMicrosPerByte;
      if (n < wanted) break;  // a part cut short is its cycle's last
    }
    p.lineFree.store(line, std::memory_order_relaxed);
  }
};

JackMidi::JackMidi(std::unique_ptr<State> state) : s_(std::move(state)) {}

std::unique_ptr<JackMidi> JackMidi::Connect(const std::string& clientName, Waker* wake,
                                            const std::atomic<bool>* giveUp) {
  auto s = std::make_unique<State>();
  s->giveUp = giveUp;
  s->wake.store(wake);
  const auto client = s->Ask([clientName] { return jack_client_open(clientName.c_str(), JackNoStartServer, nullptr); });
  if (client.value_or(nullptr) == nullptr) return nullptr;
  State* raw = s.get();
  raw->client = *client;
  jack_set_process_callback(
      raw->client, [](jack_nframes_t n, void* self) { return static_cast<State*>(self)->Cycle(n); }, raw);
  jack_on_shutdown(raw->client, [](void* self) { static_cast<State*>(self)->serverGone.store(true); }, raw);
  std::unique_ptr<JackMidi> jack(new JackMidi(std::move(s)));
  // On failure the destructor closes what was opened, or leaves it when abandoned.
  if (raw->Ask([raw] { return jack_activate(raw->client); }) != 0) return nullptr;
  return jack;
}

JackMidi::~JackMidi() {
  State* s = s_.get();
  s->wake.store(nullptr);
  // Deactivated first: after that no process cycle runs, and everything may go.
  if (!s->Ask([s] { return jack_deactivate(s->client); }) || !s->Ask([s] { return jack_client_close(s->client); })) {
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

int JackMidi::Open(const std::string& name, const std::string& peer, bool output, bool paced) {
  State& s = *s_;
  const auto free = std::find(s.owned.begin(), s.owned.end(), nullptr);
  if (free == s.owned.end() || s.serverGone.load()) return -1;
  jack_client_t* client = s.client;
  jack_port_t* port = s.Ask([client, name, output] {
                        return jack_port_register(client, name.c_str(), JACK_DEFAULT_MIDI_TYPE,
                                                  output ? JackPortIsOutput : JackPortIsInput, 0);
                      }).value_or(nullptr);
  if (port == nullptr) return -1;
  const std::string own = jack_port_name(port), from = output ? own : peer, to = output ? peer : own;
  if (!peer.empty() &&
      s.Ask([client, from, to] { return jack_connect(client, from.c_str(), to.c_str()); }).value_or(-1) != 0) {
    (void)s.Ask([client, port] { return jack_port_unregister(client, port); });
    return -1;
  }
  *free = std::make_unique<State::Port>(port, peer, output, paced);
  const auto index = static_cast<std::size_t>(free - s.owned.begin());
  s.live[index].store(free->get());
  return static_cast<int>(index);
}

void JackMidi::Close(int port) {
  State& s = *s_;
  const auto index = static_cast<std::size_t>(port);
  State::Port& p = *s.owned.at(index);
  p.listening.store(false);
  if (p.output) {
    // What was handed over leaves first, and one more cycle past the last byte clears
    // the port's buffer (else the device would get the last part again).
    const auto wire = std::chrono::microseconds(kMicrosPerByte * (p.queued - p.written.load()));
    if (s.WaitFor([&] { return p.written.load(std::memory_order_acquire) == p.queued; }, Clock::now() + wire + kGrace)) {
      s.WaitFor([&] { return s.cycles.load() >= p.lastWrite.load() + 2; }, Clock::now() + kGrace);
    }
  }
  // Out of the process thread's reach; the cycle under way then ends within a cycle.
  s.live[index].store(nullptr);
  const std::uint64_t seen = s.cycles.load();
  const auto deadline = Clock::now() + kGrace;
  while (s.inCycle.load() && s.cycles.load() == seen && Clock::now() < deadline) std::this_thread::yield();
  s.lostOutput += p.queued - p.written.load();  // what never left
  p.queued = p.written.load();
  if (s.inCycle.load() && s.cycles.load() == seen) s.hung = true;  // the port stays as it is
  jack_client_t* client = s.client;
  jack_port_t* registered = p.port;
  if (s.Ask([client, registered] { return jack_port_unregister(client, registered); })) s.owned[index].reset();
}

void JackMidi::Listen(int port, bool on) { s_->owned.at(static_cast<std::size_t>(port))->listening.store(on); }

ByteRing& JackMidi::Input(int port) { return s_->owned.at(static_cast<std::size_t>(port))->ring; }

MidiResult JackMidi::Send(int port, const std::uint8_t* bytes, std::size_t size) {
  State::Port& p = *s_->owned.at(static_cast<std::size_t>(port));
  if (p.failed.exchange(false)) return kErrOutputLost;
  const auto n = static_cast<std::uint32_t>(size);
  const auto deadline = Clock::now() + std::chrono::microseconds(kMicrosPerByte * size) + kGrace;
  if (!s_->WaitFor([&] { return p.ring.Write(&n, sizeof n, bytes, size); }, deadline)) return kErrNotReady;
  p.queued += size;
  return kNoError;
}

std::chrono::microseconds JackMidi::DrainTime(int port) const {
  const State::Port& p = *s_->owned.at(static_cast<std::size_t>(port));
  const std::uint64_t now = jack_get_time();
  const std::uint64_t pending = p.queued - p.written.load(std::memory_order_acquire);
  std::uint64_t end = std::max(p.lineFree.load(std::memory_order_relaxed), now);
  // Bytes still in the ring go from the next cycle on.
  if (pending > 0) end = std::max(end, s_->nextCycle.load(std::memory_order_relaxed)) + pending * kMicrosPerByte;
  return std::chrono::microseconds(end - now);
}

bool JackMidi::PeerPresent(int port) const {
  const State::Port& p = *s_->owned.at(static_cast<std::size_t>(port));
  return !p.peer.empty() && !s_->serverGone.load() && jack_port_by_name(s_->client, p.peer.c_str()) != nullptr;
}

std::uint64_t JackMidi::LostInputBytes() const { return s_->lostInput.load(); }
std::uint64_t JackMidi::LostOutputBytes() const { return s_->lostOutput.load(); }

}  // namespace midi

#else  // built without JACK: no client ever connects, so nothing past Connect runs

namespace midi {
struct JackMidi::State {};
const bool JackMidi::kBuilt = false;
void QuietJack() {}
std::unique_ptr<JackMidi> JackMidi::Connect(const std::string&, Waker*, const std::atomic<bool>*) { return nullptr; }
JackMidi::~JackMidi() = default;
std::vector<std::string> JackMidi::PortNames(bool) const { return {}; }
int JackMidi::Open(const std::string&, const std::string&, bool, bool) { return -1; }
void JackMidi::Close(int) {}
void JackMidi::Listen(int, bool) {}
ByteRing& JackMidi::Input(int) { static ByteRing none(0); return none; }
MidiResult JackMidi::Send(int, const std::uint8_t*, std::size_t) { return kErrNotReady; }
std::chrono::microseconds JackMidi::DrainTime(int) const { return {}; }
bool JackMidi::PeerPresent(int) const { return false; }
std::uint64_t JackMidi::LostInputBytes() const { return 0; }
std::uint64_t JackMidi::LostOutputBytes() const { return 0; }
}  // namespace midi

#endif
