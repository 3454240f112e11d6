// The real window program offscreen, as the scenario tests drive it: the fake MIDI
// layer, scripted dialogs, a test pump in which queued clicks and keys run nested in
// the receive loop's event processing, and Timer3 on a fake millisecond clock that
// advances one millisecond at each pump while the timer runs, so a Send's pauses pass
// without real time.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QPushButton>
#include <QTextCursor>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DumpGenerator.h"
#include "app/Program.h"
#include "fakes/CountingPump.h"
#include "fakes/FakeMidiPorts.h"
#include "fakes/ScriptedDialogs.h"
#include "filelist/ListText.h"
#include "support/ParserRig.h"
#include "support/RunCli.h"
#include "transmit/Clock.h"
#include "ui/TextBoxView.h"

namespace apptest {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

inline constexpr const char* kPrompt = "PRESS START\r\nBEFORE DOING\r\nBULK DUMP!";

inline Bytes ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline Bytes WithoutActiveSensing(const Bytes& bytes) {
  Bytes out;
  std::copy_if(bytes.begin(), bytes.end(), std::back_inserter(out), [](std::uint8_t b) { return b != 0xFE; });
  return out;
}

// One 14-byte message: the pattern (0x40 + slot) or settings (0x14 slot) of a user slot.
inline Bytes Piece(int user, bool settings, std::uint8_t data = 0x11) {
  const std::uint8_t address[4] = {static_cast<std::uint8_t>(settings ? 0x14 : 0x3F + user),
                                   static_cast<std::uint8_t>(settings ? user - 1 : 0), 0, 0};
  return dumpgen::DataSetMessage(0x10, address, {data, 0x22});
}

// Stands still until the pump moves it.
class FakeClock final : public transmit::Clock {
 public:
  std::uint32_t NowMs() override { return now; }
  std::uint32_t now = 90000;
};

class Window : public testing::Test {
 protected:
  Window() {
    ports.AddSlot("MC-303 In", "MC-303 Out");
    fs::create_directories(dir_ / "prog");
    program = std::make_unique<app::Program>(
        app::ProgramEnvironment{ports, dialogs, pump, allocator, dir_ / "prog", &clock});
    pump.onPump = [this] { OnPump(); };
  }
  ~Window() override {
    program.reset();
    fs::remove_all(dir_);
  }
  void SetUp() override {
    ASSERT_TRUE(program->StartUp());
    w = &program->Window();
  }

  // Runs the action inside the receive loop's event processing, then passes until
  // everything sent has been received and handled.
  void Do(std::function<void()> action) {
    actions_.push_back(std::move(action));
    Settle();
  }
  void Press(QPushButton* button) {
    Do([button] { button->click(); });
  }
  void Receive(const Bytes& bytes) {
    ports.SendSysex(0, bytes);
    Settle();
  }
  void Add(const std::string& path) {
    dialogs.paths.push_back(path);
    Press(w->bAdd);
  }
  // A key going down in the Files box, with the caret or selection from anchor to
  // position in the widget's own characters (one per line break).
  void FilesKey(int anchor, int position, Qt::Key key, const QString& text) {
    Do([=, this] {
      ui::TextBoxView& view = *w->tFiles;
      QTextCursor c = view.textCursor();
      c.setPosition(anchor);
      c.setPosition(position, QTextCursor::KeepAnchor);
      view.setTextCursor(c);
      QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier, text);
      QCoreApplication::sendEvent(&view, &event);
    });
  }

  std::string At(const std::string& name) const { return (dir_ / name).string(); }
  std::string File(const std::string& name, const Bytes& bytes) const {
    WriteBytes(dir_ / name, bytes);
    return At(name);
  }
  Bytes Outfile() const { return ReadFile(dir_ / "prog" / "OUTFILE.SYX"); }
  ui::MainBoxes& Boxes() { return program->Boxes(); }
  Strings Listed() {
    Strings names;
    const std::string& text = Boxes().tFiles.Text();
    for (const auto& l : filelist::CompleteLines(text)) {
      names.push_back(fs::path(text.substr(l.start, l.contentEnd - l.start)).filename().string());
    }
    return names;
  }
  // The messages shown, less the Start instruction.
  Strings Shown() const {
    Strings t;
    for (const ShownMessage& m : dialogs.messages) {
      if (m.title != "Press OK Button") t.push_back(m.text);
    }
    return t;
  }

  fs::path dir_ = FreshDir(testing::UnitTest::GetInstance()->current_test_info()->name());
  FakeMidiPorts ports;
  ScriptedDialogs dialogs;
  CountingPump pump;
  FakeClock clock;
  midi::HeapBlockAllocator allocator;
  std::unique_ptr<app::Program> program;  // after what it uses, so it goes first
  ui::fMIDI* w = nullptr;
  std::function<void()> duringPump;  // runs in every event pump, after any action

 private:
  void OnPump() {
    ui::fTitle* title = program->TitleWindow();
    if (title != nullptr && title->Showing()) title->Timer1Tick();  // each pump is one of its ticks
    // Timer3 is a 1 ms timer: while it runs, each pump is a millisecond and a tick.
    if (w != nullptr && w->Timer3.isActive()) {
      ++clock.now;
      w->Timer3Tick();
    }
    if (!actions_.empty()) {
      const std::function<void()> action = std::move(actions_.front());
      actions_.pop_front();
      action();
    }
    if (duringPump) duringPump();
  }

  void Settle() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (;;) {
      if (program->Loop().RunPass() != app::ReceiveLoop::Pass::Idle || !actions_.empty()) continue;
      // Idle, and nothing on its way: one more pass picks up what was delivered since.
      if (ports.WaitUntilDelivered(std::chrono::milliseconds(0))) {
        if (program->Loop().RunPass() != app::ReceiveLoop::Pass::Worked) return;
        continue;
      }
      ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "input still on its way";
      program->Rings().wake.WaitFor(std::chrono::milliseconds(5));
    }
  }

  std::deque<std::function<void()>> actions_;
};

}  // namespace apptest
