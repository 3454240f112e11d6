// Reading the SysEx out of a MIDI file of many short tracks (some writers give every
// message a track of its own): putting them in time order over all tracks must stay
// n log n in the number of tracks.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>

#include "smf/StandardMidiFile.h"

namespace {

// Byte by byte: g++ 12 at -O2 takes an insert of a list into a short vector for an
// out-of-bounds copy.
void Append(smf::ByteString& out, std::initializer_list<std::uint8_t> bytes) {
  for (const std::uint8_t b : bytes) out.push_back(b);
}

// Format 1, one track per message, each at a random tick below 2^21 (three-byte delta).
smf::ByteString ManyTracks(std::size_t tracks) {
  smf::ByteString file = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1};
  // The header's count has 16 bits; a reader takes every track that follows.
  const auto declared = static_cast<std::uint16_t>(std::min<std::size_t>(tracks, 0xFFFF));
  Append(file, {static_cast<std::uint8_t>(declared >> 8), static_cast<std::uint8_t>(declared), 0x01, 0xE0});
  std::mt19937 rng(303);
  for (std::size_t t = 0; t < tracks; ++t) {
    const std::uint32_t tick = rng() & 0x1FFFFF;
    Append(file, {'M', 'T', 'r', 'k', 0, 0, 0, 14});
    Append(file, {static_cast<std::uint8_t>(0x80 | (tick >> 14)),
                  static_cast<std::uint8_t>(0x80 | ((tick >> 7) & 0x7F)), static_cast<std::uint8_t>(tick & 0x7F)});
    Append(file, {0xF0, 0x05, 0x41, 0x10, 0x00, static_cast<std::uint8_t>(t & 0x7F), 0xF7, 0x00, 0xFF, 0x2F, 0x00});
  }
  return file;
}

void ReadManyTracks(benchmark::State& state) {
  const smf::ByteString file = ManyTracks(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    const smf::SmfReadResult r = smf::ReadSysexFromSmf(file);
    if (r.error) state.SkipWithError(r.error->reason.c_str());
    benchmark::DoNotOptimize(r.sysex.bytes.data());
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK(ReadManyTracks)
    ->ArgName("tracks")
    ->Arg(25000)
    ->Arg(50000)
    ->Arg(100000)
    ->Arg(200000)
    ->Complexity(benchmark::oNLogN)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
