// The main window's own fields that the capture handlers and the window's 500 ms blink
// timer share. One instance, owned by the window and read by its Timer1 tick.
#pragma once

#include <string_view>

namespace session {

// Shown in the report box whenever no capture is active; the line breaks are CR LF.
inline constexpr std::string_view kStartPrompt = "PRESS START\r\nBEFORE DOING\r\nBULK DUMP!";

struct MainWindowState {
  bool BlinkEnabled = false;   // Timer1 alternates the report box between the prompt and empty
  bool PromptBlanked = false;  // the blink phase: true while the prompt is blanked
};

}  // namespace session
