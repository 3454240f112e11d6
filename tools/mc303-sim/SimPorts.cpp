#include "SimPorts.h"

#include <rtmidi/RtMidi.h>

#include <algorithm>
#if defined(VZ_HAVE_JACK)
#include "midi/JackMidi.h"
#endif

namespace mc303sim {
namespace {

#if defined(VZ_HAVE_JACK)
// The next whole event of a JACK input port, if any.
bool PopEvent(midi::ByteRing& ring, std::vector<std::uint8_t>& bytes, std::uint64_t& micros) {
  if (ring.Readable() < sizeof(midi::EventHead)) return false;
  midi::EventHead head;
  ring.Read(&head, sizeof head);
  bytes.resize(head.size);
  ring.Read(bytes.data(), head.size);
  micros = head.micros;
  return true;
}
#endif

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
#if defined(VZ_HAVE_JACK)
    if (c.api == RtMidi::UNIX_JACK) {
      ports->jackIn_ = midi::JackMidi::Connect(kInputClient);
      ports->jackOut_ = midi::JackMidi::Connect(kOutputClient);
      if (ports->jackIn_ && ports->jackOut_) {
        ports->jackInPort_ = ports->jackIn_->Open(name, "", false);
        ports->jackOutPort_ = ports->jackOut_->Open(name, "", true, false);
      }
      if (ports->jackInPort_ < 0 || ports->jackOutPort_ < 0) {
        why += std::string(c.shown) + ": cannot make virtual ports (is its server running?). ";
        continue;
      }
      ports->jackIn_->Listen(ports->jackInPort_, true);
      return ports;
    }
#endif
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
#if defined(VZ_HAVE_JACK)
  if (jackOut_) jackOut_->Close(jackOutPort_);  // passes on what it holds first
#endif
  jackOut_.reset();
  jackIn_.reset();
  out_.reset();
  in_.reset();
}

int SimPorts::Errors() const {
#if defined(VZ_HAVE_JACK)
  if (jackIn_) return errors_.load() + (jackIn_->LostInputBytes() > 0 ? 1 : 0);
#endif
  return errors_.load();
}

bool SimPorts::Read(std::vector<unsigned char>& message, double& seconds) {
#if defined(VZ_HAVE_JACK)
  if (jackIn_) {
    // A sender's block comes in parts when it spans process cycles: joined up to the
    // part that ends in 0xF7 (a block ends with a message), so that the block arrives
    // as one, dated from its first part.
    std::vector<std::uint8_t> part;
    std::uint64_t at = 0;
    while (PopEvent(jackIn_->Input(jackInPort_), part, at)) {
      Record(part);
      if (pending_.empty()) pendingAt_ = at;
      pending_.insert(pending_.end(), part.begin(), part.end());
      if (pending_.back() != 0xF7 && pending_.size() < (1u << 20)) continue;
      seconds = lastAt_ == 0 ? 0.0 : static_cast<double>(pendingAt_ - lastAt_) / 1e6;
      lastAt_ = pendingAt_;
      message.swap(pending_);
      pending_.clear();
      return true;
    }
    message.clear();
    return false;
  }
#endif
  seconds = in_->getMessage(&message);
  Record(message);
  return !message.empty();
}

void SimPorts::Record(const std::vector<unsigned char>& bytes) {
  if (record_ == nullptr || bytes.empty()) return;
  record_->write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  record_->flush();
}

bool SimPorts::Send(const std::vector<unsigned char>& message) {
#if defined(VZ_HAVE_JACK)
  if (jackOut_) return jackOut_->Send(jackOutPort_, message.data(), message.size()) == midi::kNoError;
#endif
  const int before = errors_.load();
  out_->sendMessage(&message);
  return errors_.load() == before;
}

}  // namespace mc303sim
