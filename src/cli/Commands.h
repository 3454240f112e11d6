// The subcommands of vezorizer-cli that need no MIDI system. Each returns the process
// exit status: 0 success, 1 a problem found in the data, 2 bad usage or a file that
// cannot be read or written.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/Console.h"
#include "smf/StandardMidiFile.h"

namespace cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitDataProblem = 1;
inline constexpr int kExitUsageOrIo = 2;

int RunInspect(const std::vector<std::string>& files, Console& console);
int RunSplit(const std::optional<std::string>& base, const std::vector<std::string>& files, Console& console);
int RunConvert(const std::string& in, const std::string& out, const smf::SmfWriteOptions& smf, Console& console);
int RunCombine(const std::string& out, const std::vector<std::string>& files, Console& console);

struct CompareOptions {
  std::string a;
  std::string b;
};
int RunCompare(const CompareOptions& options, Console& console);

struct RenumberOptions {
  std::vector<std::string> maps;  // each FROM=TO[,FROM=TO...]
  std::optional<std::string> deviceId;
  std::string out;
  std::string file;
};
int RunRenumber(const RenumberOptions& options, Console& console);

}  // namespace cli
