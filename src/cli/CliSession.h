// The core as the command-line front end runs it: the same parser, boxes of the same
// sizes, no window events, and an output log of its own (the window program's
// OUTFILE.SYX is never touched): kept in memory where the logged bytes are wanted,
// only counted where they are not.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "mc303/OutputLogFile.h"
#include "mc303/SharedFlags.h"
#include "mc303/SysexIntake.h"
#include "roles/Dialogs.h"
#include "roles/EventPump.h"
#include "roles/TextBox.h"

namespace cli {

inline constexpr int kPiecesMaxLength = 16384;
inline constexpr int kDevMaxLength = 1024;
inline constexpr int kTrafficMaxLength = 174;

// What the window would show in a message box is kept for the command to say in its
// own words (naming the file it concerns). No one can answer a question here, so
// questions are answered No; no file dialog can be shown.
class KeptDialogs final : public roles::Dialogs {
 public:
  roles::Answer MessageBox(std::string_view text, roles::Buttons buttons, std::string_view, roles::Icon) override {
    last = std::string(text);
    return buttons == roles::Buttons::Ok ? roles::Answer::Ok : roles::Answer::No;
  }
  std::optional<std::string> SaveFileDialog(std::string_view, std::string_view) override { return std::nullopt; }
  std::optional<std::string> OpenFileDialog(std::string_view, std::string_view) override { return std::nullopt; }
  std::string last;
};

// A log that counts (the parser does) and keeps nothing.
class CountingLogFile final : public mc303::OutputLogFile {
 public:
  void Delete() override {}
  [[nodiscard]] bool Create() override { return open_ = true; }
  [[nodiscard]] bool IsOpen() const override { return open_; }
  [[nodiscard]] std::size_t Write(const std::uint8_t*, std::size_t count) override { return open_ ? count : 0; }
  void Close() override { open_ = false; }
  std::string Location() const override { return std::string("(memory)") + mc303::kOutfileName; }

 private:
  bool open_ = false;
};

enum class KeepLog { No, Yes };

struct CliSession {
  explicit CliSession(KeepLog keep = KeepLog::No)
      : log(keep == KeepLog::Yes ? static_cast<mc303::OutputLogFile&>(memory) : counting) {}
  CliSession(const CliSession&) = delete;
  CliSession& operator=(const CliSession&) = delete;

  mc303::SharedFlags flags;
  // The window's Files box holds 8192 characters; a command line has no box, and lists
  // as many files as it is given.
  roles::TextBox filesBox{0};
  roles::TextBox piecesBox{kPiecesMaxLength};
  roles::TextBox reportBox{kDevMaxLength};
  roles::TextBox trafficBox{kTrafficMaxLength};
  roles::NoEventPump pump;
  KeptDialogs dialogs;
  mc303::MemoryLogFile memory;  // the logged bytes, with KeepLog::Yes
  CountingLogFile counting;
  mc303::OutputLogFile& log;
  mc303::SysexIntake parse{flags, piecesBox, reportBox, pump, dialogs, log};
};

}  // namespace cli
