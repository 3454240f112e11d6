// The transmit engine: what the Send button runs. Sends every file named in the Files
// box, in list order and byte for byte, to the selected MIDI output port, cut into
// blocks that end right after an 0xF7 once they hold more than the transmit buffer
// size, with a pause of 200 ms after each such block so the MC-303's small receive
// buffer keeps up. Every byte sent is shown in the Traffic box and parsed with reports
// on, so the Pieces and MC303 boxes show what goes out; nothing is logged. At the end
// the file list is re-read, which rebuilds the piece store from the files.
//
// Runs on the user-interface thread, nested inside the event processing, and pumps
// events itself between bytes and during the pause. While it runs, Busy() is true and
// the window keeps the controls that would interfere (Start, Stop, Add, Save, Send,
// Speed, the output list, the Files box) disabled (SetSendingObserver), so that nothing
// the user does waits on a message box while the device's buffer runs dry. A second
// Send is ignored by Send itself; a click while a capture records or the file list
// reloads (RecordingActive) is refused with a message: the Send would empty the piece
// store under them and end their logging.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "filelist/ListedFile.h"
#include "mc303/SharedFlags.h"
#include "mc303/SysexParser.h"
#include "midi/DeviceSession.h"
#include "midi/MidiPorts.h"
#include "roles/Dialogs.h"
#include "roles/EventPump.h"
#include "roles/ProgressWindow.h"
#include "roles/TextBox.h"
#include "roles/Timer3.h"
#include "transmit/PacingCountdown.h"

namespace transmit {

class ListWalk;

inline constexpr std::int32_t kOutputBufferBytes = 16384;
inline constexpr std::int16_t kPauseMs = 200;

inline constexpr const char* kSendPrompt =
    "Make sure Groovebox is showing rECivE (press FUNC-SHIFT-16 and then press right arrow).  When you are ready to "
    "send the data in the Files and Pieces window, then plug the MIDI cable into the MC303 (and not a moment sooner) "
    "and then press OK.";
inline constexpr const char* kBlockTooLong =
    "Single SysEx block longer than 16384 bytes.  A little unlikely, but that means this program has to change.";
inline constexpr const char* kErrorOpeningFile = "Error opening file ";
inline constexpr const char* kErrorReadingFile = "Error reading file ";
inline constexpr const char* kSendingCaption = "Sending...";
inline constexpr const char* kNotWhileRecording =
    "Recording or loading is in progress.  Press Stop, or wait until the files are loaded, before sending.";

// How a Send ended.
enum class SendEnd {
  Finished,         // every listed file was read (or the user aborted or quit)
  AlreadySending,   // ignored: a Send was already running
  Recording,        // refused: a capture or a reload of the file list was under way
  BlockTooLong,     // a block grew beyond 16384 bytes
  HandOverFailed,   // the port refused a paced block
  RestFailed,       // the port refused the rest of a file
};

// One block the engine handed to the output port.
struct HandOver {
  std::int32_t bytes = 0;
  bool paced = false;      // followed by the pause
  bool endOfFile = false;  // the rest of a file; paced unless its file is the last listed
  midi::MidiResult result = midi::kNoError;
};

struct TransmitParts {
  mc303::SharedFlags& flags;
  mc303::MC303Parse& parse;
  roles::TextBox& tFiles;
  roles::TextBox& tDev;
  roles::TextBox& tTraffic;
  midi::MidiPorts& ports;
  const midi::DeviceState& devices;  // SelectedOutput and OutputHandles
  roles::Dialogs& dialogs;
  roles::EventPump& pump;
  roles::ProgressWindow& fSplash;
  PacingCountdown& countdown;        // the window's; ticked by Timer3
  roles::Timer3& timer3;
  const std::int32_t& transmitBufferSize;  // read afresh at every block end
  // The file list's ReloadFileList; empty where there is no list to rebuild.
  std::function<bool()> reloadFileList;
};

class TransmitEngine {
 public:
  explicit TransmitEngine(const TransmitParts& parts) : p_(parts) {}
  TransmitEngine(const TransmitEngine&) = delete;
  TransmitEngine& operator=(const TransmitEngine&) = delete;

  // The click of Send. Returns when every listed file has been sent or the Send has
  // ended early; the messages of every failure have been shown by then.
  SendEnd Send();

  bool Busy() const { return busy_; }

  // Told true as a Send begins, after its refusals, and false as it ends.
  void SetSendingObserver(std::function<void(bool)> observer) { sendingObserver_ = std::move(observer); }
  // Called right after every hand-over to the port, with its outcome.
  void SetHandOverObserver(std::function<void(const HandOver&)> observer) { observer_ = std::move(observer); }
  // Opens a listed name for reading instead of OpenListedFile: the command line hands
  // over the bytes it has read already (standard input reads only once; a MIDI file
  // gives its SysEx).
  void SetOpener(std::function<filelist::FilePtr(const std::string&)> open) { open_ = std::move(open); }
  // Listed names that could not be opened, or read to their end, during the last Send.
  int FilesNotOpened() const { return filesNotOpened_; }

  // The pending block: bytes read since the last block was handed over.
  std::int16_t BlockCount() const { return blockCount_; }

 private:
  enum class FileEnd { Next, Stop };

  FileEnd SendListedFiles(SendEnd& end);
  FileEnd SendFile(const std::string& name, const ListWalk& after, SendEnd& end);
  // Hands the pending block to the port; a paced one under the progress window and
  // followed by the pause. False, after the message, when the port refused it.
  [[nodiscard]] bool HandBlockOver(bool paced, bool endOfFile);
  midi::MidiResult HandBlockToPort(bool paced, bool endOfFile);
  std::int64_t SecondsLeft() const;
  void LeaveSendingPhase();
  void ReloadAtEnd();

  TransmitParts p_;
  bool busy_ = false;
  std::function<void(const HandOver&)> observer_;
  std::function<void(bool)> sendingObserver_;
  std::function<filelist::FilePtr(const std::string&)> open_;
  int filesNotOpened_ = 0;

  midi::PortHandle port_ = 0;
  // The bytes read since the last hand-over; one more than a block may hold, so that
  // the byte that makes a block too long can still be stored.
  std::array<std::uint8_t, kOutputBufferBytes + 1> blockBytes_{};
  std::int16_t blockCount_ = 0;
  std::uint8_t lastByte_ = 0;  // outlives a file's read loop for its end-of-file test

  // The progress window: up from the first paced block to the end of the sending phase.
  bool splashShown_ = false;
  std::int64_t listedBytes_ = 0;  // of the files listed as the Send began
  std::int64_t handedBytes_ = 0;
  std::int64_t handOvers_ = 0;
};

}  // namespace transmit
