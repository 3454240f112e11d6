// Throughput of the core over a large, realistic stream: several generated bulk dumps
// back to back (so later ones are duplicates), active sensing, timing clock, stray
// bytes and damaged messages.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "DumpGenerator.h"
#include "cli/Commands.h"
#include "mc303/OutputLogFile.h"
#include "mc303/SysexIntake.h"
#include "roles/EventPump.h"

namespace {

class SilentDialogs final : public roles::Dialogs {
 public:
  roles::Answer MessageBox(std::string_view, roles::Buttons, std::string_view, roles::Icon) override {
    return roles::Answer::Ok;
  }
  std::optional<std::string> SaveFileDialog(std::string_view, std::string_view) override { return std::nullopt; }
  std::optional<std::string> OpenFileDialog(std::string_view, std::string_view) override { return std::nullopt; }
};

const std::vector<std::uint8_t>& Stream() {
  static const std::vector<std::uint8_t> stream = [] {
    std::vector<std::uint8_t> out;
    std::mt19937 rng(42);
    for (std::uint32_t seed = 1; out.size() < (4u << 20); ++seed) {
      dumpgen::DumpOptions o;
      o.seed = seed;
      o.maxPatternBytes = 4000;
      std::vector<std::uint8_t> dump = dumpgen::GenerateDump(o);
      // Damage: flip a checksum now and then, drop in stray bytes and clock ticks.
      for (std::size_t i = 0; i + 1 < dump.size(); ++i) {
        if (dump[i + 1] == 0xF7 && rng() % 50 == 0) dump[i] ^= 0x01;
      }
      for (std::size_t i = 0; i < dump.size(); i += 500 + rng() % 500) dump.insert(dump.begin() + long(i), 0xF8);
      out.insert(out.end(), dump.begin(), dump.end());
      out.insert(out.end(), {0x01, 0x02, 0x03});
    }
    return out;
  }();
  return stream;
}

void ParseMidiByteWithIdentification(benchmark::State& state) {
  const auto& stream = Stream();
  for (auto _ : state) {
    mc303::SharedFlags flags;
    roles::TextBox piecesBox{16384}, reportBox{1024};
    roles::NoEventPump pump;
    SilentDialogs dialogs;
    mc303::MemoryLogFile log;
    mc303::SysexIntake parse(flags, piecesBox, reportBox, pump, dialogs, log);
    flags.RecordingActive = true;
    parse.ResetPieceStore();
    const bool report = state.range(0) != 0;
    int refused = 0;
    for (std::uint8_t b : stream) refused += parse.ParseMidiByte(b, report) ? 0 : 1;
    parse.CloseOutfile();
    benchmark::DoNotOptimize(refused);
    benchmark::DoNotOptimize(parse.Log().ByteCount);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
}
BENCHMARK(ParseMidiByteWithIdentification)->Arg(0)->Arg(1)->ArgNames({"reports"})->Unit(benchmark::kMillisecond);

// The same with the log on disk: batching keeps the writes off the per-byte path.
void ParseMidiByteLoggingToDisk(benchmark::State& state) {
  const auto& stream = Stream();
  const auto dir = std::filesystem::temp_directory_path() / "vz-bench-log";
  std::filesystem::create_directories(dir);
  for (auto _ : state) {
    mc303::SharedFlags flags;
    roles::TextBox piecesBox{16384}, reportBox{1024};
    roles::NoEventPump pump;
    SilentDialogs dialogs;
    mc303::DiskLogFile log(dir);
    mc303::SysexIntake parse(flags, piecesBox, reportBox, pump, dialogs, log);
    flags.RecordingActive = true;
    parse.ResetPieceStore();
    int refused = 0;
    for (std::uint8_t b : stream) refused += parse.ParseMidiByte(b, true) ? 0 : 1;
    parse.CloseOutfile();
    benchmark::DoNotOptimize(refused);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
  std::filesystem::remove_all(dir);
}
BENCHMARK(ParseMidiByteLoggingToDisk)->Unit(benchmark::kMillisecond);

void InspectWholeRun(benchmark::State& state) {
  const auto& stream = Stream();
  const auto path = std::filesystem::temp_directory_path() / "vz-bench-inspect.syx";
  {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(stream.data()), static_cast<std::streamsize>(stream.size()));
  }
  for (auto _ : state) {
    std::ostringstream sink;
    cli::Console console(sink, sink);
    console.json = state.range(0) != 0;
    benchmark::DoNotOptimize(cli::RunInspect({path.string()}, console));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
  std::filesystem::remove(path);
}
BENCHMARK(InspectWholeRun)->Arg(0)->Arg(1)->ArgNames({"json"})->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
