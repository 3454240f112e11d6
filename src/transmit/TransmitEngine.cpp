#include "transmit/TransmitEngine.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <vector>

#include "filelist/FileList.h"
#include "mc303/AddressMap.h"
#include "roles/AppendTraffic.h"
#include "roles/FlagScope.h"
#include "roles/HexByte.h"

namespace transmit {
namespace {

bool IsLineBreak(char c) { return c == '\r' || c == '\n'; }

// The character at a 1-based position of the box's text as it is now; a position past
// its end (the text got shorter while the engine pumped events) reads as no character.
char CharAt(const roles::TextBox& box, int position) {
  const std::string& text = box.Text();
  return position >= 1 && static_cast<std::size_t>(position) <= text.size()
             ? text[static_cast<std::size_t>(position - 1)]
             : '\0';
}

}  // namespace

// The names of the Files box in list order, as a Send finds them: the length is taken
// once at the start and the characters are read afresh at every step, so the names
// found are those of the text as it stands when each is reached.
class ListWalk {
 public:
  // The walk counts bytes, as CharAt reads them; the box's Length() counts characters.
  explicit ListWalk(const roles::TextBox& box) : box_(&box), length_(static_cast<int>(box.Text().size())) {}

  std::optional<std::string> Next() {
    for (; p_ <= length_; ++p_) {
      if (!IsLineBreak(CharAt(*box_, p_))) continue;
      while (IsLineBreak(CharAt(*box_, p_)) && p_ < length_) ++p_;
      std::string name;
      for (int i = lineStart_; i < p_; ++i) {
        const char c = CharAt(*box_, i);
        if (c != '\0') name += c;
      }
      while (name.size() > 1 && IsLineBreak(name.back())) name.pop_back();
      lineStart_ = p_;
      // Line breaks at the very start of the box leave a "name" of one line break; the
      // reload skips it as a blank line, and so does the Send (opening it would create
      // a file of that name).
      if (name.empty() || IsLineBreak(name.front())) continue;
      ++p_;
      return name;
    }
    return std::nullopt;
  }

  // Whether another name follows, as the text stands now; the walk stays where it is.
  bool NameFollows() const { return ListWalk(*this).Next().has_value(); }

 private:
  const roles::TextBox* box_;
  int length_;
  int p_ = 1;
  int lineStart_ = 1;
};

namespace {

// The listed files as the Send begins, for the progress it shows: opened as the engine
// opens them, and a name that cannot be read counts as empty.
void PlanSend(const roles::TextBox& box, const std::function<filelist::ListedFile(const std::string&)>& open,
              SendPlan& plan, int& names) {
  plan.Clear();
  names = 0;
  ListWalk walk(box);
  while (const std::optional<std::string> name = walk.Next()) {
    ++names;
    filelist::ListedFile file = open(*name);
    plan.AddFile(file);
  }
}

// The MC303 box keeps its report lines and gains the Send's result after them; the
// oldest lines make room when the box would be too full for it.
void AppendResult(roles::TextBox& reportBox, const std::string& result) {
  std::string text = reportBox.Text();
  if (!text.empty() && text.back() != '\n') text += "\r\n";
  while (!text.empty() && roles::CharCount(text) + roles::CharCount(result) > reportBox.MaxLength()) {
    const std::size_t next = text.find('\n');
    text.erase(0, next == std::string::npos ? text.size() : next + 1);
  }
  reportBox.SetText(text + result);
}

}  // namespace

filelist::ListedFile TransmitEngine::Open(const std::string& name) const {
  return open_ ? open_(name) : filelist::ListedFile(name);
}

SendEnd TransmitEngine::Send() {
  // A click on Send that the event pumping of a running Send lets through would read
  // the files again into the same block and header; the window keeps Send disabled,
  // so there is no one to tell.
  if (busy_) return SendEnd::AlreadySending;
  if (p_.flags.RecordingActive) {
    p_.dialogs.MessageBox(kNotWhileRecording);
    return SendEnd::Recording;
  }
  roles::FlagScope busy(busy_);
  struct Sending {
    const std::function<void(bool)>& set;
    explicit Sending(const std::function<void(bool)>& s) : set(s) {
      if (set) set(true);
    }
    ~Sending() {
      if (set) set(false);
    }
    Sending(const Sending&) = delete;
    Sending& operator=(const Sending&) = delete;
  } sending(sendingObserver_);
  filesNotOpened_ = 0;
  stop_ = Stop::None;

  // The port the Send starts on takes all of it: a bulk load split between two
  // devices is of no use.
  const int slot = p_.devices.SelectedOutput;
  port_ = slot >= 0 && slot < midi::kMaxSlots ? p_.devices.OutputHandles[static_cast<std::size_t>(slot)] : 0;

  p_.dialogs.MessageBox(kSendPrompt);

  blockCount_ = 0;
  lastByte_ = 0;
  progressShown_ = false;
  PlanSend(p_.filesBox, [this](const std::string& name) { return Open(name); }, plan_, filesListed_);
  plannedSize_ = p_.transmitBufferSize;
  pacedLeft_ = plan_.PacedBlocksFrom(0, 0, 0, plannedSize_);
  handedBytes_ = 0;
  shownSeconds_ = -1;
  shownBytes_ = -1;
  filesSent_ = 0;
  inMessage_ = false;
  messagePart_ = handedPart_ = kNoPart;
  partRunEnd_ = 0;
  otherPartBegun_ = false;
  listEnded_ = false;
  leftIncomplete_.clear();
  p_.parse.Log().Suppressed = true;
  p_.flags.RecordingActive = true;
  p_.reportBox.SetText("");
  p_.parse.ResetPieceStore();
  p_.flags.AbortRequested = false;
  ShowProgress();

  SendEnd end = SendEnd::Finished;
  if (SendListedFiles(end) == FileEnd::Stop) {
    ShowResult(end);
    return end;
  }

  LeaveSendingPhase();
  if (!leftIncomplete_.empty()) p_.dialogs.MessageBox(leftIncomplete_ + kLeftIncomplete);
  ReloadAtEnd();
  ShowResult(SendEnd::Finished);
  return SendEnd::Finished;
}

TransmitEngine::FileEnd TransmitEngine::SendListedFiles(SendEnd& end) {
  ListWalk walk(p_.filesBox);
  fileIndex_ = 0;
  // Once a stop has taken effect nothing more is opened: a name listed after it would
  // only be shown as an error, or created.
  while (!listEnded_ && !p_.flags.QuitRequested) {
    const std::optional<std::string> name = walk.Next();
    if (!name) break;
    fileOffset_ = 0;
    if (SendFile(*name, walk, end) == FileEnd::Stop) return FileEnd::Stop;
    ++fileIndex_;
    // A stop asked during the pause after the file's rest: the file ended at a message end.
    if (stop_ == Stop::Now || (stop_ == Stop::Finishing && PartEndsWithFile())) listEnded_ = true;
  }
  return FileEnd::Next;
}

TransmitEngine::FileEnd TransmitEngine::SendFile(const std::string& name, const ListWalk& after, SendEnd& end) {
  filelist::ListedFile file = Open(name);
  if (file.Failed() != filelist::ListedFile::Failure::None) {
    ++filesNotOpened_;
    filelist::TellFailure(p_.dialogs, file);
    return FileEnd::Next;
  }
  p_.parse.Store().LastKind = static_cast<std::int16_t>(mc303::PieceKind::None);

  std::span<const std::uint8_t> piece;  // read, not yet taken
  char shown[3] = {0, 0, ' '};
  for (;;) {
    TakeStopRequest();
    if (p_.flags.QuitRequested || stop_ == Stop::Now || (stop_ == Stop::Finishing && otherPartBegun_)) break;
    if (piece.empty() && (piece = file.Next()).empty()) break;
    const std::uint8_t b = piece.front();
    piece = piece.subspan(1);
    ++fileOffset_;
    p_.pump.PumpEvents();
    lastByte_ = b;
    blockBytes_[static_cast<std::size_t>(blockCount_)] = b;
    roles::HexByteInto(b, shown);
    roles::AppendTraffic(p_.trafficBox, std::string_view(shown, 3));
    (void)p_.parse.ParseMidiByte(b, true);
    p_.pump.PumpEvents();

    if (blockCount_ >= kOutputBufferBytes) {
      p_.dialogs.MessageBox(kBlockTooLong);
      LeaveSendingPhase();
      end = SendEnd::BlockTooLong;
      return FileEnd::Stop;
    }
    ++blockCount_;
    FollowPart(b);
    // Finishing, a message of another part ends the Send before it (below).
    if (b == 0xF7 && blockCount_ > p_.transmitBufferSize && !(stop_ == Stop::Finishing && otherPartBegun_) &&
        !HandBlockOver(true, false)) {
      LeaveSendingPhase();
      ReloadAtEnd();
      end = SendEnd::HandOverFailed;
      return FileEnd::Stop;
    }
  }

  if (file.Failed() != filelist::ListedFile::Failure::None) {
    // Said, since the device has not had the whole file. The bytes read before the
    // error may end in a message cut short, and whatever they are, the device must not
    // get them after the user was told the file failed.
    ++filesNotOpened_;
    filelist::TellFailure(p_.dialogs, file);
    blockCount_ = 0;
    return FileEnd::Next;
  }
  bool handed = true;
  if (stop_ == Stop::Now) {
    // Nothing more goes. Whether that cut the part short is told by what follows.
    if (handedPart_ != kNoPart && !otherPartBegun_ && (partRunEnd_ > 0 || PartGoesOn(piece, file))) {
      leftIncomplete_ = PartName(handedPart_);
    }
    blockCount_ = 0;
    return FileEnd::Next;
  } else if (stop_ == Stop::Finishing) {
    // A file that ends inside a message of the part leaves it to the next file.
    if (!PartEndsWithFile()) return FileEnd::Next;
    listEnded_ = true;
    const bool wholeFile = !otherPartBegun_ && lastByte_ == 0xF7;
    blockCount_ = partRunEnd_;
    handed = blockCount_ == 0 || HandBlockOver(false, wholeFile);
    if (handed && wholeFile) ++filesSent_;
  } else {
    // Small files (a slot's settings are 59 bytes) would otherwise go out back to back,
    // far faster than the device's receive buffer empties.
    handed = lastByte_ != 0xF7 || blockCount_ <= 0 || HandBlockOver(after.NameFollows(), true);
    if (handed && !p_.flags.QuitRequested) ++filesSent_;
  }
  if (!handed) {
    LeaveSendingPhase();
    end = SendEnd::RestFailed;
    return FileEnd::Stop;
  }
  return FileEnd::Next;
}

bool TransmitEngine::HandBlockOver(bool paced, bool endOfFile) {
  if (paced) {
    if (!progressShown_) {
      progressShown_ = true;
      p_.progress.SetCaption(stop_ == Stop::None ? kSendingCaption : kFinishingCaption);
      p_.progress.Show();
    }
    p_.pump.PumpEvents();
  }
  const std::int32_t bytes = blockCount_;
  const midi::MidiResult result = HandBlockToPort(paced, endOfFile);
  if (paced && result == midi::kNoError) {
    // The pause is silence on the line, so it starts once the block has left the port.
    p_.countdown.PaceCount = static_cast<std::int16_t>(
        std::min<std::int32_t>(PauseMs() + LineBusyMs(bytes), std::numeric_limits<std::int16_t>::max()));
    p_.timer3.SwitchOn();
  }
  if (paced) {
    for (int i = 0; i < 5; ++i) p_.pump.PumpEvents();
  }
  if (result != midi::kNoError) {
    midi::ShowMidiError(static_cast<std::int16_t>(result), "midiOutLongMsg", p_.ports, p_.dialogs);
    return false;
  }
  blockCount_ = 0;
  // A block ends at the end of the message read last, except the one that ends a stop.
  if (!listEnded_) handedPart_ = messagePart_;
  partRunEnd_ = 0;
  otherPartBegun_ = false;
  if (plannedSize_ != p_.transmitBufferSize) {
    plannedSize_ = p_.transmitBufferSize;
    pacedLeft_ = plan_.PacedBlocksFrom(fileIndex_, fileOffset_, 0, plannedSize_);
  } else if (paced && pacedLeft_ > 0) {
    --pacedLeft_;
  }
  ShowProgress();
  if (paced) WaitForThePause();
  return true;
}

midi::MidiResult TransmitEngine::HandBlockToPort(bool paced, bool endOfFile) {
  // The layer takes its own copy of the block, so the block's bytes are free for the
  // next one however long this one takes on the wire.
  const midi::MidiResult result =
      p_.ports.OutSend(port_, blockBytes_.data(), static_cast<std::size_t>(blockCount_));
  if (result == midi::kNoError) handedBytes_ += blockCount_;
  if (observer_) observer_({blockCount_, paced, endOfFile, result});
  return result;
}

std::int32_t TransmitEngine::LineBusyMs(std::int32_t blockBytes) {
  // Measured right after the hand-over; a port that cannot tell is taken to send the
  // block from then on at the line's speed, the block before it gone already.
  const std::optional<std::chrono::microseconds> drain = p_.ports.OutDrainTime(port_);
  const std::chrono::microseconds busy = drain ? *drain : blockBytes * kWireTimePerByte;
  return static_cast<std::int32_t>(std::chrono::ceil<std::chrono::milliseconds>(busy).count());
}

std::int32_t TransmitEngine::PauseMs() const { return std::clamp<std::int32_t>(p_.pauseMs, 0, kMaxPauseMs); }

void TransmitEngine::WaitForThePause() {
  while (p_.countdown.PaceCount > 0 && !p_.flags.QuitRequested) {
    p_.pump.WaitForEvents();
    TakeStopRequest();
    if (stop_ == Stop::Now) {
      // Nothing follows that the pause would protect.
      p_.countdown.PaceCount = 0;
      return;
    }
    ShowProgress();
  }
}

void TransmitEngine::FollowPart(std::uint8_t b) {
  const mc303::ParseState& state = p_.parse.Parse();
  if (b == 0xF0) {
    inMessage_ = true;
    messagePart_ = kPartUnknown;
  } else if (inMessage_ && messagePart_ == kPartUnknown) {
    if (state.State == 10) {
      const std::optional<mc303::PieceAddress> piece = mc303::PieceAt(state.Address[0], state.Address[1]);
      messagePart_ = !piece ? kNoPart : piece->slotIndex * 2 + (piece->kind == mc303::PieceKind::Pattern ? 1 : 2);
    } else if (state.State == 0) {
      messagePart_ = kNoPart;  // no MC-303 data set
    }
  }
  if (b == 0xF7) {
    // A message ended before its address, or an 0xF7 outside any, belongs to no part.
    if (!inMessage_ || messagePart_ == kPartUnknown) messagePart_ = kNoPart;
    inMessage_ = false;
  }
  if ((inMessage_ || b == 0xF7) && messagePart_ != kPartUnknown && messagePart_ != handedPart_) {
    otherPartBegun_ = true;
  }
  if (b == 0xF7 && !otherPartBegun_) partRunEnd_ = blockCount_;
}

void TransmitEngine::TakeStopRequest() {
  // Each Yes to the progress window's question, or each signal on the command line,
  // is one request.
  if (!p_.flags.AbortRequested) return;
  p_.flags.AbortRequested = false;
  if (stop_ == Stop::None && handedPart_ != kNoPart) {
    stop_ = Stop::Finishing;
    p_.progress.SetCaption(kFinishingCaption);
    p_.progress.SetFinishing(PartName(handedPart_));
  } else {
    // Asked again, or nothing of a part is on the device yet.
    stop_ = Stop::Now;
  }
}

bool TransmitEngine::PartEndsWithFile() const {
  // The next file is not opened to look: a part ends with its file unless the file
  // ends inside one of its messages.
  return otherPartBegun_ || !inMessage_;
}

bool TransmitEngine::PartGoesOn(std::span<const std::uint8_t> rest, filelist::ListedFile& file) {
  // Read on, sending and showing nothing, until the next message shows its part.
  for (;;) {
    if (inMessage_ && messagePart_ != kPartUnknown) return messagePart_ == handedPart_;
    if (rest.empty() && (rest = file.Next()).empty()) return inMessage_;
    (void)p_.parse.ParseMidiByte(rest.front(), false);
    FollowPart(rest.front());
    rest = rest.subspan(1);
  }
}

std::string TransmitEngine::PartName(int part) {
  if (part <= kNoPart) return {};
  return mc303::UserName((part - 1) / 2 + 1) + ((part - 1) % 2 == 0 ? " pattern" : " settings");
}

std::string TransmitEngine::PartBeingSent() const { return busy_ ? PartName(handedPart_) : std::string(); }

std::int64_t TransmitEngine::MsLeft() const {
  // The block on the line and its pause, then the line's time of every byte still to
  // go and a pause after each paced block. Finishing, the part's end is not known
  // ahead.
  const std::int64_t waiting = std::max<std::int64_t>(p_.countdown.PaceCount, 0);
  if (stop_ != Stop::None) return waiting;
  const std::int64_t bytesLeft = std::max<std::int64_t>(0, plan_.BytesToSend() - handedBytes_);
  return waiting + (bytesLeft * kWireTimePerByte.count() + 999) / 1000 + pacedLeft_ * PauseMs();
}

void TransmitEngine::ShowProgress() {
  const std::int64_t seconds = (MsLeft() + 999) / 1000;
  if (seconds == shownSeconds_ && handedBytes_ == shownBytes_) return;
  shownSeconds_ = seconds;
  shownBytes_ = handedBytes_;
  p_.progress.SetProgress(handedBytes_, plan_.BytesToSend(), seconds);
}

void TransmitEngine::ShowResult(SendEnd end) {
  std::string text;
  if (end != SendEnd::Finished) {
    text = "Send stopped by an error.";
  } else if (!leftIncomplete_.empty()) {
    text = "Send stopped in " + leftIncomplete_ + ", left incomplete.";
  } else if (stop_ == Stop::Finishing || (stop_ == Stop::Now && !p_.flags.QuitRequested)) {
    text = handedPart_ != kNoPart ? "Send stopped after " + PartName(handedPart_) + "." : "Send stopped.";
  } else if (p_.flags.QuitRequested) {
    text = "Send stopped.";
  } else {
    text = "Send finished.";
  }
  const std::int64_t toSend = plan_.BytesToSend();
  text += "\r\n" + std::to_string(handedBytes_) +
          (handedBytes_ == toSend ? std::string() : " of " + std::to_string(toSend)) + " bytes sent,\r\n" +
          std::to_string(filesSent_) + (filesSent_ == filesListed_ ? std::string() : " of " + std::to_string(filesListed_)) +
          (filesListed_ == 1 ? " file.\r\n" : " files.\r\n");
  if (end == SendEnd::Finished && stop_ == Stop::None && plan_.BytesListed() > toSend) {
    text += std::to_string(plan_.BytesListed() - toSend) + " bytes after the\r\nlast F7 not sent.\r\n";
  }
  AppendResult(p_.reportBox, text);
}

void TransmitEngine::LeaveSendingPhase() {
  // Hidden whether or not a paced block showed it: the progress it was given must not
  // show in the next operation's window.
  p_.progress.Hide();
  progressShown_ = false;
  p_.parse.Log().Suppressed = false;
  p_.flags.RecordingActive = false;
}

void TransmitEngine::ReloadAtEnd() {
  if (!p_.reloadFileList) return;
  // The list stays as the user made it: a name that cannot be read now, or a reload
  // the user aborted, is no reason to lose the others. What loaded of it is no
  // combination to save, though.
  if (!p_.reloadFileList()) p_.parse.ResetPieceStore();
}

}  // namespace transmit
