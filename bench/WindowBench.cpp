// The window program's own figures, offscreen on the fake MIDI layer with the real Qt
// event pump: one Add to a list of 100 files (some hundred thousand event pumps: one per
// byte re-read, one per character of the Pieces box upkeep), with the pump processing
// at every call (interval 0, as it first did) and at most once per its default
// interval; and the process CPU of a Send of the example dump at the default buffer
// size, paced by the window's real Timer3.
//   vz_window_bench [--benchmark_filter=Add|Send]
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPushButton>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>

#include "DumpGenerator.h"
#include "app/Program.h"
#include "app/QtEventPump.h"
#include "fakes/FakeMidiPorts.h"
#include "fakes/ScriptedDialogs.h"
#include "filelist/ListText.h"
#include "mc303/SyxFiles.h"
#include "support/SplitByAddress.h"

namespace {

namespace fs = std::filesystem;

// Counts the pumps the core asks for; the Qt pump decides which of them process.
class CountedPump final : public roles::EventPump {
 public:
  explicit CountedPump(std::chrono::microseconds interval) : qt_(interval) {}
  void PumpEvents() override {
    ++calls;
    qt_.PumpEvents();
  }
  void WaitForEvents() override { qt_.WaitForEvents(); }
  std::int64_t calls = 0;

 private:
  app::QtEventPump qt_;
};

struct Window {
  explicit Window(const std::string& name, std::chrono::microseconds interval)
      : dir(fs::temp_directory_path() / name), pump(interval) {
    fs::remove_all(dir);
    fs::create_directories(dir / "prog");
    ports.AddSlot("MC-303 In", "MC-303 Out");
    program = std::make_unique<app::Program>(app::ProgramEnvironment{ports, dialogs, pump, dir / "prog"});
    started = program->StartUp();
  }
  ~Window() {
    program.reset();
    fs::remove_all(dir);
  }

  fs::path dir;
  FakeMidiPorts ports;
  ScriptedDialogs dialogs;
  CountedPump pump;
  std::unique_ptr<app::Program> program;
  bool started = false;
};

// The piece files of a generated 50-slot dump, as Stop saves them: the list of 100
// (49 complete slots, the pattern of U50 and one file of no piece) sorted as Add sorts,
// and the path whose Add completes U50.
std::pair<std::string, std::string> MakeFiles(const fs::path& dir) {
  dumpgen::DumpOptions o;
  o.minPatternBytes = 128;
  o.maxPatternBytes = 1024;
  const SlotPieces pieces = SplitByAddress(dumpgen::GenerateDump(o));
  std::string list;
  std::string last;
  for (int s = 0; s < mc303::kUserSlots; ++s) {
    for (const mc303::PieceKind kind : {mc303::PieceKind::Pattern, mc303::PieceKind::Settings}) {
      const bool pattern = kind == mc303::PieceKind::Pattern;
      const std::string path = mc303::PieceFileName((dir / "BENCH").string(), s, kind);
      (void)mc303::ReplaceFile(path, pattern ? pieces.pattern.at(s) : pieces.settings.at(s));
      if (s == mc303::kUserSlots - 1 && !pattern) {
        last = path;
      } else {
        list += path + "\r\n";
      }
    }
  }
  const std::string noPiece = (dir / "NOTES.SYX").string();
  (void)mc303::ReplaceFile(noPiece, {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7});
  list += noPiece + "\r\n";
  return {filelist::SortListText(list), last};
}

void AddOneFileToAListOf100(benchmark::State& state) {
  const std::chrono::microseconds interval(state.range(0));
  Window window("vz-bench-window-add", interval);
  if (!window.started) {
    state.SkipWithError("the program did not start");
    return;
  }
  const auto [list, added] = MakeFiles(window.dir);
  app::Program& program = *window.program;
  std::int64_t pumps = 0;
  for (auto _ : state) {
    state.PauseTiming();
    program.Boxes().filesBox.SetText(list);
    window.dialogs.paths = {added};
    window.pump.calls = 0;
    state.ResumeTiming();
    program.Window().addButton->click();
    pumps += window.pump.calls;
  }
  if (filelist::CompleteLines(program.Boxes().filesBox.Text()).size() != 101 || !window.dialogs.messages.empty()) {
    state.SkipWithError("the add was refused");
  }
  state.counters["pumps_per_add"] = static_cast<double>(pumps) / static_cast<double>(state.iterations());
}
BENCHMARK(AddOneFileToAListOf100)
    ->ArgName("pump_interval_us")
    ->Arg(0)
    ->Arg(app::QtEventPump::kDefaultInterval.count())
    ->Iterations(10)
    ->Unit(benchmark::kMillisecond);

// Wall time against process CPU time (every thread: Qt's, the fake layer's, the input
// bridge's) for one Send of the example dump and the reload that ends it.
void SendTheExampleDump(benchmark::State& state) {
  Window window("vz-bench-window-send", app::QtEventPump::kDefaultInterval);
  if (!window.started) {
    state.SkipWithError("the program did not start");
    return;
  }
  app::Program& program = *window.program;
  const std::string dump = std::string(VZ_EXAMPLES_DIR) + "/demo-dump.syx";
  double cpuSeconds = 0;
  double wallSeconds = 0;
  std::size_t blocks = 0;
  for (auto _ : state) {
    program.Boxes().filesBox.SetText(dump + "\r\n");
    const std::clock_t cpuBefore = std::clock();
    const auto wallBefore = std::chrono::steady_clock::now();
    program.Window().sendButton->click();
    wallSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
    cpuSeconds += static_cast<double>(std::clock() - cpuBefore) / CLOCKS_PER_SEC;
    blocks = window.ports.OutputMessages().size();
  }
  if (window.dialogs.messages.size() != 1) state.SkipWithError("the Send showed more than its prompt");
  state.counters["blocks"] = static_cast<double>(blocks);
  state.counters["wall_s"] = wallSeconds;
  state.counters["cpu_s"] = cpuSeconds;
  state.counters["cpu_percent_of_one_core"] = wallSeconds > 0 ? 100 * cpuSeconds / wallSeconds : 0;
}
BENCHMARK(SendTheExampleDump)->Iterations(1)->UseRealTime()->MeasureProcessCPUTime()->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication application(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
