#include "cli/MidiCommands.h"

#include <algorithm>
#include <cctype>
#include <csignal>
#include <filesystem>
#include <random>
#include <vector>

#include "cli/CliSession.h"
#include "cli/Commands.h"
#include "cli/FeedFiles.h"
#include "cli/JsonWriter.h"
#include "cli/OutputFile.h"
#include "cli/SavePieces.h"
#include "mc303/SyxFiles.h"
#include "midi/DeviceSession.h"
#include "platform/Platform.h"
#include "session/CaptureControl.h"
#include "session/ReceiveLoop.h"

namespace cli {
namespace {

constexpr const char* kNoDevices = "No MIDI devices currently connected.";
constexpr const char* kNothingStored = "No data has been stored in the buffer yet.";

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

// The capture command's event pump: no windows, only the test hook.
class CapturePump final : public roles::EventPump {
 public:
  CapturePump(const std::function<void(std::uint64_t)>& hook, const mc303::SysexIntake& parse)
      : hook_(hook), parse_(parse) {}
  void PumpEvents() override {
    if (hook_) hook_(parse_.BytesFed());
  }

 private:
  const std::function<void(std::uint64_t)>& hook_;
  const mc303::SysexIntake& parse_;
};

// Sleeps until input arrives; when it wakes without any, looks whether the capture has
// come to its end.
class CaptureIdleWait final : public session::IdleWait {
 public:
  CaptureIdleWait(midi::Waker& arrived, CaptureEnd& end, const std::atomic<bool>& stop, mc303::SysexIntake& parse,
                  bool& quitRequested)
      : arrived_(arrived), end_(end), stop_(stop), parse_(parse), quitRequested_(quitRequested) {}
  void WaitForInput() override {
    // Short enough that a stop or the idle timeout is seen promptly, long enough that an
    // idle capture costs next to nothing.
    if (arrived_.WaitFor(std::chrono::milliseconds(100))) return;
    if (end_.Reached(parse_.BytesFed(), std::chrono::steady_clock::now(), stop_.load())) quitRequested_ = true;
  }

 private:
  midi::Waker& arrived_;
  CaptureEnd& end_;
  const std::atomic<bool>& stop_;
  mc303::SysexIntake& parse_;
  bool& quitRequested_;
};

}  // namespace

std::optional<int> ChooseSlot(const std::string& wanted, const std::vector<std::string>& names, const std::string& kind,
                              Console& console) {
  const auto count = static_cast<int>(names.size());
  std::vector<int> found;
  if (!wanted.empty() && std::all_of(wanted.begin(), wanted.end(), [](unsigned char c) { return std::isdigit(c); })) {
    if (const long slot = std::strtol(wanted.c_str(), nullptr, 10); wanted.size() <= 3 && slot < count) {
      found.push_back(static_cast<int>(slot));
    }
  } else {
    const std::string needle = Lower(wanted);
    for (int i = 0; i < count; ++i) {
      const std::string name = Lower(names[static_cast<std::size_t>(i)]);
      if (name == needle) return i;  // a whole name is never ambiguous
      if (name.find(needle) != std::string::npos) found.push_back(i);
    }
  }
  if (found.size() == 1) return found.front();
  if (found.empty()) {
    console.Error("No " + kind + " port matches '" + wanted + "'; see vezorizer-cli ports.");
  } else {
    std::string listed;
    for (const int i : found) listed += (listed.empty() ? "" : ", ") + std::to_string(i) + " (" + names[static_cast<std::size_t>(i)] + ")";
    console.Error("'" + wanted + "' matches several " + kind + " ports, slots " + listed +
                  "; give the slot number or the whole name.");
  }
  return std::nullopt;
}

bool CaptureEnd::Reached(std::uint64_t bytesReceived, std::chrono::steady_clock::time_point now, bool stopSignalled) {
  if (stopSignalled) return true;
  if (bytesReceived != lastCount_) {
    lastCount_ = bytesReceived;
    lastByteTime_ = now;
    return false;
  }
  return idleTimeout_ && bytesReceived > 0 && now - lastByteTime_ >= *idleTimeout_;
}

int RunPorts(midi::MidiPorts& ports, Console& console) {
  roles::NoEventPump pump;
  KeptDialogs dialogs;
  EntryList inputList, outputList;
  midi::DeviceSession devices(ports, dialogs, pump, inputList, outputList);
  bool quitRequested = false;
  if (!devices.Open(quitRequested)) console.Note(kNoDevices);

  Json list = Json::array();
  for (int s = 0; s < devices.State().DeviceSlotCount; ++s) {
    const bool hasIn = s < inputList.ListCount();
    const bool hasOut = s < outputList.ListCount();
    if (console.json) {
      list.push_back({{"slot", s},
                      {"input", hasIn ? Json(inputList.Item(s)) : Json(nullptr)},
                      {"output", hasOut ? Json(outputList.Item(s)) : Json(nullptr)}});
    } else {
      console.out << s << "  in: " << (hasIn ? inputList.Item(s) : "-") << "  out: " << (hasOut ? outputList.Item(s) : "-")
                  << '\n';
    }
  }
  // The one document that is a list, not an object.
  if (console.json) console.out << JsonDump(list) << '\n';
  return kExitOk;
}

namespace {

// The capture's account, for the JSON document and the exit status.
struct CaptureResult {
  std::optional<std::string> overall;
  std::uint64_t bytes = 0;
  std::vector<std::string> pieces;
};

int ReportCapture(int status, const CaptureResult& result, Console& console) {
  if (console.json) {
    JsonWriter(console.out)
        .Field("overall", TextOrNull(result.overall))
        .Field("bytes", result.bytes)
        .Field("files", result.pieces)
        .Field("error", TextOrNull(console.FirstError()))
        .End();
  }
  return status;
}

// Where a recording goes when its own file cannot take it: a new file of its own in the
// system's temporary folder. Empty when that fails too.
std::string KeepRecording(const std::vector<std::uint8_t>& bytes) {
  std::error_code ec;
  const std::filesystem::path folder = std::filesystem::temp_directory_path(ec);
  if (ec) return {};
  std::random_device entropy;
  for (int attempt = 0; attempt < 10; ++attempt) {
    const std::filesystem::path path = folder / ("vezorizer-capture-" + std::to_string(entropy()) + ".SYX");
    if (std::filesystem::exists(std::filesystem::symlink_status(path, ec))) continue;
    if (!platform::WriteFileSafely(path, bytes.data(), bytes.size())) return path.string();
  }
  return {};
}

// Said, and true, when the names given could not hold the capture.
bool CaptureNamesRefused(const CaptureOptions& options, const std::string& overall, Console& console) {
  if (options.overall.empty() || (options.base && options.base->empty())) {
    console.Error(options.overall.empty() ? "-o" : "--base", "the name is empty");
    return true;
  }
  if (options.overall == kStandardStream) {
    console.Error(OutputName(options.overall), "the recording needs a file of its own; report lines go there");
    return true;
  }
  // Asked before the recording: a dump that cannot be saved is a dump made for nothing.
  return options.base && PieceFilesClash(PieceFilePaths(nullptr, mc303::PieceBaseName(*options.base)), {overall},
                                         "the overall file ", console);
}

struct Recorded {
  int status = kExitOk;  // kExitUsageOrIo: nothing recorded
  int damaged = 0;       // messages with a bad checksum or a duplicate piece
};

// Records as a capture in the window does, until the capture's end; the log closed.
Recorded Record(const CaptureOptions& options, midi::MidiPorts& ports, const std::atomic<bool>& stop,
                CliSession& session, Console& console, const CaptureHooks& hooks) {
  Recorded recorded;
  CapturePump pump(hooks.onPump, session.parse);
  EntryList inputList, outputList;
  midi::DeviceSession devices(ports, session.dialogs, pump, inputList, outputList);
  bool& quit = session.flags.QuitRequested;
  if (!devices.Open(quit)) {
    console.Error(kNoDevices);
    return {kExitUsageOrIo, 0};
  }
  const std::optional<int> slot = ChooseSlot(options.port.value_or("0"), inputList.Items(), "input", console);
  if (!slot) return {kExitUsageOrIo, 0};
  if (*slot != devices.State().SelectedInput) devices.SelectInput(*slot);

  // Armed as Start arms a capture: a fresh log, an empty store, reports on.
  session.flags.RecordingActive = true;
  session.parse.ResetPieceStore();
  session.parse.SetMessageObserver([&console, &recorded](const mc303::MessageReport& r) {
    if (r.outcome == mc303::MessageOutcome::BadChecksum || r.outcome == mc303::MessageOutcome::Duplicate) {
      ++recorded.damaged;
    }
    if (!console.json) console.out << r.reportLine << std::endl;
  });
  console.Note("Recording from input slot " + std::to_string(*slot) + " (" + inputList.Item(*slot) +
               "); start the bulk dump now. Ctrl-C ends the capture.");

  std::optional<std::chrono::milliseconds> idleTimeout;
  if (options.idleTimeoutSeconds) {
    idleTimeout = std::chrono::milliseconds(static_cast<std::int64_t>(*options.idleTimeoutSeconds * 1000.0));
  }
  CaptureEnd end(idleTimeout);
  CaptureIdleWait idle(ports.InputArrived(), end, stop, session.parse, quit);
  session::ReceiveLoop loop({session.flags, devices, pump, session.trafficBox, session.parse, idle});
  loop.Run();
  // The signal that ended the recording does not cut its saving short; a further one
  // ends a wait for a FIFO's reader (the recording is then kept elsewhere).
  platform::WaitsEndOnNextStop();
  // A device unplugged in the middle of its dump leaves a capture that looks whole.
  const bool sourceGone = !ports.InSourcePresent(devices.State().SelectedInputHandle());

  devices.Close();
  session.parse.CloseOutfile();
  session.parse.SetMessageObserver(nullptr);
  if (const std::uint64_t lost = ports.LostInputBytes(); lost > 0) {
    console.Error(std::to_string(lost) + " received bytes were lost before they could be recorded");
    recorded.status = kExitDataProblem;
  }
  if (sourceGone) {
    console.Warning(inputList.Item(*slot), "the input port went away during the capture; what arrived before it went is saved");
  }
  return recorded;
}

// Saves as Stop does: the overall file, the totals check, the piece files under --base.
int SaveCapture(const CaptureOptions& options, const std::string& overall, OutputFile& overallFile,
                CliSession& session, CaptureResult& result, Console& console) {
  const std::vector<std::uint8_t>& captured = session.memory.Bytes();
  if (!overallFile.Write(captured.data(), captured.size()) || !overallFile.Commit()) {
    const std::string kept = KeepRecording(captured);
    console.Error(kept.empty() ? "the recording is lost: it could not be kept elsewhere either"
                               : "the recording is kept in " + kept);
    return kExitUsageOrIo;
  }
  result.overall = overall;
  result.bytes = captured.size();
  if (!console.json) console.out << overall << '\n';

  // The totals check of Stop, on the bytes just written.
  if (const auto warning = session::TotalsWarning(static_cast<std::int64_t>(captured.size()), session.parse.Store())) {
    console.Warning(overall, *warning);
  }
  if (!options.base) return kExitOk;
  if (!AnyCompleteSlot(session.parse.Store())) {
    console.Error(mc303::PieceBaseName(*options.base),
                  "No user slot holds both its pattern data and its settings: no piece files written.");
    return kExitDataProblem;
  }
  PieceTally tally;
  tally.keepBytes = true;
  tally.TakeAll(session.parse.Store());
  const auto pieces = WritePieceFiles(session.parse.Store(), tally, mc303::PieceBaseName(*options.base), console);
  if (!pieces) return kExitUsageOrIo;
  result.pieces = *pieces;
  if (!console.json) {
    for (const std::string& path : *pieces) console.out << path << '\n';
  }
  return kExitOk;
}

}  // namespace

int RunCapture(const CaptureOptions& options, midi::MidiPorts& ports, const std::atomic<bool>& stop,
               Console& console, const CaptureHooks& hooks) {
  CaptureResult result;
  const std::string overall = mc303::OverallFileName(options.overall);
  if (CaptureNamesRefused(options, overall, console)) return ReportCapture(kExitUsageOrIo, result, console);
  // A FIFO without a reader holds these up until a signal; nothing is recorded then, and
  // the run ends as the signal would have ended it.
  const auto refused = [&] {
    const int signal = !stop.load() ? 0 : options.stopSignal ? options.stopSignal() : SIGINT;
    return ReportCapture(signal != 0 ? platform::ExitStatusForSignal(signal) : kExitUsageOrIo, result, console);
  };
  OutputFile overallFile(console);
  if (!overallFile.Open(overall)) return refused();
  if (options.base && !CanWritePieceFiles(mc303::PieceBaseName(*options.base), console)) return refused();

  CliSession session(KeepLog::Yes);
  const Recorded recorded = Record(options, ports, stop, session, console, hooks);
  if (recorded.status == kExitUsageOrIo) return ReportCapture(kExitUsageOrIo, result, console);
  if (session.parse.Log().RestartPending) {
    console.Error(OutputName(overall), kNothingStored);
    return ReportCapture(kExitDataProblem, result, console);
  }
  if (const int saved = SaveCapture(options, overall, overallFile, session, result, console); saved != kExitOk) {
    return ReportCapture(saved, result, console);
  }
  if (recorded.damaged > 0) {
    console.Error(overall, std::to_string(recorded.damaged) + " messages had a bad checksum or repeated a piece; "
                                                              "saved as Stop saves them, a damaged message in front "
                                                              "of the piece after it");
    return ReportCapture(kExitDataProblem, result, console);
  }
  return ReportCapture(recorded.status, result, console);
}

}  // namespace cli
