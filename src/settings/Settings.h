// The program's persistent settings, the transmit buffer size and the pause after each
// paced block, and their file SETTINGS.DAT in the program's directory: read at most
// once, written on every change of the Speed window's boxes. Owned by the program;
// read by the transmit engine.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "roles/Dialogs.h"
#include "roles/TextBox.h"

namespace settings {

inline constexpr std::int32_t kDefaultTransmitBufferSize = 139;
// The silence on the line after each paced block, in milliseconds.
inline constexpr std::int32_t kDefaultPauseMs = 200;
inline constexpr std::int32_t kMaxPauseMs = 5000;
inline constexpr const char* kSettingsFileName = "SETTINGS.DAT";

// The value of the leading number of a text: leading blanks skipped, an optional sign,
// digits, an optional fraction; the first character that does not fit ends it; no
// number gives 0. Rounded to the nearest integer, a tie going to the even neighbour.
// Nothing when the result is outside the signed 32-bit range.
std::optional<std::int32_t> NumericReading(std::string_view text);

// The first item of a settings file's text: up to the first comma or line end, a text
// in double quotes read without its quotes. Nothing when there is no item at all.
std::optional<std::string> FirstItem(std::string_view fileText);
// The second item, after the first one's comma, read the same way. Nothing when the
// first item is not followed by a comma.
std::optional<std::string> SecondItem(std::string_view fileText);
// A pause as the file or the box holds it: a whole number of milliseconds, 0 to 5000,
// blanks around it allowed. Nothing for anything else.
std::optional<std::int32_t> PauseReading(std::string_view text);

class Settings {
 public:
  Settings(std::filesystem::path programDirectory, roles::Dialogs& dialogs);

  std::int32_t TransmitBufferSize = kDefaultTransmitBufferSize;
  std::int32_t PauseMs = kDefaultPauseMs;
  bool SettingsLoaded = false;

  // Reads SETTINGS.DAT if it can; every failure keeps the value, and a second item
  // that is no pause keeps the pause. False when the file could not be read at all
  // (whoever names where a value came from must know).
  bool LoadSettings();
  // Runs on every change of the size box's text (typed or set by the program). A text
  // beyond the 32-bit range puts 139 back into the box, which saves it in turn.
  void SaveSettings(roles::TextBox& sizeBox);
  // Runs on every change of the pause box's text: a text that is no pause from 0 to
  // 5000 puts 200 back into the box, which saves it in turn; an empty box is 0.
  void SavePause(roles::TextBox& tPause);
  // The box's text for the current value: decimal, and empty for 0.
  std::string BoxText() const;
  std::string PauseBoxText() const { return std::to_string(PauseMs); }

  bool FileExists() const;
  std::filesystem::path FilePath() const { return directory_ / kSettingsFileName; }

 private:
  // As messages name it: the directory, the platform's separator, SETTINGS.DAT.
  std::string Location() const;
  // Writes both values: the size first, where every reader looks for it, and the
  // pause after a comma only when it is not the default, so that a user who never
  // touches it keeps the file the program always wrote.
  void WriteFile();

  std::filesystem::path directory_;
  roles::Dialogs& dialogs_;
};

}  // namespace settings
