// mc303-sim: a stand-in for a Roland MC-303 on a virtual MIDI port, for trying and
// testing the librarian without the device. It sends active sensing while idle, sends
// its bank of user patterns as a bulk dump at wire speed when told, and takes in bulk
// loads through a modelled receive buffer, reporting "RCV ERR" as the device would.
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "Bank.h"
#include "DeviceModel.h"
#include "DumpGenerator.h"
#include "LineOutput.h"
#include "SimPorts.h"
#include "mc303/SyxFiles.h"

namespace {

using mc303sim::Micros;

constexpr int kExitOk = 0;
constexpr int kExitUsageOrIo = 2;

volatile std::sig_atomic_t gDumpSignal = 0;
volatile std::sig_atomic_t gStopSignal = 0;

extern "C" void OnDumpSignal(int) { gDumpSignal = 1; }
extern "C" void OnStopSignal(int) { gStopSignal = 1; }

void InstallSignals() {
  struct sigaction action {};
  sigemptyset(&action.sa_mask);
  action.sa_handler = &OnDumpSignal;
  sigaction(SIGUSR1, &action, nullptr);
  action.sa_handler = &OnStopSignal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

struct Options {
  std::string bankFile;
  std::string saveFile;
  std::string name = "MC-303 Simulator";
  std::string api = "auto";
  std::string timingLog;
  std::string dumpFile;
  std::string recordFile;
  double speed = 1;
  std::uint64_t vanishAfter = 0;
  mc303sim::ReceiveLimits limits;
  bool quiet = false;
  bool json = false;
};

// Everything the simulator tells its user: plain lines, or with --json one JSON object
// a line for scripts. Every line is flushed at once, since tests read it as it comes.
class Reporter {
 public:
  explicit Reporter(const Options& o) : json_(o.json), quiet_(o.quiet) {}

  void Event(const nlohmann::ordered_json& object, const std::string& text, bool evenWhenQuiet = false) {
    if (json_) {
      std::cout << object.dump() << std::endl;
    } else if (!quiet_ || evenWhenQuiet) {
      std::cout << text << std::endl;
    }
  }

 private:
  bool json_;
  bool quiet_;
};

std::string AddressText(std::uint32_t address) {
  char text[16];
  std::snprintf(text, sizeof text, "%02X %02X %02X %02X", address >> 24 & 0xFF, address >> 16 & 0xFF,
                address >> 8 & 0xFF, address & 0xFF);
  return text;
}

void ReportRcvErr(Reporter& reporter, const mc303sim::RcvErr& e) {
  const bool overflow = e.kind == mc303sim::RcvErrKind::Overflow;
  std::string text = overflow ? "RCV ERR: receive buffer overflow" : "RCV ERR: bad checksum";
  if (e.address) text += " at " + AddressText(*e.address);
  nlohmann::ordered_json j{{"event", "rcv_err"}, {"reason", overflow ? "overflow" : "bad_checksum"}};
  j["address"] = e.address ? nlohmann::ordered_json(AddressText(*e.address)) : nlohmann::ordered_json(nullptr);
  reporter.Event(j, text, true);
}

void ReportSummary(Reporter& reporter, const mc303sim::LoadSummary& s) {
  nlohmann::ordered_json stored = nlohmann::ordered_json::array();
  for (const auto& p : s.stored) {
    char name[16];
    std::snprintf(name, sizeof name, "U%02d%s", p.slot + 1, mc303sim::PartKindLetter(p.kind));
    stored.push_back(name);
  }
  const nlohmann::ordered_json j{{"event", "received"},       {"bytes", s.bytes},
                                 {"messages", s.messages},     {"stored_messages", s.storedMessages},
                                 {"stored", stored},           {"dropped_parts", s.droppedParts},
                                 {"ignored", s.ignored},       {"broken_off", s.brokenOff},
                                 {"rcv_err", s.RcvErrors()},   {"overflows", s.overflows},
                                 {"bad_checksums", s.badChecksums}, {"lost_bytes", s.lostBytes}};
  const std::string parts = mc303sim::DescribeParts(s.stored);
  const std::string text = "received " + std::to_string(s.bytes) + " bytes, " + std::to_string(s.messages) +
                           " messages: " + std::to_string(s.stored.size()) + " parts stored" +
                           (parts.empty() ? "" : " (" + parts + ")") + ", " + std::to_string(s.droppedParts) +
                           " parts dropped, " + std::to_string(s.ignored) + " ignored, " +
                           std::to_string(s.brokenOff) + " broken off; " + std::to_string(s.RcvErrors()) +
                           " receive errors (" + std::to_string(s.overflows) + " overflows, " +
                           std::to_string(s.badChecksums) + " bad checksums, " + std::to_string(s.lostBytes) +
                           " bytes lost)";
  reporter.Event(j, text, true);
}

// Key presses on a terminal: no line editing and no echo while the simulator runs, so
// one key starts the dump; the terminal gets its settings back at the end.
class RawTerminal {
 public:
  RawTerminal() {
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &saved_) != 0) return;
    termios raw = saved_;
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    active_ = tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
  }
  ~RawTerminal() {
    if (active_) tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
  }
  RawTerminal(const RawTerminal&) = delete;
  RawTerminal& operator=(const RawTerminal&) = delete;
  bool Active() const { return active_; }

 private:
  termios saved_{};
  bool active_ = false;
};

enum class Command { None, Dump, Save, Quit };

// Commands from standard input: single keys on a terminal (q quits, s saves, any other
// key dumps), else lines "dump", "save", "quit". Never blocks; after the end of input
// (a closed pipe, /dev/null) it stops looking.
class CommandInput {
 public:
  explicit CommandInput(bool keys) : keys_(keys) {}

  Command Next() {
    while (open_) {
      pollfd p{STDIN_FILENO, POLLIN, 0};
      if (poll(&p, 1, 0) <= 0 || (p.revents & (POLLIN | POLLHUP)) == 0) return Command::None;
      char c = 0;
      if (read(STDIN_FILENO, &c, 1) != 1) {
        open_ = false;
        return Command::None;
      }
      if (keys_) return c == 'q' ? Command::Quit : c == 's' ? Command::Save : Command::Dump;
      if (c != '\n') {
        if (line_.size() < 256) line_ += c;
        continue;
      }
      std::string line;
      line.swap(line_);
      while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
      if (line == "dump") return Command::Dump;
      if (line == "save") return Command::Save;
      if (line == "quit") return Command::Quit;
      if (!line.empty()) std::cerr << "mc303-sim: unknown command '" << line << "' (dump, save, quit)\n";
    }
    return Command::None;
  }

 private:
  bool keys_;
  bool open_ = true;
  std::string line_;
};

// Turns the MIDI system's time stamps (seconds since the previous message) into arrival
// times on the simulator's clock. The stamps keep the sender's spacing even when this
// loop was held up, which matters to the receive buffer. An arrival is never later than
// the moment it is read nor before the previous one, and never lags the clock by more
// than half a second, so rounding in the stamps cannot add up to a silence that would
// end a load.
class ArrivalClock {
 public:
  Micros Arrival(double secondsSincePrevious, Micros now) {
    Micros t = now;
    if (started_) {
      t = previous_ + Micros(static_cast<Micros::rep>(std::min(secondsSincePrevious, 3600.0) * 1e6));
      t = std::clamp(t, std::max(previous_, now - kMaxLag), std::max(previous_, now));
    }
    started_ = true;
    previous_ = t;
    return t;
  }

 private:
  static constexpr Micros kMaxLag{500'000};
  bool started_ = false;
  Micros previous_{0};
};

class Simulator {
 public:
  struct Files {
    std::ostream* timingLog = nullptr;
    std::ostream* record = nullptr;
    const mc303sim::Bytes* dump = nullptr;  // played instead of the bank
  };

  Simulator(const Options& o, mc303sim::Bank& bank, mc303sim::SimPorts& ports, Reporter& reporter, Files files)
      : o_(o),
        bank_(bank),
        ports_(ports),
        reporter_(reporter),
        files_(files),
        model_(bank, o.limits),
        line_(Now()) {
    model_.SetErrorObserver([this](const mc303sim::RcvErr& e) { ReportRcvErr(reporter_, e); });
    ports_.RecordTo(files_.record);
  }

  int Run(const RawTerminal& terminal) {
    CommandInput input(terminal.Active());
    std::vector<unsigned char> message;
    for (;;) {
      const Micros now = Now();
      double seconds = 0;
      while (!Vanishing() && ports_.Read(message, seconds)) {
        const Micros arrival = arrivals_.Arrival(seconds, now);
        if (files_.timingLog != nullptr) *files_.timingLog << arrival.count() << ' ' << message.size() << std::endl;
        model_.Receive(message.data(), message.size(), arrival);
        received_ += message.size();
      }
      if (auto summary = model_.Poll(now)) EndOfLoad(*summary);

      const Command command = input.Next();
      if (gStopSignal != 0 || command == Command::Quit) break;
      if (command == Command::Save) Save();
      if (gDumpSignal != 0 || command == Command::Dump) {
        gDumpSignal = 0;
        StartDump(now);
      }
      SendDue(now);
      if (Vanishing()) {
        Vanish();
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (auto summary = model_.EndLoad()) EndOfLoad(*summary);
    if (unsaved_ && !o_.saveFile.empty()) Save();
    reporter_.Event({{"event", "bye"}, {"rcv_err", model_.TotalRcvErrors()}, {"midi_errors", ports_.Errors()}},
                    "bye: " + std::to_string(model_.TotalRcvErrors()) + " RCV ERR in all", true);
    return saveFailed_ ? kExitUsageOrIo : kExitOk;
  }

 private:
  Micros Now() const {
    return std::chrono::duration_cast<Micros>(std::chrono::steady_clock::now() - start_);
  }

  bool Vanishing() const { return o_.vanishAfter > 0 && std::max(sent_, received_) >= o_.vanishAfter; }

  void Vanish() {
    reporter_.Event({{"event", "vanished"}, {"sent", sent_}, {"received", received_}},
                    "vanished after " + std::to_string(sent_) + " bytes sent and " + std::to_string(received_) +
                        " received: the ports are closed, as when the device is unplugged",
                    true);
    ports_.Close();
  }

  void StartDump(Micros now) {
    const mc303sim::Bytes dump = files_.dump != nullptr ? *files_.dump : bank_.DumpBytes();
    if (!line_.StartDump(dump, now, o_.speed)) {
      std::cerr << "mc303-sim: a dump is already going out\n";
      return;
    }
    dumping_ = true;
    reporter_.Event({{"event", "dump_start"}, {"bytes", dump.size()}, {"messages", line_.DumpMessages()}},
                    "dump: sending " + std::to_string(dump.size()) + " bytes in " +
                        std::to_string(line_.DumpMessages()) + " messages at " +
                        std::to_string(std::lround(3125 * o_.speed)) + " bytes/s");
  }

  // Dump bytes count towards --vanish-after; a batch of the line is all dump or all
  // active sensing.
  void SendDue(Micros now) {
    const bool dump = dumping_;
    for (const auto& m : line_.Due(now)) {
      if (Vanishing()) return;
      if (!ports_.Send(m)) ++sendFailures_;
      if (dump) sent_ += m.size();
    }
    if (dumping_ && !line_.Dumping()) {
      dumping_ = false;
      reporter_.Event({{"event", "dump_end"}, {"bytes", line_.DumpBytes()}, {"send_failures", sendFailures_}},
                      "dump: sent " + std::to_string(line_.DumpBytes()) + " bytes" +
                          (sendFailures_ > 0 ? "; " + std::to_string(sendFailures_) + " messages failed to go out" : ""));
      sendFailures_ = 0;
    }
  }

  void EndOfLoad(const mc303sim::LoadSummary& summary) {
    ReportSummary(reporter_, summary);
    if (summary.stored.empty()) return;
    unsaved_ = true;
    if (!o_.saveFile.empty()) Save();
  }

  void Save() {
    if (o_.saveFile.empty()) {
      std::cerr << "mc303-sim: no bank file to save to (start with --save FILE)\n";
      return;
    }
    const mc303sim::Bytes bytes = bank_.DumpBytes();
    if (auto error = mc303::ReplaceFile(o_.saveFile, bytes)) {
      std::cerr << "mc303-sim: " << o_.saveFile << ": cannot write: " << *error << '\n';
      saveFailed_ = true;
      return;
    }
    unsaved_ = false;
    reporter_.Event({{"event", "saved"}, {"file", o_.saveFile}, {"bytes", bytes.size()}},
                    "saved the bank to " + o_.saveFile + " (" + std::to_string(bytes.size()) + " bytes)");
  }

  const Options& o_;
  mc303sim::Bank& bank_;
  mc303sim::SimPorts& ports_;
  Reporter& reporter_;
  Files files_;
  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  mc303sim::DeviceModel model_;
  mc303sim::LineOutput line_;
  ArrivalClock arrivals_;
  bool dumping_ = false;
  int sendFailures_ = 0;
  std::uint64_t sent_ = 0, received_ = 0;
  bool unsaved_ = false;
  bool saveFailed_ = false;
};

constexpr const char* kAbout =
    "A simulated Roland MC-303 on a virtual MIDI port (JACK, else ALSA; CoreMIDI on macOS),\n"
    "for trying the librarian without the device. Both ports carry the device's name;\n"
    "on JACK choose \"MC-303 OUT:...\" as the input and \"MC-303 IN:...\" as the output.\n"
    "\n"
    "  * Sends active sensing (FE) after every 300 ms of silence.\n"
    "  * Sends its bank as a bulk dump at MIDI wire speed (3125 bytes/s) on a key press\n"
    "    (q quits, s saves), a line 'dump' on standard input ('save' and 'quit' too),\n"
    "    or SIGUSR1.\n"
    "  * Takes in bulk loads: bytes cross a modelled cable at 3125 bytes/s into a receive\n"
    "    buffer of --rx-buffer bytes that the device empties at --rx-rate bytes/s. A byte\n"
    "    that finds the buffer full is lost; that, or a wrong Roland checksum, prints\n"
    "    'RCV ERR'. Checked parts replace the bank's; a part an error may have hit is\n"
    "    not stored. After a second of silence a one-line summary follows.\n"
    "\n"
    "The defaults (512 bytes, 1600 bytes/s) suit the librarian's pacing: blocks cut at a\n"
    "message end once past 139 bytes (at most 279 bytes with the device's messages) and\n"
    "200 ms apart ask for at most some 1400 bytes/s and never fill the buffer. An unpaced\n"
    "send fills it at 1525 bytes/s, after about a kilobyte; blocks of 400 bytes or more\n"
    "overrun it even with the 200 ms pause.\n"
    "\n"
    "With --timing-log, one line per message taken in, as the MIDI system delivered it:\n"
    "its arrival in microseconds on the simulator's clock, a blank and its size in bytes.\n"
    "A librarian's block of several messages arrives as one. With --record, the bytes\n"
    "themselves, in the order they came, a block's first parts as soon as they come.\n"
    "\n"
    "For trying a librarian beyond what the device does: --speed plays dumps faster (or\n"
    "slower) than the wire, --dump-file plays any file as it is (active sensing and all)\n"
    "in place of the bank, and --vanish-after closes the ports in the middle of a\n"
    "transfer, as when the device is unplugged or switched off.\n"
    "\n"
    "SIGINT and SIGTERM end it cleanly: the last summary, the bank saved (--save).";

}  // namespace

int main(int argc, char** argv) {
  Options o;
  CLI::App app{kAbout, "mc303-sim"};
  app.add_option("--bank", o.bankFile, "The .SYX file to start from (default: the example bank, as gen-dump makes it)")
      ->check(CLI::ExistingFile);
  app.add_option("--save", o.saveFile, "Write the bank to this .SYX file after every load that changed it, and at the end");
  app.add_option("--name", o.name, "The ports' name")->capture_default_str();
  app.add_option("--api", o.api, "MIDI system: auto, jack, alsa or core")
      ->check(CLI::IsMember({"auto", "jack", "alsa", "core"}))
      ->capture_default_str();
  app.add_option("--rx-buffer", o.limits.bufferBytes, "Receive buffer size in bytes")
      ->check(CLI::Range(1, 1 << 24))
      ->capture_default_str();
  app.add_option("--rx-rate", o.limits.drainBytesPerSecond, "Bytes per second the device takes from its buffer")
      ->check(CLI::Range(1, 1 << 24))
      ->capture_default_str();
  app.add_option("--timing-log", o.timingLog,
                 "Write each message's arrival (microseconds) and size to this file, a line each");
  app.add_option("--record", o.recordFile, "Write every byte received to this file, exactly as it came");
  app.add_option("--speed", o.speed, "Send dumps at this many times MIDI wire speed (0.5, 10, ...)")
      ->check(CLI::Range(0.01, 1000.0))
      ->capture_default_str();
  app.add_option("--dump-file", o.dumpFile, "Send this file's bytes as they are when told to dump, instead of the bank")
      ->check(CLI::ExistingFile);
  app.add_option("--vanish-after", o.vanishAfter,
                 "Close the ports and end once this many bytes of a dump went out or this many came in (0: never)");
  app.add_flag("--quiet", o.quiet, "Print only the ready line, RCV ERR lines, summaries and the closing line");
  app.add_flag("--json", o.json, "Print every event as one JSON object a line");
  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return kExitUsageOrIo;
  }

  mc303sim::Bytes bankBytes;
  if (o.bankFile.empty()) {
    bankBytes = dumpgen::GenerateDump({});
  } else if (auto error = mc303::ReadWholeFile(o.bankFile, bankBytes)) {
    std::cerr << "mc303-sim: " << o.bankFile << ": cannot read: " << *error << '\n';
    return kExitUsageOrIo;
  }
  mc303sim::Bank bank;
  const mc303sim::BankLoad load = mc303sim::LoadBank(bankBytes, bank);
  const std::string bankName = o.bankFile.empty() ? "the example bank" : o.bankFile;
  if (load.badChecksumOffset) {
    std::cerr << "mc303-sim: " << bankName << ": the message at byte offset " << *load.badChecksumOffset
              << " has a wrong checksum\n";
    return kExitUsageOrIo;
  }
  if (load.ignored > 0) {
    std::cerr << "mc303-sim: " << bankName << ": " << load.ignored
              << " messages are no user pattern data and were left out\n";
  }

  mc303sim::Bytes dumpFile;
  if (!o.dumpFile.empty()) {
    if (auto error = mc303::ReadWholeFile(o.dumpFile, dumpFile)) {
      std::cerr << "mc303-sim: " << o.dumpFile << ": cannot read: " << *error << '\n';
      return kExitUsageOrIo;
    }
  }
  std::ofstream timingLog, record;
  for (auto [file, name] : {std::pair{&timingLog, &o.timingLog}, std::pair{&record, &o.recordFile}}) {
    if (name->empty()) continue;
    file->open(*name, std::ios::binary | std::ios::trunc);
    if (!*file) {
      std::cerr << "mc303-sim: " << *name << ": cannot write\n";
      return kExitUsageOrIo;
    }
  }

  InstallSignals();
  std::string why;
  const auto ports = mc303sim::SimPorts::Open(o.name, o.api, why);
  if (!ports) {
    std::cerr << "mc303-sim: cannot open virtual MIDI ports: " << why << '\n';
    return kExitUsageOrIo;
  }
  Reporter reporter(o);
  RawTerminal terminal;
  reporter.Event({{"event", "ready"},
                  {"name", o.name},
                  {"system", ports->SystemName()},
                  {"patterns", bank.PatternCount()},
                  {"bank_bytes", bank.DumpBytes().size()},
                  {"rx_buffer", o.limits.bufferBytes},
                  {"rx_rate", o.limits.drainBytesPerSecond}},
                 "ready: ports \"" + o.name + "\" on " + ports->SystemName() + "; " + bankName + " holds " +
                     std::to_string(bank.PatternCount()) + " patterns; receive buffer " +
                     std::to_string(o.limits.bufferBytes) + " bytes at " + std::to_string(o.limits.drainBytesPerSecond) +
                     " bytes/s. " +
                     (terminal.Active() ? "Press a key to dump (q quits, s saves)" : "Type dump, save or quit") +
                     "; SIGUSR1 dumps too.",
                 true);
  Simulator simulator(o, bank, *ports, reporter,
                      {timingLog.is_open() ? &timingLog : nullptr, record.is_open() ? &record : nullptr,
                       o.dumpFile.empty() ? nullptr : &dumpFile});
  return simulator.Run(terminal);
}
