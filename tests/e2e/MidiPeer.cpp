// midi-peer: the other end of the end-to-end tests, a JACK client that never loses a
// byte without saying so (an event that does not fit a period waits for the next).
// --file F --go-file G --speed X [--monitor M] [--stop-after N]: plays F at X times wire
//   speed once G exists, each message due when its last byte would have crossed the
//   wire; M records what the server passed on; N: vanishes after that many bytes.
// --receive F --log L [--stop-after N]: writes the bytes received, and per message its
//   start in microseconds and its size (a SysEx in several events counts once).
#include <jack/jack.h>
#include <jack/midiport.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr double kWireBytesPerSecond = 3125.0;  // 31250 baud, ten bits a byte

template <typename Condition>
bool PollUntil(Condition condition, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

int Fail(const char* why) {
  std::fprintf(stderr, "midi-peer: %s\n", why);
  return 1;
}

// Killed without closing its client, as an unplugged device goes; deactivated first, or
// a synchronous server would wait for it every cycle.
[[noreturn]] void Vanish(jack_client_t* client, const char* what, std::size_t bytes) {
  jack_deactivate(client);
  std::printf("%s %zu bytes\n", what, bytes);
  std::fflush(stdout);
  raise(SIGKILL);
  std::abort();
}

// Written by the process thread only, read after `events` was published; room taken up front.
struct Received {
  static constexpr std::size_t kMaxBytes = 8u << 20;
  static constexpr std::size_t kMaxEvents = 1u << 18;
  struct Event {
    jack_nframes_t frame;
    std::size_t offset, size;
  };
  jack_client_t* client = nullptr;
  jack_port_t* port = nullptr;
  std::vector<unsigned char> bytes = std::vector<unsigned char>(kMaxBytes);
  std::vector<Event> list = std::vector<Event>(kMaxEvents);
  std::size_t used = 0;  // process thread only
  std::atomic<std::size_t> usedBytes{0};
  std::atomic<std::size_t> events{0};
  std::atomic<bool> overflow{false};
};

int OnReceive(jack_nframes_t frames, void* arg) {
  auto* r = static_cast<Received*>(arg);
  void* buffer = jack_port_get_buffer(r->port, frames);
  const jack_nframes_t cycle = jack_last_frame_time(r->client);
  const std::uint32_t count = jack_midi_get_event_count(buffer);
  std::size_t n = r->events.load(std::memory_order_relaxed);
  for (std::uint32_t i = 0; i < count; ++i) {
    jack_midi_event_t event;
    if (jack_midi_event_get(&event, buffer, i) != 0) continue;
    if (n == Received::kMaxEvents || r->used + event.size > Received::kMaxBytes) {
      r->overflow.store(true);
      break;
    }
    std::copy(event.buffer, event.buffer + event.size, r->bytes.begin() + static_cast<std::ptrdiff_t>(r->used));
    r->list[n++] = {cycle + event.time, r->used, event.size};
    r->used += event.size;
  }
  r->usedBytes.store(r->used, std::memory_order_relaxed);
  r->events.store(n, std::memory_order_release);
  return 0;
}

bool OpenReceiver(Received& r, const std::string& name) {
  r.client = jack_client_open(name.c_str(), JackNoStartServer, nullptr);
  if (r.client == nullptr) return false;
  r.port = jack_port_register(r.client, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
  return r.port != nullptr && jack_set_process_callback(r.client, &OnReceive, &r) == 0 && jack_activate(r.client) == 0;
}

// Ends the client and writes what it received; false when it could not hold it all.
bool CloseAndWrite(Received& r, const std::string& file) {
  jack_deactivate(r.client);
  jack_client_close(r.client);
  std::ofstream out(file, std::ios::binary);
  out.write(reinterpret_cast<const char*>(r.bytes.data()), static_cast<std::streamsize>(r.used));
  if (r.overflow.load()) {
    Fail("more than it can hold");
    return false;
  }
  return static_cast<bool>(out);
}

int Receive(const std::string& name, const std::string& bytesFile, const std::string& logFile,
            std::size_t stopAfter) {
  auto r = std::make_unique<Received>();
  if (!OpenReceiver(*r, name)) return 1;
  std::printf("ready %s:in\n", name.c_str());
  std::fflush(stdout);
  if (!PollUntil([&] { return jack_port_connected(r->port) > 0; }, 60)) return Fail("nobody connected");
  if (stopAfter > 0) {
    if (!PollUntil([&] { return r->usedBytes.load() >= stopAfter; }, 600)) return Fail("too little arrived");
    Vanish(r->client, "received", r->usedBytes.load());
  }
  // The sender disconnects once it has passed everything on.
  if (!PollUntil([&] { return jack_port_connected(r->port) == 0; }, 600)) return Fail("the sender never left");
  const double rate = jack_get_sample_rate(r->client);
  std::ofstream log(logFile);
  log << "period_us " << static_cast<long long>(jack_get_buffer_size(r->client) * 1e6 / rate) << '\n';
  if (!CloseAndWrite(*r, bytesFile)) return 1;

  const std::size_t count = r->events.load(std::memory_order_acquire);
  bool continuing = false;
  std::size_t size = 0;
  double startUs = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const Received::Event& e = r->list[i];
    const unsigned char* data = r->bytes.data() + e.offset;
    if (!continuing) {
      size = 0;
      startUs = e.frame * 1e6 / rate;
    }
    size += e.size;
    const bool sysex = continuing || (e.size > 0 && data[0] == 0xF0);
    continuing = sysex && e.size > 0 && data[e.size - 1] != 0xF7;
    if (!continuing || i + 1 == count) log << static_cast<long long>(startUs) << ' ' << size << '\n';
  }
  std::printf("received %zu events\n", count);
  return log ? 0 : 1;
}

// Laid out before activation; then only the process thread moves `next` on.
struct Player {
  struct Event {
    std::size_t offset, size;
    std::uint64_t dueUs;  // after the start
  };
  jack_client_t* client = nullptr;
  jack_port_t* port = nullptr;
  std::vector<unsigned char> dump;
  std::vector<Event> events;
  std::size_t stopAfter = 0;  // 0: play everything
  std::atomic<bool> playing{false};
  std::atomic<jack_time_t> startUs{0};
  std::size_t next = 0, writtenSoFar = 0;  // process thread only
  std::atomic<std::size_t> written{0};
  std::atomic<bool> done{false};
  std::atomic<std::uint64_t> cycles{0};
  std::atomic<std::uint64_t> fullPeriods{0};  // periods that carried an event on
  std::atomic<std::uint64_t> refused{0};      // events that not even an empty buffer took
};

int OnPlay(jack_nframes_t frames, void* arg) {
  auto* p = static_cast<Player*>(arg);
  void* buffer = jack_port_get_buffer(p->port, frames);
  jack_midi_clear_buffer(buffer);
  if (p->playing.load(std::memory_order_acquire) && !p->done.load(std::memory_order_relaxed)) {
    const jack_time_t now = jack_get_time() - p->startUs.load(std::memory_order_relaxed);
    const auto stopped = [p] { return p->stopAfter > 0 && p->writtenSoFar >= p->stopAfter; };
    bool wroteAny = false;
    while (p->next < p->events.size() && !stopped()) {
      const Player::Event& e = p->events[p->next];
      if (e.dueUs > now) break;
      if (jack_midi_event_write(buffer, 0, p->dump.data() + e.offset, e.size) != 0) {
        if (wroteAny) {
          p->fullPeriods.fetch_add(1, std::memory_order_relaxed);
        } else {
          p->refused.fetch_add(1, std::memory_order_relaxed);
          p->done.store(true, std::memory_order_release);
        }
        break;
      }
      wroteAny = true;
      p->writtenSoFar += e.size;
      ++p->next;
    }
    p->written.store(p->writtenSoFar, std::memory_order_release);
    if (p->next == p->events.size() || stopped()) p->done.store(true, std::memory_order_release);
  }
  p->cycles.fetch_add(1, std::memory_order_release);
  return 0;
}

int Play(const std::string& name, const std::string& file, const std::string& goFile, double speed,
         const std::string& monitorFile, std::size_t stopAfter) {
  auto p = std::make_unique<Player>();
  std::ifstream in(file, std::ios::binary);
  p->dump.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (p->dump.empty()) return 2;
  p->stopAfter = stopAfter;
  for (std::size_t i = 0, end = 0; i < p->dump.size(); i = end) {
    end = p->dump[i] != 0xF0 ? i + 1
                             : static_cast<std::size_t>(std::find(p->dump.begin() + static_cast<std::ptrdiff_t>(i),
                                                                  p->dump.end(), 0xF7) - p->dump.begin()) + 1;
    end = std::min(end, p->dump.size());
    p->events.push_back({i, end - i, static_cast<std::uint64_t>(end / (kWireBytesPerSecond * speed) * 1e6)});
  }

  p->client = jack_client_open(name.c_str(), JackNoStartServer, nullptr);
  if (p->client == nullptr) return 1;
  p->port = jack_port_register(p->client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
  if (p->port == nullptr || jack_set_process_callback(p->client, &OnPlay, p.get()) != 0 ||
      jack_activate(p->client) != 0) {
    return 1;
  }
  const std::string portName = name + ":out";
  // The monitor is connected before the capture, so the capture is whoever connects next.
  std::unique_ptr<Received> monitor;
  const int others = monitorFile.empty() ? 0 : 1;
  if (others > 0) {
    monitor = std::make_unique<Received>();
    if (!OpenReceiver(*monitor, name + "-monitor") ||
        jack_connect(p->client, portName.c_str(), (name + "-monitor:in").c_str()) != 0) {
      return Fail("the monitor did not start");
    }
  }
  std::printf("ready %s\n", portName.c_str());
  std::fflush(stdout);

  if (!PollUntil([&] { return std::filesystem::exists(goFile); }, 60)) return 1;
  if (!PollUntil([&] { return jack_port_connected(p->port) > others; }, 30)) return Fail("nobody connected");
  p->startUs.store(jack_get_time());
  p->playing.store(true, std::memory_order_release);
  PollUntil([&] { return p->done.load(std::memory_order_acquire); }, 24 * 3600);
  // Two more periods: what the last one wrote has then been passed on.
  const std::uint64_t lastCycle = p->cycles.load(std::memory_order_acquire);
  PollUntil([&] { return p->cycles.load(std::memory_order_acquire) >= lastCycle + 2; }, 60);
  const std::size_t written = p->written.load(std::memory_order_acquire);
  if (stopAfter > 0) Vanish(p->client, "delivered", written);

  std::printf("sent %zu bytes in %zu events; %llu full periods carried events on; %llu refused\n", written,
              p->next, static_cast<unsigned long long>(p->fullPeriods.load()),
              static_cast<unsigned long long>(p->refused.load()));
  std::fflush(stdout);
  // A sanitizer build of the window program may parse its backlog for minutes.
  const bool released = PollUntil([&] { return jack_port_connected(p->port) <= others; }, 900);
  int status = released && p->refused.load() == 0 && written == p->dump.size() ? 0 : 1;
  if (monitor && !CloseAndWrite(*monitor, monitorFile)) status = 1;
  jack_deactivate(p->client);
  jack_client_close(p->client);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  std::map<std::string, std::string> a{{"--name", "vz-peer"}, {"--speed", "1"}, {"--stop-after", "0"}};
  for (int i = 1; i + 1 < argc; i += 2) a[argv[i]] = argv[i + 1];
  const std::size_t stopAfter = std::strtoull(a["--stop-after"].c_str(), nullptr, 10);
  if (!a["--receive"].empty() && !a["--log"].empty()) return Receive(a["--name"], a["--receive"], a["--log"], stopAfter);
  const double speed = std::atof(a["--speed"].c_str());
  if (a["--file"].empty() || a["--go-file"].empty() || speed <= 0) {
    std::fputs("usage: midi-peer [--name N] (--file F --go-file G --speed X | --receive F --log L) ...\n", stderr);
    return 2;
  }
  return Play(a["--name"], a["--file"], a["--go-file"], speed, a["--monitor"], stopAfter);
}
