// A parser with recording boxes, scripted dialogs and a log file the test controls.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fakes/CountingPump.h"
#include "fakes/FailingLogFile.h"
#include "fakes/ScriptedDialogs.h"
#include "mc303/SysexIntake.h"
#include "roles/TextBox.h"

using Bytes = std::vector<std::uint8_t>;

inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// The bytes less the real-time ones that a capture never stores (active sensing, clock).
inline Bytes WithoutRealTime(Bytes b) {
  std::erase_if(b, [](std::uint8_t x) { return x == 0xFE || x == 0xF8; });
  return b;
}

// A message of exactly n bytes: F0, n - 2 data bytes of 0x11, F7.
inline Bytes Sysex(std::size_t n) {
  Bytes b(n, 0x11);
  b.front() = 0xF0;
  b.back() = 0xF7;
  return b;
}

struct ParserRig {
  mc303::SharedFlags flags;
  roles::TextBox piecesBox{16384};
  roles::TextBox reportBox{1024};
  CountingPump pump;
  ScriptedDialogs dialogs;
  FailingLogFile log;
  mc303::SysexIntake parse{flags, piecesBox, reportBox, pump, dialogs, log};

  ParserRig() {
    flags.RecordingActive = true;
    parse.ResetPieceStore();
  }

  // Feeds every byte; returns the results of the calls that returned false, as indexes.
  std::vector<std::size_t> Feed(const Bytes& bytes, bool report = true) {
    std::vector<std::size_t> falses;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      if (!parse.ParseMidiByte(bytes[i], report)) falses.push_back(i);
    }
    return falses;
  }

  const mc303::PieceStore& Store() const { return parse.Store(); }
  Bytes Pattern(int user) const { return parse.Store().PatternData[static_cast<std::size_t>(user - 1)]; }
};
