// port-cycles: one open/close cycle of the MIDI device layer as the window program runs
// it on a real MIDI system: every port opened (start-up), a block handed to the output
// whose name holds the argument, and everything closed while its bytes are still on
// the way (Quit). bench/jack-close-stress.sh runs it again and again.
#include <cstdio>
#include <string>
#include <vector>

#include "midi/MidiPorts.h"
#include "midi/RtMidiPorts.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: port-cycles PART-OF-AN-OUTPUT-NAME\n", stderr);
    return 2;
  }
  midi::RtMidiPorts ports;
  std::vector<midi::PortHandle> opened;
  midi::PortHandle target = 0;
  for (int slot = 0; slot < midi::kMaxSlots; ++slot) {
    midi::PortHandle out = 0, in = 0;
    ports.OutOpen(&out, slot);
    ports.InOpen(&in, slot, [](midi::PortHandle, std::uint32_t, std::uintptr_t, std::uintptr_t, std::uintptr_t) {}, 0);
    if (out == 0 && in == 0) break;
    std::string name;
    if (out != 0 && target == 0 && ports.OutGetDevCaps(out, &name) == midi::kNoError &&
        name.find(argv[1]) != std::string::npos) {
      target = out;
    }
    if (out != 0) opened.push_back(out);
    if (in != 0) ports.InStart(in);
  }
  if (target == 0) {
    std::fprintf(stderr, "port-cycles: no output port holds '%s'\n", argv[1]);
    return 2;
  }
  std::vector<std::uint8_t> block(200, 0x11);
  block.front() = 0xF0;
  block.back() = 0xF7;
  midi::MidiHdr header;
  header.lpData = block.data();
  header.dwBufferLength = static_cast<std::uint32_t>(block.size());
  ports.OutPrepareHeader(target, &header, midi::kMidiHdrSize);
  const midi::MidiResult result = ports.OutLongMsg(target, &header, midi::kMidiHdrSize);
  ports.OutClose(target);  // the block is still on the way
  return result == midi::kNoError ? 0 : 1;
}
