#include "SimPorts.h"

#include <rtmidi/RtMidi.h>

#include <algorithm>
#include <chrono>
#include <thread>
#if defined(VZ_SIM_JACK)
#include <jack/jack.h>
#endif

namespace mc303sim {
namespace {

// Messages RtMidi may hold for us between two reads: the main loop reads every
// millisecond, and even an unpaced send arrives as a few hundred messages.
constexpr unsigned kInputQueueMessages = 8192;

// RtMidi throws unless an error callback is installed, and may call it from its own
// threads: only an atomic count here.
void CountError(RtMidiError::Type type, const std::string&, void* userData) {
  if (type == RtMidiError::DEBUG_WARNING) return;
  static_cast<std::atomic<int>*>(userData)->fetch_add(1);
}

// Each RtMidi object is a client of its own, and JACK renames a second client of the same
// name ("-01"). The clients are named after the device's sockets instead, short enough
// that "client:port" fits the 31 characters a device list shows: the librarian's input
// list then holds "MC-303 OUT:MC-303 Simulator" and its output list "MC-303 IN:...",
// as the cables of a real device run.
constexpr const char* kInputClient = "MC-303 IN";
constexpr const char* kOutputClient = "MC-303 OUT";

struct Candidate {
  const char* choice;
  RtMidi::Api api;
  const char* shown;
};

constexpr Candidate kCandidates[] = {
    {"jack", RtMidi::UNIX_JACK, "JACK"},
    {"alsa", RtMidi::LINUX_ALSA, "ALSA"},
    {"core", RtMidi::MACOSX_CORE, "CoreMIDI"},
};

// RtMidi's JACK output passes a message on in the server's next cycle, and a port that
// goes in the middle of a cycle may take that cycle's messages with it. Once the server
// has begun two more cycles, the one after the last message is over.
void WaitTwoJackCycles() {
#if defined(VZ_SIM_JACK)
  jack_client_t* client = jack_client_open("MC-303 unplug", JackNoStartServer, nullptr);
  if (client == nullptr) return;
  const jack_nframes_t start = jack_last_frame_time(client);
  const jack_nframes_t twoPeriods = 2 * jack_get_buffer_size(client);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (jack_last_frame_time(client) - start < twoPeriods && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  jack_client_close(client);
#endif
}

}  // namespace

std::unique_ptr<SimPorts> SimPorts::Open(const std::string& name, const std::string& apiChoice, std::string& why) {
  std::vector<RtMidi::Api> compiled;
  RtMidi::getCompiledApi(compiled);
  for (const Candidate& c : kCandidates) {
    if (apiChoice != "auto" && apiChoice != c.choice) continue;
    if (std::find(compiled.begin(), compiled.end(), c.api) == compiled.end()) {
      if (apiChoice != "auto") why += std::string(c.shown) + ": not built into RtMidi here. ";
      continue;
    }
    std::unique_ptr<SimPorts> ports(new SimPorts);
    ports->systemName_ = c.shown;
    try {
      ports->in_ = std::make_unique<RtMidiIn>(c.api, kInputClient, kInputQueueMessages);
      ports->in_->setErrorCallback(&CountError, &ports->errors_);
      // Nothing filtered here: RtMidi filters by an event's first byte, so a block the
      // sender begins with 0xFE would be dropped whole. The model passes over real-time
      // bytes itself.
      ports->in_->ignoreTypes(false, false, false);
      ports->in_->openVirtualPort(name);
      ports->out_ = std::make_unique<RtMidiOut>(c.api, kOutputClient);
      ports->out_->setErrorCallback(&CountError, &ports->errors_);
      if (ports->errors_.load() == 0) ports->out_->openVirtualPort(name);
    } catch (const RtMidiError& e) {
      why += std::string(c.shown) + ": " + e.getMessage() + " ";
      continue;
    }
    // With a callback installed, RtMidi reports a missing server (no JACK running)
    // there instead of throwing.
    if (ports->errors_.load() != 0) {
      why += std::string(c.shown) + ": cannot make virtual ports (is its server running?). ";
      continue;
    }
    return ports;
  }
  if (why.empty()) why = "no MIDI system named '" + apiChoice + "'";
  return nullptr;
}

SimPorts::~SimPorts() = default;

void SimPorts::Close() {
  if (systemName_ == "JACK") WaitTwoJackCycles();
  out_.reset();
  in_.reset();
}

bool SimPorts::Read(std::vector<unsigned char>& message, double& seconds) {
  seconds = in_->getMessage(&message);
  return !message.empty();
}

bool SimPorts::Send(const std::vector<unsigned char>& message) {
  const int before = errors_.load();
  out_->sendMessage(&message);
  return errors_.load() == before;
}

}  // namespace mc303sim
