#include "transmit/TransmitEngine.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <system_error>

#include "midi/MidiError.h"
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

// The listed files' size as the Send begins, for the progress bar: a name that cannot
// be measured counts as empty.
std::int64_t ListedBytes(const roles::TextBox& box) {
  std::int64_t total = 0;
  ListWalk walk(box);
  while (const std::optional<std::string> name = walk.Next()) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(*name, error);
    if (!error) total += static_cast<std::int64_t>(size);
  }
  return total;
}

}  // namespace

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

  // The port the Send starts on takes all of it: a bulk load split between two
  // devices is of no use.
  const int slot = p_.devices.SelectedOutput;
  port_ = slot >= 0 && slot < midi::kMaxSlots ? p_.devices.OutputHandles[static_cast<std::size_t>(slot)] : 0;

  p_.dialogs.MessageBox(kSendPrompt);

  blockCount_ = 0;
  lastByte_ = 0;
  splashShown_ = false;
  listedBytes_ = ListedBytes(p_.tFiles);
  handedBytes_ = 0;
  handOvers_ = 0;
  p_.parse.Log().Suppressed = true;
  p_.flags.RecordingActive = true;
  p_.tDev.SetText("");
  p_.parse.ResetPieceStore();
  p_.flags.AbortRequested = false;

  SendEnd end = SendEnd::Finished;
  if (SendListedFiles(end) == FileEnd::Stop) return end;

  LeaveSendingPhase();
  ReloadAtEnd();
  return SendEnd::Finished;
}

TransmitEngine::FileEnd TransmitEngine::SendListedFiles(SendEnd& end) {
  ListWalk walk(p_.tFiles);
  while (const std::optional<std::string> name = walk.Next()) {
    if (SendFile(*name, walk, end) == FileEnd::Stop) return FileEnd::Stop;
  }
  return FileEnd::Next;
}

TransmitEngine::FileEnd TransmitEngine::SendFile(const std::string& name, const ListWalk& after, SendEnd& end) {
  filelist::FilePtr file = open_ ? open_(name) : filelist::OpenListedFile(name);
  if (!file) {
    ++filesNotOpened_;
    p_.dialogs.MessageBox(kErrorOpeningFile + name);
    return FileEnd::Next;
  }
  p_.parse.Store().LastKind = static_cast<std::int16_t>(mc303::PieceKind::None);

  std::array<std::uint8_t, 4096> chunk;
  std::size_t have = 0;
  std::size_t next = 0;
  char shown[3] = {0, 0, ' '};
  bool readFailed = false;
  while (!p_.flags.QuitRequested && !p_.flags.AbortRequested) {
    if (next == have) {
      have = std::fread(chunk.data(), 1, chunk.size(), file.get());
      next = 0;
      if (have == 0) {
        // Said, since the device has not had the whole file.
        if (std::ferror(file.get()) != 0) {
          ++filesNotOpened_;
          p_.dialogs.MessageBox(kErrorReadingFile + name);
          readFailed = true;
        }
        break;
      }
    }
    p_.pump.PumpEvents();
    const std::uint8_t b = chunk[next++];
    lastByte_ = b;
    blockBytes_[static_cast<std::size_t>(blockCount_)] = b;
    roles::HexByteInto(b, shown);
    roles::AppendTraffic(p_.tTraffic, std::string_view(shown, 3));
    (void)p_.parse.ParseMidiByte(b, true);
    p_.pump.PumpEvents();

    if (blockCount_ >= kOutputBufferBytes) {
      p_.dialogs.MessageBox(kBlockTooLong);
      file.reset();
      LeaveSendingPhase();
      end = SendEnd::BlockTooLong;
      return FileEnd::Stop;
    }
    ++blockCount_;
    // The progress window stays up between blocks, so a Yes to its question can come
    // while a byte is shown; no block goes after it.
    if (b == 0xF7 && blockCount_ > p_.transmitBufferSize && !p_.flags.AbortRequested && !HandBlockOver(true, false)) {
      file.reset();
      LeaveSendingPhase();
      ReloadAtEnd();
      end = SendEnd::HandOverFailed;
      return FileEnd::Stop;
    }
  }

  if (readFailed) {
    // The bytes read before the error may end in a message cut short, and whatever
    // they are, the device must not get them after the user was told the file failed.
    blockCount_ = 0;
  } else if (lastByte_ == 0xF7 && blockCount_ > 0 && !p_.flags.AbortRequested &&
             // Small files (a slot's settings are 59 bytes) would otherwise go out back to
             // back, far faster than the device's receive buffer empties.
             !HandBlockOver(after.NameFollows(), true)) {
    file.reset();
    LeaveSendingPhase();
    end = SendEnd::RestFailed;
    return FileEnd::Stop;
  }
  return FileEnd::Next;
}

bool TransmitEngine::HandBlockOver(bool paced, bool endOfFile) {
  if (paced) {
    if (!splashShown_) {
      splashShown_ = true;
      p_.fSplash.SetCaption(kSendingCaption);
      p_.fSplash.Show();
    }
    // Armed before the hand-over, so the pause counts from just before the block goes.
    p_.countdown.PaceCount = kPauseMs;
    p_.timer3.SwitchOn();
    p_.pump.PumpEvents();
  }
  const midi::MidiResult result = HandBlockToPort(paced, endOfFile);
  if (paced) {
    for (int i = 0; i < 5; ++i) p_.pump.PumpEvents();
  }
  if (result != midi::kNoError) {
    midi::ShowMidiError(static_cast<std::int16_t>(result), "midiOutLongMsg", p_.ports, p_.dialogs);
    return false;
  }
  blockCount_ = 0;
  if (splashShown_) p_.fSplash.SetProgress(handedBytes_, listedBytes_, SecondsLeft());
  if (paced) {
    while (p_.countdown.PaceCount > 0 && !p_.flags.QuitRequested) p_.pump.WaitForEvents();
  }
  return true;
}

midi::MidiResult TransmitEngine::HandBlockToPort(bool paced, bool endOfFile) {
  // The layer takes its own copy of the block, so the block's bytes are free for the
  // next one however long this one takes on the wire.
  const midi::MidiResult result =
      p_.ports.OutSend(port_, blockBytes_.data(), static_cast<std::size_t>(blockCount_));
  if (result == midi::kNoError) {
    handedBytes_ += blockCount_;
    ++handOvers_;
  }
  if (observer_) observer_({blockCount_, paced, endOfFile, result});
  return result;
}

std::int64_t TransmitEngine::SecondsLeft() const {
  // At the pacing's rate: the bytes still listed in blocks as large as those so far
  // on average, each followed by the pause.
  if (handedBytes_ <= 0) return 0;
  const std::int64_t left = std::max<std::int64_t>(0, listedBytes_ - handedBytes_);
  const std::int64_t blocks = (left * handOvers_ + handedBytes_ - 1) / handedBytes_;
  return (blocks * kPauseMs + 999) / 1000;
}

void TransmitEngine::LeaveSendingPhase() {
  if (splashShown_) p_.fSplash.Hide();
  splashShown_ = false;
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
