// The transmit engine: what the Send button runs. Sends every file named in the Files
// box, in list order and byte for byte, to the selected MIDI output port, cut into
// blocks that end right after an 0xF7 once they hold more than the transmit buffer
// size, each followed by a pause so the MC-303's small receive buffer keeps up. The
// pause is silence on the line: it starts once the block's last byte has left the
// port, however long the block takes at the line's speed. Every byte sent is shown in
// the Traffic box and parsed with reports on, so the Pieces and MC303 boxes show what
// goes out; nothing is logged. At the end the file list is re-read, which rebuilds the
// piece store from the files, and the MC303 box is left saying what was sent.
//
// Asked to stop (Yes in the progress window, a signal on the command line), a Send
// finishes the part it is in, one slot's pattern or settings, so that the device never
// holds half of it, and opens no file after that; asked a second time, it stops at
// once and says which part is left incomplete.
//
// Runs on the user-interface thread, nested inside the event processing, and pumps
// events itself between bytes and during the pause. While it runs, Busy() is true and
// the window keeps the controls that would interfere (Start, Stop, Add, Save, Send,
// the output list) disabled and the file list refuses removals (SetSendingObserver),
// so that nothing the user does waits on a message box while the device's buffer runs
// dry. A second Send is ignored by Send itself; a click while a capture records or the
// file list reloads (RecordingActive) is refused with a message: the Send would empty
// the piece store under them and end their logging.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "filelist/ListedFile.h"
#include "mc303/SharedFlags.h"
#include "mc303/SysexIntake.h"
#include "midi/DeviceSession.h"
#include "midi/MidiPorts.h"
#include "roles/Dialogs.h"
#include "roles/EventPump.h"
#include "roles/ProgressWindow.h"
#include "roles/TextBox.h"
#include "roles/Timer3.h"
#include "transmit/PacingCountdown.h"
#include "transmit/SendPlan.h"

namespace transmit {

class ListWalk;

inline constexpr std::int32_t kOutputBufferBytes = 16384;
// The silence on the line after each paced block, from its last byte on, unless the
// user sets another (0 to 5000 ms).
inline constexpr std::int32_t kPauseMs = 200;
inline constexpr std::int32_t kMaxPauseMs = 5000;
// A byte's time on a MIDI line: ten bits at 31250 baud. How long a block takes to leave
// a port that cannot tell.
inline constexpr std::chrono::microseconds kWireTimePerByte{320};

inline constexpr const char* kSendPrompt =
    "Make sure Groovebox is showing rECivE (press FUNC-SHIFT-16 and then press right arrow).  When you are ready to "
    "send the data in the Files and Pieces window, then plug the MIDI cable into the MC303 (and not a moment sooner) "
    "and then press OK.";
inline constexpr const char* kBlockTooLong =
    "Single SysEx block longer than 16384 bytes.  A little unlikely, but that means this program has to change.";
inline constexpr const char* kSendingCaption = "Sending...";
inline constexpr const char* kFinishingCaption = "Finishing...";
// "U10 pattern" goes in front.
inline constexpr const char* kLeftIncomplete =
    " was left incomplete on the MC-303: the Send was stopped in the middle of it. Send its file again.";
inline constexpr const char* kNotWhileRecording =
    "Recording or loading is in progress.  Press Stop, or wait until the files are loaded, before sending.";

// How a Send ended.
enum class SendEnd {
  Finished,         // every listed file was read, or the Send was asked to stop (Stopped())
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
  mc303::SysexIntake& parse;
  roles::TextBox& filesBox;
  roles::TextBox& reportBox;
  roles::TextBox& trafficBox;
  midi::MidiPorts& ports;
  const midi::DeviceState& devices;  // SelectedOutput and OutputHandles
  roles::Dialogs& dialogs;
  roles::EventPump& pump;
  roles::ProgressWindow& progress;
  PacingCountdown& countdown;        // the window's; ticked by Timer3
  roles::Timer3& timer3;
  const std::int32_t& transmitBufferSize;  // read afresh at every block end
  // The file list's ReloadFileList; empty where there is no list to rebuild.
  std::function<bool()> reloadFileList;
  const std::int32_t& pauseMs = kPauseMs;  // read afresh at every block end
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
  // Opens a listed name instead of filelist::ListedFile: the command line hands over
  // the bytes it has read already (standard input reads only once).
  void SetOpener(std::function<filelist::ListedFile(const std::string&)> open) { open_ = std::move(open); }
  // Listed names that could not be opened, or read to their end, during the last Send.
  int FilesNotOpened() const { return filesNotOpened_; }
  // Whether the last Send was asked to stop before its list was done.
  bool Stopped() const { return stop_ != Stop::None; }
  // The part a stop would finish ("U10 pattern"): the one bytes were last handed over
  // for; empty when none is under way.
  std::string PartBeingSent() const;

  // The pending block: bytes read since the last block was handed over.
  std::int16_t BlockCount() const { return blockCount_; }

 private:
  enum class FileEnd { Next, Stop };
  // None; Finishing: the part under way goes on to its end, then nothing more; Now:
  // nothing more is handed over.
  enum class Stop { None, Finishing, Now };
  filelist::ListedFile Open(const std::string& name) const;

  FileEnd SendListedFiles(SendEnd& end);
  FileEnd SendFile(const std::string& name, const ListWalk& after, SendEnd& end);
  // Hands the pending block to the port; a paced one under the progress window and
  // followed by the pause. False, after the message, when the port refused it.
  [[nodiscard]] bool HandBlockOver(bool paced, bool endOfFile);
  midi::MidiResult HandBlockToPort(bool paced, bool endOfFile);
  // How long the bytes handed over still take to leave the port, in whole milliseconds.
  std::int32_t LineBusyMs(std::int32_t blockBytes);
  // The pause in force, 0 to 5000 ms whatever the settings hold.
  std::int32_t PauseMs() const;
  void WaitForThePause();

  // The part of the message each byte belongs to, as the parser sees it.
  void FollowPart(std::uint8_t b);
  void TakeStopRequest();
  // Finishing, at the end of a file: true when the part has ended there.
  bool PartEndsWithFile() const;
  // Stopped at once: whether the part being finished goes on after what was read.
  bool PartGoesOn(std::span<const std::uint8_t> rest, filelist::ListedFile& file);
  // Tells the progress window the bytes handed over and the time left, when they changed.
  void ShowProgress();
  std::int64_t MsLeft() const;
  void ShowResult(SendEnd end);

  void LeaveSendingPhase();
  void ReloadAtEnd();

  TransmitParts p_;
  bool busy_ = false;
  std::function<void(const HandOver&)> observer_;
  std::function<void(bool)> sendingObserver_;
  std::function<filelist::ListedFile(const std::string&)> open_;
  int filesNotOpened_ = 0;

  midi::PortHandle port_ = 0;
  // The bytes read since the last hand-over; one more than a block may hold, so that
  // the byte that makes a block too long can still be stored.
  std::array<std::uint8_t, kOutputBufferBytes + 1> blockBytes_{};
  std::int16_t blockCount_ = 0;
  std::uint8_t lastByte_ = 0;  // outlives a file's read loop for its end-of-file test

  // The progress window: up from the first paced block to the end of the sending phase.
  bool progressShown_ = false;
  SendPlan plan_;
  std::int32_t plannedSize_ = 0;  // the buffer size pacedLeft_ was counted for
  std::int64_t pacedLeft_ = 0;    // paced blocks still to come
  std::int64_t handedBytes_ = 0;
  std::int64_t shownSeconds_ = -1;
  std::int64_t shownBytes_ = -1;
  std::size_t fileIndex_ = 0;     // of the name being sent, in list order
  std::int64_t fileOffset_ = 0;   // its bytes read so far
  int filesListed_ = 0;
  int filesSent_ = 0;             // read to their end and handed over

  // Parts, as small numbers: slot * 2 + 1 for a pattern, + 2 for settings; kNoPart for
  // a message that belongs to no piece, kPartUnknown while a message's address is
  // still to come.
  static constexpr int kNoPart = 0;
  static constexpr int kPartUnknown = -1;
  static std::string PartName(int part);
  bool inMessage_ = false;
  int messagePart_ = kNoPart;  // of the message being read
  int handedPart_ = kNoPart;   // of the last message handed over (blocks end at a message end)
  // Since the last hand-over: the pending bytes that continue handedPart_, up to its
  // last message end read, and whether a message of another part has begun.
  std::int16_t partRunEnd_ = 0;
  bool otherPartBegun_ = false;
  Stop stop_ = Stop::None;
  bool listEnded_ = false;       // no more names are opened
  std::string leftIncomplete_;  // the part a stop at once cut short
};

}  // namespace transmit
