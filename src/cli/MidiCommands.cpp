#include "cli/MidiCommands.h"

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <nlohmann/json.hpp>
#include <thread>
#include <vector>

#include "app/ReceiveLoop.h"
#include "cli/CliSession.h"
#include "cli/Commands.h"
#include "cli/SavePieces.h"
#include "mc303/SyxFiles.h"
#include "midi/InputBufferPool.h"
#include "midi/InputRings.h"
#include "midi/MidiDevices.h"

namespace cli {
namespace {

constexpr const char* kNoDevices = "No MIDI devices currently connected.";
constexpr const char* kNothingStored = "No data has been stored in the buffer yet.";

// A device list with nothing behind it but its entries.
class EntryList final : public midi::DeviceList {
 public:
  void Clear() override { items_.clear(); }
  void AddItem(const std::string& name) override { items_.push_back(name); }
  int ListCount() const override { return static_cast<int>(items_.size()); }
  std::string Item(int position) const override {
    return position >= 0 && position < ListCount() ? items_[static_cast<std::size_t>(position)] : std::string();
  }
  int ListIndex() const override { return index_; }
  void SetListIndex(int position) override { index_ = position; }
  void SetText(const std::string&) override {}

 private:
  std::vector<std::string> items_;
  int index_ = -1;
};

// The ports opened and listed as the window's start-up does it.
struct OpenDevices {
  midi::InputRings rings;
  midi::DeviceState devices;
  EntryList cInp;
  EntryList cOut;
};

void OpenAndList(midi::MidiPorts& ports, OpenDevices& d, midi::DeviceSelection& selection, ui::EventPump& pump,
                 bool& quitRequested) {
  midi::ProbeDevices(ports, d.devices, &midi::MidiInCallback, midi::CallbackInstance(d.rings), pump);
  if (d.devices.DeviceSlotCount > 0) midi::FillDeviceLists(ports, d.devices, selection, d.cInp, d.cOut, quitRequested);
}

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

// A slot number, or the first input entry whose name holds the text, case aside.
std::optional<int> FindInputSlot(const std::string& wanted, const EntryList& cInp) {
  if (!wanted.empty() && std::all_of(wanted.begin(), wanted.end(), [](unsigned char c) { return std::isdigit(c); })) {
    const long slot = std::strtol(wanted.c_str(), nullptr, 10);
    if (slot < cInp.ListCount()) return static_cast<int>(slot);
    return std::nullopt;
  }
  const std::string needle = Lower(wanted);
  for (int i = 0; i < cInp.ListCount(); ++i) {
    if (Lower(cInp.Item(i)).find(needle) != std::string::npos) return i;
  }
  return std::nullopt;
}

// The capture command's event pump: no windows, only the test hook.
class CapturePump final : public ui::EventPump {
 public:
  CapturePump(const std::function<void(std::uint64_t)>& hook, const mc303::MC303Parse& parse)
      : hook_(hook), parse_(parse) {}
  void PumpEvents() override {
    if (hook_) hook_(parse_.BytesFed());
  }

 private:
  const std::function<void(std::uint64_t)>& hook_;
  const mc303::MC303Parse& parse_;
};

// Sleeps on the rings; when it wakes with nothing to do, looks whether the capture has
// come to its end.
class CaptureIdleWait final : public app::IdleWait {
 public:
  CaptureIdleWait(midi::InputRings& rings, CaptureEnd& end, const std::atomic<bool>& stop, mc303::MC303Parse& parse,
                  bool& quitRequested)
      : rings_(rings), end_(end), stop_(stop), parse_(parse), quitRequested_(quitRequested) {}
  void WaitForInput() override {
    // Short enough that a stop or the idle timeout is seen promptly, long enough that an
    // idle capture costs next to nothing.
    rings_.wake.WaitFor(std::chrono::milliseconds(100));
    if (!rings_.Empty()) return;
    if (end_.Reached(parse_.BytesFed(), std::chrono::steady_clock::now(), stop_.load())) quitRequested_ = true;
  }

 private:
  midi::InputRings& rings_;
  CaptureEnd& end_;
  const std::atomic<bool>& stop_;
  mc303::MC303Parse& parse_;
  bool& quitRequested_;
};

std::int64_t PiecesTotal(const mc303::PieceStore& store) {
  std::int64_t total = 0;
  for (int s = 0; s < mc303::kUserSlots; ++s) {
    const auto i = static_cast<std::size_t>(s);
    if (store.PatternPresent[i]) total += static_cast<std::int64_t>(store.PatternData[i].size());
    if (store.SettingsPresent[i]) total += static_cast<std::int64_t>(store.SettingsData[i].size());
  }
  return total;
}

}  // namespace

bool CaptureEnd::Reached(std::uint64_t bytesReceived, std::chrono::steady_clock::time_point now, bool stopSignalled) {
  if (stopSignalled) return true;
  if (bytesReceived != lastCount_) {
    lastCount_ = bytesReceived;
    lastByteTime_ = now;
    return false;
  }
  return idleTimeout_ && bytesReceived > 0 && now - lastByteTime_ >= *idleTimeout_;
}

int RunPorts(bool json, midi::MidiPorts& ports, std::ostream& out, std::ostream& err) {
  ui::NoEventPump pump;
  StderrDialogs dialogs;
  midi::HeapBlockAllocator allocator;
  midi::InputBufferPool pool(ports, allocator, dialogs, pump);  // never allocated: listing queues nothing
  OpenDevices d;
  midi::DeviceSelection selection(ports, d.devices, pool, dialogs, d.cInp, d.cOut);
  bool quitRequested = false;
  OpenAndList(ports, d, selection, pump, quitRequested);
  if (d.devices.DeviceSlotCount == 0) err << kNoDevices << '\n';

  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (int s = 0; s < d.devices.DeviceSlotCount; ++s) {
    const bool hasIn = s < d.cInp.ListCount();
    const bool hasOut = s < d.cOut.ListCount();
    if (json) {
      nlohmann::ordered_json slot;
      slot["slot"] = s;
      slot["input"] = hasIn ? nlohmann::ordered_json(d.cInp.Item(s)) : nlohmann::ordered_json(nullptr);
      slot["output"] = hasOut ? nlohmann::ordered_json(d.cOut.Item(s)) : nlohmann::ordered_json(nullptr);
      list.push_back(slot);
    } else {
      out << s << "  in: " << (hasIn ? d.cInp.Item(s) : "-") << "  out: " << (hasOut ? d.cOut.Item(s) : "-") << '\n';
    }
  }
  if (json) out << list.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
  midi::ShutDownPorts(ports, d.devices);
  return kExitOk;
}

int RunCapture(const CaptureOptions& options, midi::MidiPorts& ports, const std::atomic<bool>& stop,
               const CaptureHooks& hooks, std::ostream& out, std::ostream& err) {
  CliSession session;
  CapturePump pump(hooks.onPump, session.parse);
  midi::HeapBlockAllocator allocator;
  OpenDevices d;
  // Declared after the devices: destroyed first, though the ports are closed before.
  midi::InputBufferPool pool(ports, allocator, session.dialogs, pump);
  midi::DeviceSelection selection(ports, d.devices, pool, session.dialogs, d.cInp, d.cOut);
  bool& quit = session.flags.QuitRequested;

  OpenAndList(ports, d, selection, pump, quit);
  if (d.devices.DeviceSlotCount == 0) {
    err << kNoDevices << '\n';
    return kExitUsageOrIo;
  }
  const std::optional<int> slot = FindInputSlot(options.port.value_or("0"), d.cInp);
  if (!slot) {
    err << "No input port matches '" << options.port.value_or("0") << "'; see vezorizer-cli ports.\n";
    midi::ShutDownPorts(ports, d.devices);
    return kExitUsageOrIo;
  }
  if (*slot != d.devices.SelectedInput) selection.SelectInput(*slot);
  if (!pool.AllocatePool(quit)) {
    midi::ShutDownPorts(ports, d.devices);
    return kExitUsageOrIo;
  }

  // Armed as Start arms a capture: a fresh log, an empty store, reports on.
  session.flags.RecordingActive = true;
  session.parse.ResetPieceStore();
  session.parse.SetMessageObserver([&out](const mc303::MessageReport& r) { out << r.reportLine << std::endl; });
  pool.QueuePool(d.devices.SelectedInputHandle());
  ports.InStart(d.devices.SelectedInputHandle());
  err << "Recording from input slot " << *slot << " (" << d.cInp.Item(*slot)
      << "); start the bulk dump now. Ctrl-C ends the capture.\n";

  std::optional<std::chrono::milliseconds> idleTimeout;
  if (options.idleTimeoutSeconds) {
    idleTimeout = std::chrono::milliseconds(static_cast<std::int64_t>(*options.idleTimeoutSeconds * 1000.0));
  }
  CaptureEnd end(idleTimeout);
  CaptureIdleWait idle(d.rings, end, stop, session.parse, quit);
  app::ReceiveLoop loop({session.flags, d.rings, pool, d.devices, pump, session.tTraffic, session.parse,
                         session.dialogs, idle});
  loop.Run();
  // A device unplugged in the middle of its dump leaves a capture that looks whole.
  const bool sourceGone = !ports.InSourcePresent(d.devices.SelectedInputHandle());

  midi::ShutDownPorts(ports, d.devices);
  pool.ReleasePool();
  session.parse.CloseOutfile();

  int status = kExitOk;
  if (const std::uint64_t lost = ports.LostInputBytes(); lost > 0) {
    err << "warning: " << lost << " received bytes were lost before they could be recorded\n";
    status = kExitDataProblem;
  }
  if (sourceGone) {
    err << "warning: the input port " << d.cInp.Item(*slot)
        << " went away during the capture; what arrived before it went is saved\n";
  }
  if (const std::uint64_t dropped = d.rings.ShortEventsDropped(); dropped > 0) {
    err << "warning: " << dropped << " short MIDI events were not shown (too many at once)\n";
  }
  if (session.parse.Log().RestartPending) {
    err << kNothingStored << '\n';
    return kExitDataProblem;
  }

  const std::string overall = mc303::OverallFileName(options.overall);
  const std::vector<std::uint8_t>& captured = session.log.Bytes();
  if (auto error = mc303::ReplaceFile(overall, captured)) {
    err << overall << ": cannot write: " << *error << '\n';
    return kExitUsageOrIo;
  }
  out << overall << '\n';

  // The totals check of Stop, on the bytes just written.
  const std::int64_t n = static_cast<std::int64_t>(captured.size());
  const std::int64_t t = PiecesTotal(session.parse.Store());
  if (n < t - 1 || n > t + 1) {
    err << "WARNING: Total data recorded does not match all pieces data added up!   Total data recorded is " << n
        << " bytes.  Pieces added up is " << t << " bytes.\n";
  }

  if (options.base) {
    if (!AnyCompleteSlot(session.parse.Store())) {
      err << "No user slot holds both its pattern data and its settings: no piece files written.\n";
      return kExitDataProblem;
    }
    const int written = WritePieceFiles(session.parse.Store(), mc303::PieceBaseName(*options.base), out, err);
    if (written != kExitOk) return written;
  }
  return status;
}

struct StopSignals::Impl {
  sigset_t set{};
  sigset_t previous{};
  std::atomic<bool> done{false};
  std::thread watcher;
};

StopSignals::StopSignals() : impl_(new Impl) {
  sigemptyset(&impl_->set);
  sigaddset(&impl_->set, SIGINT);
  sigaddset(&impl_->set, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &impl_->set, &impl_->previous);
  impl_->watcher = std::thread([this] {
    const timespec tick{0, 200 * 1000 * 1000};
    while (!impl_->done.load()) {
      if (sigtimedwait(&impl_->set, nullptr, &tick) > 0) stop_.store(true);
    }
  });
}

StopSignals::~StopSignals() {
  impl_->done.store(true);
  impl_->watcher.join();
  pthread_sigmask(SIG_SETMASK, &impl_->previous, nullptr);
  delete impl_;
}

}  // namespace cli
