// The cost of one Add to a list of 100 files: the line put in its sorted place and
// every listed file read back through the parser, with the output log on disk as the
// window keeps it. And the sort of a full Files box, which runs between two event
// pumps.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "DumpGenerator.h"
#include "filelist/FileList.h"
#include "filelist/ListText.h"
#include "mc303/OutputLogFile.h"
#include "mc303/SysexIntake.h"
#include "mc303/SyxFiles.h"
#include "roles/EventPump.h"
#include "roles/ProgressWindow.h"

namespace {

namespace fs = std::filesystem;

class SilentDialogs final : public roles::Dialogs {
 public:
  roles::Answer MessageBox(std::string_view, roles::Buttons, std::string_view, roles::Icon) override {
    return roles::Answer::Ok;
  }
  std::optional<std::string> SaveFileDialog(std::string_view, std::string_view) override { return std::nullopt; }
  std::optional<std::string> OpenFileDialog(std::string_view, std::string_view) override { return std::nullopt; }
};

class CountingPump final : public roles::EventPump {
 public:
  void PumpEvents() override { ++calls; }
  std::int64_t calls = 0;
};

struct Core {
  mc303::SharedFlags flags;
  roles::TextBox filesBox{8192}, piecesBox{16384}, reportBox{1024};
  CountingPump pump;
  SilentDialogs dialogs;
  roles::NoProgressWindow splash;
  mc303::DiskLogFile log;
  mc303::SysexIntake parse{flags, piecesBox, reportBox, pump, dialogs, log};
  filelist::FileList list{flags, filesBox, parse, pump, dialogs, splash};
  explicit Core(const fs::path& programDir) : log(programDir) {}
};

// Writes the piece files of a generated 50-slot dump as Stop would, and returns the
// list of 100 files (49 complete slots, the pattern of U50 and one file of no piece)
// plus the 101st line that completes U50.
std::pair<std::string, std::string> MakeFiles(const fs::path& dir) {
  dumpgen::DumpOptions o;
  o.minPatternBytes = 128;
  o.maxPatternBytes = 1024;
  Core capture(dir);
  capture.flags.RecordingActive = true;
  capture.parse.ResetPieceStore();
  for (std::uint8_t b : dumpgen::GenerateDump(o)) (void)capture.parse.ParseMidiByte(b, false);
  capture.parse.CloseOutfile();

  std::string list;
  std::string last;
  const auto& store = capture.parse.Store();
  for (int s = 0; s < mc303::kUserSlots; ++s) {
    for (mc303::PieceKind kind : {mc303::PieceKind::Pattern, mc303::PieceKind::Settings}) {
      const bool pattern = kind == mc303::PieceKind::Pattern;
      const std::string path = mc303::PieceFileName((dir / "BENCH").string(), s, kind);
      (void)mc303::ReplaceFile(path, pattern ? store.PatternData[s] : store.SettingsData[s]);
      if (s == mc303::kUserSlots - 1 && !pattern) last = path + "\r\n";
      else list += path + "\r\n";
    }
  }
  const std::string noPiece = (dir / "NOTES.SYX").string();
  (void)mc303::ReplaceFile(noPiece, {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7});
  list += noPiece + "\r\n";
  return {filelist::SortListText(list), last};
}

void AddOneFileToAListOf100(benchmark::State& state) {
  const fs::path dir = fs::temp_directory_path() / "vz-bench-filelist";
  fs::remove_all(dir);
  fs::create_directories(dir);
  const auto [list, added] = MakeFiles(dir);
  Core core(dir);
  std::int64_t pumps = 0;
  for (auto _ : state) {
    state.PauseTiming();
    core.filesBox.SetText(list);
    core.pump.calls = 0;
    state.ResumeTiming();
    const bool listed = core.list.HasRoomFor(added);
    core.list.AddFileLine(added);
    const bool loaded = core.list.ReloadFileList();
    if (!listed || !loaded) state.SkipWithError("the add was refused");
    pumps += core.pump.calls;
  }
  state.counters["files"] = static_cast<double>(filelist::CompleteLines(core.filesBox.Text()).size());
  state.counters["logged_bytes"] = core.parse.Log().ByteCount;
  state.counters["pumps_per_add"] = static_cast<double>(pumps) / static_cast<double>(state.iterations());
  fs::remove_all(dir);
}
BENCHMARK(AddOneFileToAListOf100)->Unit(benchmark::kMillisecond);

// A full box: 8192 characters of 80-character lines in reverse order.
void SortAFullFilesBox(benchmark::State& state) {
  std::string text;
  for (int n = 99; text.size() + 80 <= 8192; n = (n + 98) % 100) {
    std::string name = "/home/user/dumps/" + std::string(50, 'x') + "_U" + std::to_string(10 + n % 90) + "P.SYX";
    text += name.substr(0, 78) + "\r\n";
  }
  for (auto _ : state) benchmark::DoNotOptimize(filelist::SortListText(text));
  state.counters["characters"] = static_cast<double>(text.size());
}
BENCHMARK(SortAFullFilesBox)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
