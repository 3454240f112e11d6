// The program's one persistent setting, the transmit buffer size, and its file
// SETTINGS.DAT in the program's directory: read at most once, written on every change
// of the transmit buffer size box. Owned by the program; read by the transmit engine.
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
inline constexpr const char* kSettingsFileName = "SETTINGS.DAT";

// The value of the leading number of a text: leading blanks skipped, an optional sign,
// digits, an optional fraction; the first character that does not fit ends it; no
// number gives 0. Rounded to the nearest integer, a tie going to the even neighbour.
// Nothing when the result is outside the signed 32-bit range.
std::optional<std::int32_t> NumericReading(std::string_view text);

// The first item of a settings file's text: up to the first comma or line end, a text
// in double quotes read without its quotes. Nothing when there is no item at all.
std::optional<std::string> FirstItem(std::string_view fileText);

class Settings {
 public:
  Settings(std::filesystem::path programDirectory, roles::Dialogs& dialogs);

  std::int32_t TransmitBufferSize = kDefaultTransmitBufferSize;
  bool SettingsLoaded = false;

  // Reads SETTINGS.DAT if it can; every failure keeps the value. False when the file
  // could not be read at all (whoever names where a value came from must know).
  bool LoadSettings();
  // Runs on every change of the box's text (typed or set by the program). A text
  // beyond the 32-bit range puts 139 back into the box, which saves it in turn.
  void SaveSettings(roles::TextBox& tBufSiz);
  // The box's text for the current value: decimal, and empty for 0.
  std::string BoxText() const;

  bool FileExists() const;
  std::filesystem::path FilePath() const { return directory_ / kSettingsFileName; }

 private:
  // As messages name it: the directory, the platform's separator, SETTINGS.DAT.
  std::string Location() const;

  std::filesystem::path directory_;
  roles::Dialogs& dialogs_;
};

}  // namespace settings
