// The cost of Stop after a full bulk dump: the overall copy of the output log, the
// totals check, and 100 piece files written and each listed in its sorted place. The
// dialogs answer at once, so the figure is the program's own share of the wait.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "DumpGenerator.h"
#include "filelist/FileList.h"
#include "mc303/OutputLogFile.h"
#include "mc303/SysexIntake.h"
#include "roles/EventPump.h"
#include "roles/ProgressWindow.h"
#include "session/CaptureControl.h"

namespace {

namespace fs = std::filesystem;

// Every save dialog names a file in the bench folder; every message box is counted,
// since a clean dump must not raise one.
class AnsweringDialogs final : public roles::Dialogs {
 public:
  explicit AnsweringDialogs(fs::path dir) : dir_(std::move(dir)) {}
  roles::Answer MessageBox(std::string_view, roles::Buttons, std::string_view, roles::Icon) override {
    ++messages;
    return roles::Answer::Ok;
  }
  std::optional<std::string> SaveFileDialog(std::string_view, std::string_view) override {
    return (dir_ / "BENCH").string();
  }
  std::optional<std::string> OpenFileDialog(std::string_view, std::string_view) override { return std::nullopt; }
  int messages = 0;

 private:
  fs::path dir_;
};

void StopAfterAFullDump(benchmark::State& state) {
  const fs::path dir = fs::temp_directory_path() / "vz-bench-capture";
  fs::remove_all(dir);
  fs::create_directories(dir);
  dumpgen::DumpOptions o;
  o.minPatternBytes = 128;
  o.maxPatternBytes = 2432;
  const std::vector<std::uint8_t> dump = dumpgen::GenerateDump(o);

  mc303::SharedFlags flags;
  roles::TextBox filesBox{8192}, piecesBox{16384}, reportBox{1024}, trafficBox{174};
  roles::NoEventPump pump;
  AnsweringDialogs dialogs(dir);
  roles::NoProgressWindow splash;
  mc303::DiskLogFile log(dir);
  session::DiskLogSource source(log);
  mc303::SysexIntake parse(flags, piecesBox, reportBox, pump, dialogs, log);
  filelist::FileList list(flags, filesBox, parse, pump, dialogs, splash);
  session::MainWindowState window;
  session::CaptureControl control(flags, parse, list, filesBox, piecesBox, reportBox, trafficBox, dialogs, source, window);

  for (auto _ : state) {
    state.PauseTiming();
    control.StartClicked();
    for (std::uint8_t b : dump) (void)parse.ParseMidiByte(b, true);
    dialogs.messages = 0;
    state.ResumeTiming();
    control.StopClicked();
    if (dialogs.messages != 0) state.SkipWithError("Stop raised a message on a clean dump");
  }
  state.counters["logged_bytes"] = parse.Log().ByteCount;
  state.counters["listed_files"] = static_cast<double>(std::count(filesBox.Text().begin(), filesBox.Text().end(), '\n'));
  fs::remove_all(dir);
}
BENCHMARK(StopAfterAFullDump)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
