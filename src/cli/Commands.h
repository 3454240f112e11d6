// The subcommands of vezorizer-cli. Each returns the process exit status: 0 success,
// 1 a problem found in the data, 2 bad usage or a file that cannot be read or written.
#pragma once

#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitDataProblem = 1;
inline constexpr int kExitUsageOrIo = 2;

int RunInspect(bool json, const std::vector<std::string>& files, std::ostream& out = std::cout);
int RunSplit(const std::optional<std::string>& base, const std::vector<std::string>& files);
int RunConvert(const std::string& in, const std::string& out, int intervalMs, bool keepStray);
int RunCombine(const std::string& out, const std::vector<std::string>& files, std::ostream& results = std::cout);

}  // namespace cli
