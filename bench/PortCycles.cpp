// port-cycles: one open/close cycle of the MIDI device layer as the window program runs
// it on a real MIDI system: every port opened (start-up), a 200-byte block handed to
// the output whose name holds the argument, the devices rescanned while the block is
// still on its way, the block sent again, and everything closed at once (Quit).
// bench/jack-close-stress.sh runs it again and again.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/CliSession.h"
#include "cli/MidiCommands.h"
#include "midi/DeviceSession.h"
#include "midi/RtMidiPorts.h"
#include "roles/EventPump.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: port-cycles PART-OF-AN-OUTPUT-NAME\n", stderr);
    return 2;
  }
  midi::RtMidiPorts ports;
  cli::KeptDialogs dialogs;
  roles::NoEventPump pump;
  cli::EntryList inputList, outputList;
  midi::DeviceSession devices(ports, dialogs, pump, inputList, outputList);
  std::vector<std::uint8_t> block(200, 0x11);
  block.front() = 0xF0;
  block.back() = 0xF7;
  bool quit = false;
  for (int round = 0; round < 2; ++round) {
    if (!(round == 0 ? devices.Open(quit) : devices.Rescan(quit))) return 2;
    int slot = 0;
    while (slot < outputList.ListCount() && outputList.Item(slot).find(argv[1]) == std::string::npos) ++slot;
    if (slot == outputList.ListCount()) {
      std::fprintf(stderr, "port-cycles: no output port holds '%s'\n", argv[1]);
      return 2;
    }
    devices.SelectOutput(slot);
    const midi::PortHandle out = devices.State().OutputHandles[static_cast<std::size_t>(slot)];
    if (ports.OutSend(out, block.data(), block.size()) != midi::kNoError) return 1;
  }
  devices.Close();  // the block is still on its way
  return ports.LostOutputBytes() == 0 ? 0 : 1;
}
