// midi-peer: the other end of the end-to-end tests.
//
// Playing (--file): it opens a JACK MIDI output port through RtMidi, waits for a go
// file, plays a .syx file into the port at a multiple of MIDI wire speed (each SysEx
// message leaves when its last byte would have crossed the wire; 0xFE bytes go as
// single short messages, as the device sends active sensing), and stays until the
// capture has disconnected, so that nothing is still buffered when it closes.
//
// Receiving (--receive): it opens a JACK MIDI input port, takes every event with the
// JACK frame time of the cycle it came in, and once the sender has connected and gone
// writes the bytes received and one line per message: its start in microseconds and
// its size. A SysEx message that came in several events (one that starts with 0xF0 and
// does not end in 0xF7, and the events after it up to one that does) counts once, as
// JACK clients join them.
#include <jack/jack.h>
#include <jack/midiport.h>
#include <rtmidi/RtMidi.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr double kWireBytesPerSecond = 3125.0;  // 31250 baud, ten bits a byte

std::atomic<int> errors{0};

void OnError(RtMidiError::Type type, const std::string& text, void*) {
  if (type == RtMidiError::DEBUG_WARNING) return;
  std::fprintf(stderr, "midi-peer: %s\n", text.c_str());
  errors.fetch_add(1);
}

template <typename Condition>
bool PollUntil(Condition condition, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// What the JACK process thread records: written there only, read by the main thread
// after `events` was published (release, acquire). Room is taken once, up front.
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
  std::atomic<std::size_t> events{0};
  std::atomic<bool> overflow{false};
};

int OnProcess(jack_nframes_t frames, void* arg) {
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
    r->list[n] = {cycle + event.time, r->used, event.size};
    r->used += event.size;
    ++n;
  }
  r->events.store(n, std::memory_order_release);
  return 0;
}

int Receive(const std::string& name, const std::string& bytesFile, const std::string& logFile) {
  auto r = std::make_unique<Received>();
  r->client = jack_client_open(name.c_str(), JackNoStartServer, nullptr);
  if (r->client == nullptr) return 1;
  r->port = jack_port_register(r->client, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
  if (r->port == nullptr || jack_set_process_callback(r->client, &OnProcess, r.get()) != 0 ||
      jack_activate(r->client) != 0) {
    return 1;
  }
  std::printf("ready %s:in\n", name.c_str());
  std::fflush(stdout);
  if (!PollUntil([&] { return jack_port_connected(r->port) > 0; }, 60)) {
    std::fputs("midi-peer: nobody connected\n", stderr);
    return 1;
  }
  // A send of the whole example dump takes about a minute; the sender disconnects when
  // it has passed everything on.
  const bool released = PollUntil([&] { return jack_port_connected(r->port) == 0; }, 600);
  const double rate = jack_get_sample_rate(r->client);
  const double periodUs = jack_get_buffer_size(r->client) * 1e6 / rate;
  jack_deactivate(r->client);
  jack_client_close(r->client);
  if (!released || r->overflow.load()) {
    std::fputs(released ? "midi-peer: more than it can hold\n" : "midi-peer: the sender never left\n", stderr);
    return 1;
  }

  const std::size_t count = r->events.load(std::memory_order_acquire);
  std::ofstream bytes(bytesFile, std::ios::binary);
  std::ofstream log(logFile);
  log << "period_us " << static_cast<long long>(periodUs) << '\n';
  bool continuing = false;
  std::size_t messageSize = 0;
  double messageStartUs = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const Received::Event& e = r->list[i];
    const unsigned char* data = r->bytes.data() + e.offset;
    bytes.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(e.size));
    if (!continuing) {
      messageSize = 0;
      messageStartUs = e.frame * 1e6 / rate;
    }
    messageSize += e.size;
    const bool sysex = continuing || (e.size > 0 && data[0] == 0xF0);
    continuing = sysex && e.size > 0 && data[e.size - 1] != 0xF7;
    if (!continuing) log << static_cast<long long>(messageStartUs) << ' ' << messageSize << '\n';
  }
  if (continuing) log << static_cast<long long>(messageStartUs) << ' ' << messageSize << '\n';
  std::printf("received %zu events\n", count);
  return bytes && log ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string name = "vz-peer";
  std::string file;
  std::string goFile;
  std::string receiveFile;
  std::string logFile;
  double speed = 1.0;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    if (a == "--name") name = argv[i + 1];
    else if (a == "--file") file = argv[i + 1];
    else if (a == "--go-file") goFile = argv[i + 1];
    else if (a == "--speed") speed = std::atof(argv[i + 1]);
    else if (a == "--receive") receiveFile = argv[i + 1];
    else if (a == "--log") logFile = argv[i + 1];
  }
  if (!receiveFile.empty() && !logFile.empty()) return Receive(name, receiveFile, logFile);
  std::ifstream in(file, std::ios::binary);
  const std::vector<unsigned char> dump{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (file.empty() || dump.empty() || goFile.empty() || speed <= 0) {
    std::fputs("usage: midi-peer --name NAME --file DUMP.syx --go-file PATH --speed X\n"
               "       midi-peer --name NAME --receive BYTES-FILE --log MESSAGES-FILE\n",
               stderr);
    return 2;
  }

  RtMidiOut out(RtMidi::UNIX_JACK, name);
  out.setErrorCallback(&OnError);
  out.openVirtualPort("out");
  if (errors.load() != 0) return 1;  // isPortOpen() stays false for a virtual port

  // A plain JACK client to see whether the capture is connected to the port.
  jack_client_t* watch = jack_client_open((name + "-watch").c_str(), JackNoStartServer, nullptr);
  if (watch == nullptr) return 1;
  const std::string portName = name + ":out";
  jack_port_t* port = jack_port_by_name(watch, portName.c_str());
  if (port == nullptr) {
    std::fprintf(stderr, "midi-peer: no port %s\n", portName.c_str());
    return 1;
  }
  std::printf("ready %s\n", portName.c_str());
  std::fflush(stdout);

  if (!PollUntil([&] { return std::filesystem::exists(goFile); }, 60)) return 1;
  if (!PollUntil([&] { return jack_port_connected(port) > 0; }, 30)) {
    std::fputs("midi-peer: nobody connected\n", stderr);
    return 1;
  }

  const double bytesPerSecond = kWireBytesPerSecond * speed;
  const auto start = std::chrono::steady_clock::now();
  std::size_t sent = 0;
  std::size_t i = 0;
  while (i < dump.size()) {
    std::size_t end = i + 1;
    if (dump[i] == 0xF0) {
      while (end < dump.size() && dump[end - 1] != 0xF7) ++end;
    }
    sent += end - i;
    std::this_thread::sleep_until(start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                              std::chrono::duration<double>(sent / bytesPerSecond)));
    out.sendMessage(&dump[i], end - i);
    if (errors.load() != 0) return 1;
    i = end;
  }
  std::printf("sent %zu bytes\n", sent);
  std::fflush(stdout);

  const bool released = PollUntil([&] { return jack_port_connected(port) == 0; }, 120);
  jack_client_close(watch);
  return released ? 0 : 1;
}
