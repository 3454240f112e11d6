#include "transmit/TransmitEngine.h"

#include <cstdio>
#include <cstring>

#include "midi/HexByte.h"
#include "midi/MidiError.h"
#include "ui/AppendTraffic.h"
#include "ui/FlagScope.h"

namespace transmit {
namespace {

bool IsLineBreak(char c) { return c == '\r' || c == '\n'; }

// The character at a 1-based position of the box's text as it is now; a position past
// its end (the text got shorter while the engine pumped events) reads as no character.
char CharAt(const ui::TextBox& box, int position) {
  const std::string& text = box.Text();
  return position >= 1 && static_cast<std::size_t>(position) <= text.size()
             ? text[static_cast<std::size_t>(position - 1)]
             : '\0';
}

// The output buffer: allocated at the start of a Send and given back however it ends.
class OutputBuffer {
 public:
  explicit OutputBuffer(midi::BlockAllocator& allocator)
      : allocator_(allocator), handle_(allocator.Allocate(kOutputBufferBytes)) {}
  ~OutputBuffer() {
    if (handle_ == 0) return;
    if (locked_) allocator_.Unlock(handle_);
    allocator_.Free(handle_);
  }
  OutputBuffer(const OutputBuffer&) = delete;
  OutputBuffer& operator=(const OutputBuffer&) = delete;

  bool Allocated() const { return handle_ != 0; }
  std::uint8_t* Lock() {
    std::uint8_t* address = allocator_.Lock(handle_);
    locked_ = address != nullptr;
    return address;
  }

 private:
  midi::BlockAllocator& allocator_;
  std::uintptr_t handle_;
  bool locked_ = false;
};

}  // namespace

bool TransmitEngine::RefuseWhileSending() {
  if (!busy_) return false;
  p_.dialogs.MessageBox(kStillSending);
  return true;
}

SendEnd TransmitEngine::Send() {
  // A click on Send that the event pumping of a running Send lets through would read
  // the files again into the same block and header.
  if (RefuseWhileSending()) return SendEnd::AlreadySending;
  if (p_.flags.RecordingActive) {
    p_.dialogs.MessageBox(kNotWhileRecording);
    return SendEnd::Recording;
  }
  ui::FlagScope busy(busy_);
  filesNotOpened_ = 0;

  OutputBuffer buffer(p_.allocator);
  if (!buffer.Allocated()) {
    p_.dialogs.MessageBox(kNoOutputBuffer);
    p_.flags.QuitRequested = true;
    return SendEnd::NoOutputBuffer;
  }
  std::uint8_t* address = nullptr;
  while (!p_.flags.QuitRequested) {
    address = buffer.Lock();
    if (address != nullptr) break;
    p_.pump.PumpEvents();
  }

  header_ = midi::MidiHdr{};
  header_.lpData = address;
  header_.dwBufferLength = kOutputBufferBytes;
  // The port the Send starts on takes all of it: a bulk load split between two
  // devices is of no use, and the header is prepared for this port only.
  const int slot = p_.devices.SelectedOutput;
  port_ = slot >= 0 && slot < midi::kMaxSlots ? p_.devices.OutputHandles[static_cast<std::size_t>(slot)] : 0;
  const midi::MidiResult prepared = p_.ports.OutPrepareHeader(port_, &header_, midi::kMidiHdrSize);
  if (prepared != midi::kNoError) {
    midi::ShowMidiError(static_cast<std::int16_t>(prepared), "midiOutPrepareHeader", p_.ports, p_.dialogs);
  }

  p_.dialogs.MessageBox(kSendPrompt);

  blockCount_ = 0;
  lastByte_ = 0;
  p_.parse.Log().Suppressed = true;
  p_.flags.RecordingActive = true;
  p_.tDev.SetText("");
  p_.parse.ResetPieceStore();
  p_.flags.AbortRequested = false;

  SendEnd end = SendEnd::Finished;
  if (SendListedFiles(end) == FileEnd::Stop) return end;

  const midi::MidiResult unprepared = p_.ports.OutUnprepareHeader(port_, &header_, midi::kMidiHdrSize);
  if (unprepared != midi::kNoError) {
    midi::ShowMidiError(static_cast<std::int16_t>(unprepared), "midiOutUnprepareHeader", p_.ports, p_.dialogs);
  }
  ClearSendFlags();
  ReloadAtEnd();
  return SendEnd::Finished;
}

TransmitEngine::FileEnd TransmitEngine::SendListedFiles(SendEnd& end) {
  // The length is taken once; the characters are read afresh at every step, so the
  // names found are those of the text as it stands when each is reached.
  const int length = p_.tFiles.Length();
  int lineStart = 1;
  for (int p = 1; p <= length; ++p) {
    if (!IsLineBreak(CharAt(p_.tFiles, p))) continue;
    while (IsLineBreak(CharAt(p_.tFiles, p)) && p < length) ++p;
    std::string name;
    for (int i = lineStart; i < p; ++i) {
      const char c = CharAt(p_.tFiles, i);
      if (c != '\0') name += c;
    }
    while (name.size() > 1 && IsLineBreak(name.back())) name.pop_back();
    lineStart = p;
    // Line breaks at the very start of the box leave a "name" of one line break; the
    // reload skips it as a blank line, and so does the Send (opening it would create a
    // file of that name).
    if (name.empty() || IsLineBreak(name.front())) continue;
    if (SendFile(name, end) == FileEnd::Stop) return FileEnd::Stop;
  }
  return FileEnd::Next;
}

TransmitEngine::FileEnd TransmitEngine::SendFile(const std::string& name, SendEnd& end) {
  filelist::FilePtr file = open_ ? open_(name) : filelist::OpenListedFile(name, p_.missingFile);
  if (!file) {
    ++filesNotOpened_;
    p_.dialogs.MessageBox(kErrorOpeningFile + name);
    p_.fSplash.Hide();
    return FileEnd::Next;
  }
  p_.parse.Store().LastKind = static_cast<std::int16_t>(mc303::PieceKind::None);

  std::array<std::uint8_t, 4096> chunk;
  std::size_t have = 0;
  std::size_t next = 0;
  char shown[3] = {0, 0, ' '};
  while (!p_.flags.QuitRequested && !p_.flags.AbortRequested) {
    if (next == have) {
      have = std::fread(chunk.data(), 1, chunk.size(), file.get());
      next = 0;
      if (have == 0) {
        // A read error ends the file as its end would (what was read stays read and is
        // sent), but is said: the device has not had the whole file.
        if (std::ferror(file.get()) != 0) {
          ++filesNotOpened_;
          p_.dialogs.MessageBox(kErrorReadingFile + name);
        }
        break;
      }
    }
    p_.pump.PumpEvents();
    const std::uint8_t b = chunk[next++];
    lastByte_ = b;
    blockBytes_[static_cast<std::size_t>(blockCount_)] = b;
    midi::HexByteInto(b, shown);
    ui::AppendTraffic(p_.tTraffic, std::string_view(shown, 3));
    (void)p_.parse.ParseMidiByte(b, true);
    p_.pump.PumpEvents();

    if (blockCount_ >= kOutputBufferBytes) {
      p_.dialogs.MessageBox(kBlockTooLong);
      file.reset();
      ClearSendFlags();
      UnprepareQuietly();
      end = SendEnd::BlockTooLong;
      return FileEnd::Stop;
    }
    ++blockCount_;
    if (b == 0xF7 && blockCount_ > p_.transmitBufferSize && !HandOverPaced()) {
      file.reset();
      ClearSendFlags();
      ReloadAtEnd();
      UnprepareQuietly();
      end = SendEnd::HandOverFailed;
      return FileEnd::Stop;
    }
  }

  if (lastByte_ == 0xF7 && blockCount_ > 0 && !HandOverRest()) {
    file.reset();
    ClearSendFlags();
    UnprepareQuietly();
    end = SendEnd::RestFailed;
    return FileEnd::Stop;
  }
  file.reset();
  p_.fSplash.Hide();
  return FileEnd::Next;
}

bool TransmitEngine::HandOverPaced() {
  p_.flags.AbortRequested = false;
  p_.fSplash.SetCaption(kSendingCaption);
  p_.fSplash.Show();
  // Armed before the hand-over, so the pause counts from just before the block goes.
  p_.countdown.PaceCount = kPauseMs;
  p_.timer3.SwitchOn();

  p_.pump.PumpEvents();
  const midi::MidiResult result = HandBlockToPort(true);
  for (int i = 0; i < 5; ++i) p_.pump.PumpEvents();
  p_.fSplash.Hide();
  if (result != midi::kNoError) {
    midi::ShowMidiError(static_cast<std::int16_t>(result), "midiOutLongMsg", p_.ports, p_.dialogs);
    return false;
  }
  blockCount_ = 0;
  while (p_.countdown.PaceCount > 0 && !p_.flags.QuitRequested) p_.pump.WaitForEvents();
  return true;
}

bool TransmitEngine::HandOverRest() {
  const midi::MidiResult result = HandBlockToPort(false);
  if (result != midi::kNoError) {
    midi::ShowMidiError(static_cast<std::int16_t>(result), "midiOutLongMsg", p_.ports, p_.dialogs);
    return false;
  }
  blockCount_ = 0;
  return true;
}

midi::MidiResult TransmitEngine::HandBlockToPort(bool paced) {
  // The layer takes its own copy of the block before OutLongMsg returns, so the
  // buffer is free for the next block however long this one takes on the wire.
  header_.dwBufferLength = static_cast<std::uint32_t>(blockCount_);
  if (header_.lpData != nullptr) std::memcpy(header_.lpData, blockBytes_.data(), header_.dwBufferLength);
  const midi::MidiResult result = p_.ports.OutLongMsg(port_, &header_, midi::kMidiHdrSize);
  if (observer_) observer_({blockCount_, paced, result});
  return result;
}

void TransmitEngine::ClearSendFlags() {
  p_.parse.Log().Suppressed = false;
  p_.flags.RecordingActive = false;
}

void TransmitEngine::ReloadAtEnd() {
  if (!p_.reloadFileList) return;
  if (!p_.reloadFileList()) {
    p_.tFiles.SetText("");
    (void)p_.reloadFileList();
  }
}

void TransmitEngine::UnprepareQuietly() {
  // After an early end the user has just been told what went wrong; a failure to
  // withdraw the header from the port would only add a second notice.
  (void)p_.ports.OutUnprepareHeader(port_, &header_, midi::kMidiHdrSize);
}

}  // namespace transmit
