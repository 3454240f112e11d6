// midi-peer: the other end of the end-to-end tests. It opens a JACK MIDI output port
// through RtMidi, waits for a go file, plays a .syx file into the port at a multiple of
// MIDI wire speed (each SysEx message leaves when its last byte would have crossed the
// wire; 0xFE bytes go as single short messages, as the device sends active sensing),
// and stays until the capture has disconnected, so that nothing is still buffered
// when it closes.
#include <jack/jack.h>
#include <rtmidi/RtMidi.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
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

}  // namespace

int main(int argc, char** argv) {
  std::string name = "vz-peer";
  std::string file;
  std::string goFile;
  double speed = 1.0;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    if (a == "--name") name = argv[i + 1];
    else if (a == "--file") file = argv[i + 1];
    else if (a == "--go-file") goFile = argv[i + 1];
    else if (a == "--speed") speed = std::atof(argv[i + 1]);
  }
  std::ifstream in(file, std::ios::binary);
  const std::vector<unsigned char> dump{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (file.empty() || dump.empty() || goFile.empty() || speed <= 0) {
    std::fputs("usage: midi-peer --name NAME --file DUMP.syx --go-file PATH --speed X\n", stderr);
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
