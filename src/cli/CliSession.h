// The core as the command-line front end runs it: the same parser, boxes of the same
// sizes, no window events, messages to stderr, and an output log of its own in memory
// (the window program's OUTFILE.SYX is never touched).
#pragma once

#include <iostream>
#include <optional>
#include <string>
#include <string_view>

#include "mc303/OutputLogFile.h"
#include "mc303/SharedFlags.h"
#include "mc303/SysexParser.h"
#include "ui/Dialogs.h"
#include "ui/EventPump.h"
#include "ui/TextBox.h"

namespace cli {

inline constexpr int kFilesMaxLength = 8192;
inline constexpr int kPiecesMaxLength = 16384;
inline constexpr int kDevMaxLength = 1024;
inline constexpr int kTrafficMaxLength = 174;

// What the window would show in a message box goes to stderr. No one can answer a
// question here, so questions are answered No; no file dialog can be shown.
class StderrDialogs final : public ui::Dialogs {
 public:
  ui::Answer MessageBox(std::string_view text, ui::Buttons buttons, std::string_view title, ui::Icon) override {
    std::cerr << (title.empty() ? std::string_view("vezorizer-cli") : title) << ": " << text << '\n';
    return buttons == ui::Buttons::Ok ? ui::Answer::Ok : ui::Answer::No;
  }
  std::optional<std::string> SaveFileDialog(std::string_view, std::string_view) override { return std::nullopt; }
  std::optional<std::string> OpenFileDialog(std::string_view, std::string_view) override { return std::nullopt; }
};

struct CliSession {
  mc303::SharedFlags flags;
  ui::TextBox tFiles{kFilesMaxLength};
  ui::TextBox tPieces{kPiecesMaxLength};
  ui::TextBox tDev{kDevMaxLength};
  ui::TextBox tTraffic{kTrafficMaxLength};
  ui::NoEventPump pump;
  StderrDialogs dialogs;
  mc303::MemoryLogFile log;
  mc303::MC303Parse parse{flags, tPieces, tDev, pump, dialogs, log};
};

}  // namespace cli
