// gen-dump: writes a generated MC-303 bulk dump to a file (or stdout with "-").
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "DumpGenerator.h"

int main(int argc, char** argv) {
  dumpgen::DumpOptions o;
  std::string out;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto next = [&](const char* name) -> long {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "gen-dump: %s needs a value\n", name);
        std::exit(2);
      }
      return std::strtol(argv[++i], nullptr, 0);
    };
    if (a == "--seed") o.seed = static_cast<std::uint32_t>(next("--seed"));
    else if (a == "--slots") o.slotCount = static_cast<int>(next("--slots"));
    else if (a == "--first-slot") o.firstSlot = static_cast<int>(next("--first-slot"));
    else if (a == "--min-pattern") o.minPatternBytes = static_cast<int>(next("--min-pattern"));
    else if (a == "--max-pattern") o.maxPatternBytes = static_cast<int>(next("--max-pattern"));
    else if (a == "--settings") o.settingsBytes = static_cast<int>(next("--settings"));
    else if (a == "--sensing-every") o.activeSensingEveryBytes = static_cast<int>(next("--sensing-every"));
    else if (a == "--help") {
      std::puts("usage: gen-dump [--seed N] [--slots N] [--first-slot N] [--min-pattern N] [--max-pattern N]\n"
                "                [--settings N] [--sensing-every N] OUT.syx|-");
      return 0;
    } else out = a;
  }
  if (out.empty()) {
    std::fputs("gen-dump: name an output file, or - for stdout\n", stderr);
    return 2;
  }
  const auto bytes = dumpgen::GenerateDump(o);
  std::FILE* f = out == "-" ? stdout : std::fopen(out.c_str(), "wb");
  if (f == nullptr) {
    std::fprintf(stderr, "gen-dump: cannot write %s\n", out.c_str());
    return 2;
  }
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (f != stdout) std::fclose(f);
  return ok ? 0 : 2;
}
