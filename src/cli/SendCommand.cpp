#include "cli/SendCommand.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "cli/CliSession.h"
#include "cli/Commands.h"
#include "cli/FeedFiles.h"
#include "cli/JsonWriter.h"
#include "cli/MidiCommands.h"
#include "platform/Platform.h"
#include "roles/Clock.h"
#include "roles/ProgressWindow.h"
#include "settings/Settings.h"
#include "transmit/TransmitEngine.h"

namespace cli {
namespace {

// Timer3 and the event pump of the command line, which has no window events: while
// switched on, a pacing tick at every whole millisecond of the steady clock (the first
// at least one millisecond after switching on, as a 1 ms timer's first tick comes), and
// off again once the countdown is idle. A dry run keeps a clock of its own that jumps
// to the next tick instead of sleeping.
//
// A stop asked by a signal reaches the engine here, as the window's abort reaches it
// through its event pump: each signal is one request, the first to finish the part
// being sent, the second to stop at once.
class SteadyTimer3 final : public roles::EventPump, public roles::Timer3 {
 public:
  SteadyTimer3(transmit::PacingCountdown& countdown, bool realTime, const std::atomic<int>* stops, bool& abortRequested)
      : countdown_(countdown), realTime_(realTime), stops_(stops), abortRequested_(abortRequested) {}

  void SwitchOn() override {
    if (on_) return;
    on_ = true;
    nextTickMs_ = NowMs() + 2;
  }
  void PumpEvents() override {
    // The engine takes each request as it comes; one not yet taken is not repeated.
    if (stops_ != nullptr && !abortRequested_ && stops_->load(std::memory_order_relaxed) > passedOn_) {
      ++passedOn_;
      abortRequested_ = true;
    }
    if (!on_) return;
    const std::uint64_t now = NowMs();
    if (now < nextTickMs_) return;
    countdown_.Tick(static_cast<std::uint32_t>(now));  // wraps as the window's clock does
    nextTickMs_ = now + 1;
    if (countdown_.Idle()) on_ = false;
  }
  void WaitForEvents() override {
    if (on_) {
      if (realTime_) {
        std::this_thread::sleep_until(std::chrono::steady_clock::time_point(std::chrono::milliseconds(nextTickMs_)));
      } else {
        virtualMs_ = std::max(virtualMs_, nextTickMs_);
      }
    }
    PumpEvents();
  }

 private:
  std::uint64_t NowMs() const {
    if (!realTime_) return virtualMs_;
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
  }

  transmit::PacingCountdown& countdown_;
  const bool realTime_;
  const std::atomic<int>* stops_;
  int passedOn_ = 0;
  bool& abortRequested_;
  bool on_ = false;
  std::uint64_t nextTickMs_ = 0;
  std::uint64_t virtualMs_ = 0;
};

// The output port of a dry run: slot 0 takes every block and sends nothing.
class DryRunPorts final : public midi::MidiPorts {
 public:
  void ReadPortLists() override {}
  midi::MidiResult OutOpen(midi::PortHandle* handle, int slot) override {
    *handle = slot == 0 ? 1 : 0;
    return slot == 0 ? midi::kNoError : midi::kErrBadDeviceId;
  }
  midi::MidiResult InOpen(midi::PortHandle* handle, int) override {
    *handle = 0;
    return midi::kErrBadDeviceId;
  }
  midi::MidiResult PortName(midi::PortHandle, std::string* name) override {
    *name = "dry run";
    return midi::kNoError;
  }
  midi::MidiResult Close(midi::PortHandle) override { return midi::kNoError; }
  midi::MidiResult InStart(midi::PortHandle) override { return midi::kErrInvalidHandle; }
  midi::MidiResult InStop(midi::PortHandle) override { return midi::kErrInvalidHandle; }
  std::size_t InRead(midi::PortHandle, std::uint8_t*, std::size_t) override { return 0; }
  midi::Waker& InputArrived() override { return arrived_; }
  midi::MidiResult OutSend(midi::PortHandle, const std::uint8_t*, std::size_t) override { return midi::kNoError; }
  std::string ErrorText(midi::MidiResult) override { return {}; }

 private:
  midi::Waker arrived_;
};

// What the window would show in a message box goes to stderr; the last one is kept
// as the error of a send that failed. The window's prompt to press OK once the device
// is ready has no OK to press here: the command line is the go-ahead.
class SendDialogs final : public roles::Dialogs {
 public:
  explicit SendDialogs(std::ostream& err) : err_(err) {}
  roles::Answer MessageBox(std::string_view text, roles::Buttons buttons, std::string_view, roles::Icon) override {
    if (text != transmit::kSendPrompt) {
      err_ << "vezorizer-cli: " << text << '\n';
      last = std::string(text);
    }
    return buttons == roles::Buttons::Ok ? roles::Answer::Ok : roles::Answer::No;
  }
  std::optional<std::string> SaveFileDialog(std::string_view, std::string_view) override { return std::nullopt; }
  std::optional<std::string> OpenFileDialog(std::string_view, std::string_view) override { return std::nullopt; }
  std::string last;

 private:
  std::ostream& err_;
};

}  // namespace

BufferSizeChoice SendBufferSize(const SendOptions& options) {
  BufferSizeChoice choice;
  choice.value = options.bufferSize.value_or(settings::kDefaultTransmitBufferSize);
  choice.pauseMs = options.pauseMs.value_or(settings::kDefaultPauseMs);
  if (options.bufferSize && options.pauseMs) return choice;
  KeptDialogs dialogs;  // reading never shows anything
  for (const std::filesystem::path& dir :
       {std::filesystem::path("."), options.programDirectory, options.userDataDirectory}) {
    if (dir.empty()) continue;
    settings::Settings s(dir, dialogs);
    if (!s.FileExists()) continue;
    const bool read = s.LoadSettings();
    if (!options.bufferSize) {
      choice.unreadable = !read;
      choice.from = s.FilePath();
      choice.value = s.TransmitBufferSize;
    }
    if (!options.pauseMs && s.PauseMs != settings::kDefaultPauseMs) {
      choice.pauseMs = s.PauseMs;
      choice.pauseFrom = s.FilePath();
    }
    break;
  }
  return choice;
}

std::filesystem::path UserDataDirectory() {
  const auto env = [](const char* name) -> std::filesystem::path {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::filesystem::path(value) : std::filesystem::path();
  };
#if defined(_WIN32)
  const auto base = env("APPDATA");
  return base.empty() ? base : base / "Vezorizer";
#elif defined(__APPLE__)
  const auto home = env("HOME");
  return home.empty() ? home : home / "Library" / "Application Support" / "Vezorizer";
#else
  const auto data = env("XDG_DATA_HOME");
  if (data.is_absolute()) return data / "Vezorizer";
  const auto home = platform::HomeDirectory();  // as the window program finds it
  return home.empty() ? home : home / ".local" / "share" / "Vezorizer";
#endif
}

namespace {

// What a terminal shows while a real send runs: bytes, blocks and the time left, which
// the engine counts as the progress window's (the line's time of every byte still to
// go and the pauses). A stop that finishes a part is said once.
class ProgressLine final : public roles::ProgressWindow {
 public:
  ProgressLine(Console& console, bool shown) : console_(console), shown_(shown) {}
  void SetCaption(const std::string&) override {}
  void Show() override {}
  void Hide() override {}
  void SetProgress(std::int64_t done, std::int64_t total, std::int64_t secondsLeft) override {
    done_ = done;
    total_ = total;
    secondsLeft_ = secondsLeft;
    Draw();
  }
  void SetFinishing(const std::string& part) override {
    Clear();
    console_.Note("Finishing " + part + " so that the device does not hold half of it; interrupt again to stop at once");
    Draw();
  }
  void Update(int blocks) {
    blocks_ = blocks;
    Draw();
  }
  void Clear() {
    if (shown_) console_.err << "\r\x1b[K" << std::flush;
  }

 private:
  void Draw() {
    if (!shown_) return;
    char text[160];
    std::snprintf(text, sizeof text, "\r%lld of %lld bytes sent, %d blocks, about %lld:%02lld left\x1b[K",
                  static_cast<long long>(done_), static_cast<long long>(total_), blocks_,
                  static_cast<long long>(secondsLeft_ / 60), static_cast<long long>(secondsLeft_ % 60));
    console_.err << text << std::flush;
  }

  Console& console_;
  const bool shown_;
  std::int64_t done_ = 0, total_ = 0, secondsLeft_ = 0;
  int blocks_ = 0;
};

}  // namespace

namespace {

// One send from the command line: its steps share what was sent so far, for the
// report at the end and for the words said when a signal stops it.
class SendRun {
 public:
  SendRun(const SendOptions& options, Console& console, const std::atomic<int>* stops,
          const std::function<int()>& stopSignal)
      : options_(options), console_(console), stops_(stops), stopSignal_(stopSignal) {}

  int Run(midi::MidiPorts* ports) {
    if (!NamesGood()) return kExitUsageOrIo;
    // Each FILE is read once (standard input or a FIFO gives its bytes only once); the
    // engine reads the bytes kept here, a MIDI file's SysEx.
    std::vector<InputFile> files;
    if (!LoadInputFiles(options_.files, files, console_)) {
      // A FILE whose producer stalled ends on SIGINT or SIGTERM as the send would.
      const int signal = Signal();
      return signal != 0 ? platform::ExitStatusForSignal(signal) : kExitUsageOrIo;
    }
    for (const InputFile& f : files) totalBytes_ += f.bytes.size();
    const InputsByName inputs(files);
    const std::int32_t bufferSize = BufferSize();
    // A dry run opens no port, so whatever --port names does not matter to it.
    const bool dryRun = ports == nullptr || options_.dryRun;
    DryRunPorts noPort;
    midi::MidiPorts& layer = dryRun ? noPort : *ports;
    // A MIDI server that did not answer may have been given up on already.
    if (const int signal = dryRun ? 0 : Interrupted(); signal != 0) return platform::ExitStatusForSignal(signal);
    return Transmit(layer, dryRun, inputs, bufferSize);
  }

  int Report(int status) const {
    const std::uint64_t unsent = totalBytes_ - std::min(totalBytes_, sentBytes_);
    if (console_.json) {
      JsonWriter(console_.out)
          .Field("blocks", blocks_)
          .Field("sent_bytes", sentBytes_)
          .Field("unsent_bytes", unsent)
          .Field("error", TextOrNull(console_.FirstError()))
          .End();
    } else if (transmitted_) {
      console_.out << sentBytes_ << " bytes sent in " << blockCount_ << " blocks, " << unsent << " bytes left unsent\n";
    }
    return status;
  }

 private:
  bool NamesGood() {
    if (options_.port && options_.port->empty()) {
      console_.Error("--port", "the name is empty");
      return false;
    }
    for (const std::string& name : options_.files) {
      // A line break would split the name into other names when the list is read.
      if (name.find_first_of("\r\n") != std::string::npos) {
        console_.Error(name, "cannot be sent: the name holds a line break");
        return false;
      }
    }
    return true;
  }

  std::int32_t BufferSize() {
    const BufferSizeChoice buffer = SendBufferSize(options_);
    if (buffer.from && buffer.unreadable) {
      console_.Warning(buffer.from->string(), "cannot be read; the buffer size is " + std::to_string(buffer.value));
    } else if (buffer.from) {
      console_.Note("Buffer size " + std::to_string(buffer.value) + ", from " + buffer.from->string());
    }
    if (buffer.pauseFrom) {
      console_.Note("Pause " + std::to_string(buffer.pauseMs) + " ms, from " + buffer.pauseFrom->string());
    }
    pauseMs_ = buffer.pauseMs;
    return buffer.value;
  }

  int Signal() const { return stops_ != nullptr && stops_->load() > 0 && stopSignal_ ? stopSignal_() : 0; }

  // The signal that stopped the send, said with how far it came; 0 when none did.
  int Interrupted() {
    const int signal = Signal();
    if (signal != 0) {
      console_.Error(std::string("interrupted by ") + platform::SignalName(signal) + ": " +
                     std::to_string(sentBytes_) + " of " + std::to_string(totalBytes_) + " bytes sent");
    }
    return signal;
  }

  int Transmit(midi::MidiPorts& layer, bool dryRun, const InputsByName& inputs, std::int32_t bufferSize) {
    SendDialogs dialogs(console_.err);
    // The output slots as the window's output list holds them.
    roles::NoEventPump listPump;
    EntryList inputList, outputList;
    midi::DeviceSession devices(layer, dialogs, listPump, inputList, outputList);
    bool quit = false;
    (void)devices.Open(quit);
    const std::optional<int> slot =
        ChooseSlot(dryRun ? "0" : options_.port.value_or("0"), outputList.Items(), "output", console_);
    if (!slot) return kExitUsageOrIo;
    devices.SelectOutput(*slot);
    if (!dryRun) console_.Note("Sending to output slot " + std::to_string(*slot) + " (" + outputList.Item(*slot) + ").");

    // The files are listed in the order given; the command line's list has no length
    // limit of its own.
    roles::TextBox list{0};
    std::string text;
    for (const std::string& name : options_.files) text += name + "\r\n";
    list.SetText(text);

    CliSession session;
    ProgressLine progress(console_, options_.progress && !dryRun);
    transmit::PacingCountdown countdown;
    SteadyTimer3 timer3(countdown, !dryRun, stops_, session.flags.AbortRequested);
    transmit::TransmitEngine engine({session.flags, session.parse, list, session.reportBox, session.trafficBox, layer,
                                     devices.State(), dialogs, timer3, progress, countdown, timer3, bufferSize, {},
                                     pauseMs_});
    // The pieces sent are shown nowhere here: the store keeps only what it needs to tell
    // one from another, not a second copy of the files.
    PieceTally tally;
    session.parse.SetMessageObserver([&](const mc303::MessageReport& r) { tally.Take(session.parse.Store(), r); });
    engine.SetOpener([&inputs](const std::string& name) { return inputs.Open(name); });
    engine.SetHandOverObserver([&](const transmit::HandOver& h) { HandedOver(h, progress); });

    const transmit::SendEnd end = engine.Send();
    // Closing lets the port pass on what it still holds.
    devices.Close();
    progress.Clear();
    transmitted_ = true;
    return Ended(end, engine.FilesNotOpened() > 0, dialogs.last, layer);
  }

  void HandedOver(const transmit::HandOver& h, ProgressLine& progress) {
    if (h.result != midi::kNoError) return;
    sentBytes_ += static_cast<std::uint64_t>(h.bytes);
    ++blockCount_;
    if (console_.json) {
      blocks_.push_back({{"bytes", h.bytes}, {"paced", h.paced}});
    } else {
      progress.Clear();
      console_.out << "block " << blockCount_ << ": " << h.bytes << " bytes" << (h.endOfFile ? " (end of file)" : "")
                   << std::endl;
    }
    progress.Update(blockCount_);
  }

  // The exit status; said (the dialogs' last words) is the error of a send that failed.
  int Ended(transmit::SendEnd end, bool filesNotOpened, const std::string& said, midi::MidiPorts& layer) {
    int status = kExitOk;
    if (end == transmit::SendEnd::BlockTooLong) {
      console_.RecordError(transmit::kBlockTooLong);
      status = kExitDataProblem;
    } else if (end != transmit::SendEnd::Finished || filesNotOpened) {
      // Already said by the dialogs, in the window's words.
      console_.RecordError(said);
      status = kExitUsageOrIo;
    }
    if (const std::uint64_t lost = layer.LostOutputBytes(); lost > 0) {
      sentBytes_ -= std::min(sentBytes_, lost);
      console_.Error(std::to_string(lost) + " bytes did not reach the MIDI system.");
      status = kExitUsageOrIo;
    }
    if (const int signal = Interrupted(); signal != 0) status = platform::ExitStatusForSignal(signal);
    return status;
  }

  const SendOptions& options_;
  Console& console_;
  const std::atomic<int>* stops_;
  const std::function<int()>& stopSignal_;
  Json blocks_ = Json::array();
  std::uint64_t sentBytes_ = 0;
  std::uint64_t totalBytes_ = 0;
  std::int32_t pauseMs_ = transmit::kPauseMs;  // after each paced block: --pause, SETTINGS.DAT or this
  int blockCount_ = 0;
  bool transmitted_ = false;  // the engine ran: the text report has its last line
};

}  // namespace

int RunSend(const SendOptions& options, midi::MidiPorts* ports, Console& console, const std::atomic<int>* stops,
            const std::function<int()>& stopSignal) {
  SendRun send(options, console, stops, stopSignal);
  return send.Report(send.Run(ports));
}

}  // namespace cli
