// Runs vezorizer-cli as a user would and collects its exit status and output; the
// folders and files the tests run it on.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

struct CliRun {
  int status = -1;
  std::string out;
  std::string err;
};

inline std::string ShellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

inline std::string Slurp(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs a shell script in workDir with $CLI naming vezorizer-cli.
inline CliRun RunShell(const std::string& script, const std::filesystem::path& workDir) {
  const auto outPath = workDir / ".cli-out", errPath = workDir / ".cli-err";
  // Appended piece by piece: g++ 12 at -O2 reports a literal + a temporary string as
  // an overlapping copy.
  std::string cmd = "cd ";
  cmd += ShellQuote(workDir.string());
  cmd += " && CLI=";
  cmd += ShellQuote(VZ_CLI_PATH);
  cmd += " && export CLI && { ";
  cmd += script;
  (cmd += "\n} >") += ShellQuote(outPath.string());
  (cmd += " 2>") += ShellQuote(errPath.string());
  const int raw = std::system(cmd.c_str());
  CliRun r{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Slurp(outPath), Slurp(errPath)};
  std::filesystem::remove(outPath);
  std::filesystem::remove(errPath);
  return r;
}

inline CliRun RunCli(const std::vector<std::string>& args, const std::filesystem::path& workDir) {
  std::string script = "$CLI";
  for (const auto& a : args) (script += ' ') += ShellQuote(a);
  return RunShell(script, workDir);
}

// A fresh, empty folder under the system's temporary directory for one test.
// Parameterised test names hold a slash, which must not make a nested folder.
inline std::filesystem::path FreshDir(std::string name) {
  std::replace(name.begin(), name.end(), '/', '-');
  const auto dir = std::filesystem::temp_directory_path() / ("vz-" + name + "-" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

inline void WriteBytes(const std::filesystem::path& p, const std::vector<std::uint8_t>& bytes) {
  std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                           static_cast<std::streamsize>(bytes.size()));
}
