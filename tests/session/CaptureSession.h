// A capture session as a user runs it, free of Qt: the output log in the program's
// directory, the files the user names in a fresh folder of the test's own.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

#include "filelist/FileList.h"
#include "session/CaptureControl.h"
#include "support/ParserRig.h"
#include "support/RunCli.h"

using Strings = std::vector<std::string>;

inline std::string TotalsWarning(std::size_t recorded, std::size_t pieces) {
  return "WARNING: Total data recorded does not match all pieces data added up!   Total data recorded is " +
         std::to_string(recorded) + " bytes.  Pieces added up is " + std::to_string(pieces) + " bytes.";
}

class CaptureSession {
 public:
  // Where the program's directory is, given the test's folder: its "prog" by default.
  using ProgramDirectory = std::function<std::filesystem::path(const std::filesystem::path& dir)>;

  explicit CaptureSession(const ProgramDirectory& where = {}) : programDir(Made(where ? where(dir) : dir / "prog")) {}
  ~CaptureSession() { std::filesystem::remove_all(dir); }

  std::string At(const std::string& name) const { return (dir / name).string(); }
  // A file's bytes; a relative path is taken in the test's folder.
  Bytes Read(const std::filesystem::path& path) const {
    Bytes bytes;
    EXPECT_FALSE(mc303::ReadWholeFile(path.is_absolute() ? path : dir / path, bytes).has_value()) << path;
    return bytes;
  }
  // Bytes arriving as the receive loop feeds them.
  void Receive(const Bytes& bytes) {
    for (std::uint8_t b : bytes) (void)parse.ParseMidiByte(b, true);
  }
  // Start, the dump received, Stop with the overall file named DUMP and every slot's
  // pieces named P.
  void Capture(const Bytes& dump, const std::function<void()>& beforeStop = {}) {
    control.StartClicked();
    Receive(dump);
    if (beforeStop) beforeStop();
    dialogs.paths = {At("DUMP")};
    for (int i = 0; i < 50; ++i) dialogs.paths.push_back(At("P"));
    control.StopClicked();
  }
  // The messages shown, less the Start instructions.
  Strings Shown() const {
    Strings t;
    for (const std::string& m : dialogs.Texts()) {
      if (m.rfind("After you have verified", 0) != 0) t.push_back(m);
    }
    return t;
  }

  const std::filesystem::path dir = FreshDir(testing::UnitTest::GetInstance()->current_test_info()->name());
  const std::filesystem::path programDir;
  mc303::SharedFlags flags;
  roles::TextBox filesBox{8192}, piecesBox{16384}, reportBox{1024}, trafficBox{174};
  CountingPump pump;
  ScriptedDialogs dialogs;
  roles::NoProgressWindow splash;
  session::MainWindowState window;
  mc303::DiskLogFile log{programDir};
  session::DiskLogSource source{log};
  mc303::SysexIntake parse{flags, piecesBox, reportBox, pump, dialogs, log};
  filelist::FileList list{flags, filesBox, parse, pump, dialogs, splash};
  session::CaptureControl control{flags, parse, list, filesBox, piecesBox, reportBox, trafficBox, dialogs, source, window};

 private:
  // Made when it can be: a directory that cannot be made is one of the faults tried.
  static std::filesystem::path Made(const std::filesystem::path& path) {
    std::error_code ignored;
    std::filesystem::create_directories(path, ignored);
    return path;
  }
};
