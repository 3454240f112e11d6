// Cuts a MIDI byte stream into SysEx messages as a MIDI receiver does: a message runs
// from 0xF0 to 0xF7; any other status byte breaks it off; bytes outside a message are
// not SysEx and are passed over. Real-time bytes (0xF8-0xFF) never reach the framer:
// the caller takes them out first, as a UART does.
#pragma once

#include <cstddef>
#include <cstdint>

#include "DataSet.h"

namespace mc303sim {

class SysexFramer {
 public:
  // Far above any message of the device (a data set holds at most a few hundred bytes):
  // a stream that never ends its message must not grow without bound.
  static constexpr std::size_t kMaxMessageBytes = 65536;

  // True when this byte completed a message, which Message() then holds until the next
  // Push.
  bool Push(std::uint8_t byte) {
    if (byte == 0xF0) {
      message_.assign(1, byte);
      inMessage_ = true;
      return false;
    }
    if (!inMessage_) return false;
    if (byte >= 0x80 && byte != 0xF7) {
      Abandon();
      return false;
    }
    if (message_.size() >= kMaxMessageBytes) {
      Abandon();
      return false;
    }
    message_.push_back(byte);
    if (byte != 0xF7) return false;
    inMessage_ = false;
    return true;
  }

  // Drops the message under way (a byte of it was lost); the framer waits for the next 0xF0.
  void Abandon() {
    inMessage_ = false;
    message_.clear();
  }

  bool InMessage() const { return inMessage_; }
  // The completed message, or while InMessage() the bytes of the message so far.
  const Bytes& Message() const { return message_; }

 private:
  Bytes message_;
  bool inMessage_ = false;
};

}  // namespace mc303sim
