// syx-sender: plays a .syx file into a MIDI input port the way the librarian's Send cuts
// it: a block ends at the first 0xF7 once it holds more than --block-bytes bytes, a
// pause of --pause-ms follows each such block, and the rest of the file goes at once.
// It stands in for the transmit engine in the simulator's end-to-end tests.
#include <rtmidi/RtMidi.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

std::atomic<int> errors{0};

void OnError(RtMidiError::Type type, const std::string& text, void*) {
  if (type == RtMidiError::DEBUG_WARNING) return;
  std::fprintf(stderr, "syx-sender: %s\n", text.c_str());
  errors.fetch_add(1);
}

}  // namespace

int main(int argc, char** argv) {
  std::string port;
  std::string file;
  long blockBytes = 139;
  long pauseMs = 200;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    if (a == "--port") port = argv[i + 1];
    else if (a == "--file") file = argv[i + 1];
    else if (a == "--block-bytes") blockBytes = std::atol(argv[i + 1]);
    else if (a == "--pause-ms") pauseMs = std::atol(argv[i + 1]);
  }
  std::ifstream in(file, std::ios::binary);
  const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (port.empty() || bytes.empty() || pauseMs < 0) {
    std::fputs("usage: syx-sender --port PART-OF-NAME --file F.syx [--block-bytes N] [--pause-ms MS]\n", stderr);
    return 2;
  }

  RtMidiOut out(RtMidi::UNIX_JACK, "vz-syx-sender");
  out.setErrorCallback(&OnError);
  unsigned index = 0;
  while (index < out.getPortCount() && out.getPortName(index).find(port) == std::string::npos) ++index;
  if (index == out.getPortCount()) {
    std::fprintf(stderr, "syx-sender: no port holds '%s'\n", port.c_str());
    return 1;
  }
  out.openPort(index);
  if (errors.load() != 0 || !out.isPortOpen()) return 1;

  std::vector<unsigned char> block;
  int blocks = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    block.push_back(bytes[i]);
    const bool last = i + 1 == bytes.size();
    if (!(bytes[i] == 0xF7 && static_cast<long>(block.size()) > blockBytes) && !last) continue;
    out.sendMessage(&block);
    ++blocks;
    block.clear();
    if (!last) std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
  }
  out.closePort();  // RtMidi waits here until JACK has taken what is queued
  std::printf("sent %zu bytes in %d blocks\n", bytes.size(), blocks);
  return errors.load() == 0 ? 0 : 1;
}
