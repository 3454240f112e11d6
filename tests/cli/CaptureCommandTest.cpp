// vezorizer-cli capture on the fake layer, and the parts of the receive loop that need
// no window: when a capture ends, and how much of the Traffic box a new entry keeps.
#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <sstream>
#include <string>

#include "DumpGenerator.h"
#include "cli/MidiCommands.h"
#include "fakes/FakeMidiPorts.h"
#include "roles/AppendTraffic.h"
#include "support/RunCli.h"

namespace {

TEST(AppendTraffic, AnEntryThatWouldNotFitKeepsTheNewestHalfRoundedHalfToEven) {
  roles::TextBox box(174);
  std::string entries;
  for (int i = 0; i < 58; ++i) {
    roles::AppendTraffic(box, "AB ");
    entries += "AB ";
  }
  EXPECT_EQ(box.Text(), entries);  // 58 entries: 174 characters, exactly full
  roles::AppendTraffic(box, "CD ");
  EXPECT_EQ(box.Text(), entries.substr(174 - 87) + "CD ");
  // 174/2 = 87; 175/2 = 87.5 -> 88; 173/2 = 86.5 -> 86; 3/2 = 1.5 -> 2.
  for (const auto& [maximum, kept] : {std::pair{174, 87}, {175, 88}, {173, 86}, {3, 2}}) {
    EXPECT_EQ(roles::TrafficKeepLength(maximum), kept) << maximum;
  }
}

TEST(CaptureEnd, TheIdleTimeoutCountsFromTheLastByteAndOnlyAfterTheFirst) {
  using namespace std::chrono;
  const steady_clock::time_point t0{};
  cli::CaptureEnd end(milliseconds(3000));
  EXPECT_FALSE(end.Reached(0, t0 + seconds(100), false));  // nothing yet: wait for the dump
  EXPECT_FALSE(end.Reached(10, t0 + seconds(101), false));
  EXPECT_FALSE(end.Reached(10, t0 + milliseconds(103999), false));
  EXPECT_FALSE(end.Reached(20, t0 + seconds(104), false));  // a new byte restarts the wait
  EXPECT_TRUE(end.Reached(20, t0 + seconds(107), false));
  cli::CaptureEnd untimed(std::nullopt);
  EXPECT_FALSE(untimed.Reached(20, t0 + hours(1), false));
  EXPECT_TRUE(untimed.Reached(20, t0, true));
}

TEST(ChooseSlot, ASlotAWholeNameOrAPartOfOneNameOnlyElseTheCandidatesAreSaid) {
  const std::vector<std::string> names = {"MC-303 IN:a", "MC-303 IN:ab", "Other"};
  const std::string several = "'mc-303' matches several output ports, slots 0 (MC-303 IN:a), 1 (MC-303 IN:ab); "
                              "give the slot number or the whole name.";
  const struct {
    std::string wanted;
    std::optional<int> slot;
    std::string said;
  } cases[] = {{"1", 1, ""},
               {"mc-303 in:A", 0, ""},  // a whole name, though a part of the next one too
               {"in:ab", 1, ""},
               {"mc-303", std::nullopt, several},
               {"3", std::nullopt, "No output port matches '3'; see vezorizer-cli ports."},
               {"x", std::nullopt, "No output port matches 'x'; see vezorizer-cli ports."}};
  for (const auto& c : cases) {
    std::ostringstream out, err;
    cli::Console console{out, err};
    EXPECT_EQ(cli::ChooseSlot(c.wanted, names, "output", console), c.slot) << c.wanted;
    EXPECT_EQ(err.str(), c.said.empty() ? "" : "vezorizer-cli: " + c.said + "\n") << c.wanted;
  }
}

// A capture from the fake device's input into OUT.SYX in a folder of its own.
class Capture : public testing::Test {
 protected:
  Capture() { ports.AddSlot("Groovebox In", "Groovebox Out"); }
  ~Capture() override { std::filesystem::remove_all(dir); }
  int Run(const std::atomic<bool>& stop, std::optional<double> idleTimeoutSeconds, const cli::CaptureHooks& hooks = {}) {
    cli::CaptureOptions options;
    options.port = "GROOVE";
    options.idleTimeoutSeconds = idleTimeoutSeconds;
    options.overall = overall.string();
    options.base = base;
    return cli::RunCapture(options, ports, stop, console, hooks);
  }
  // Sends the message once the port is started, which the capture says before its first
  // pump as it records (the listing pumps too, and input to a port not started is
  // dropped); then, once the message has been parsed, does what comes after it.
  cli::CaptureHooks SendWhenRecording(const std::function<void()>& parsed) {
    cli::CaptureHooks hooks;
    hooks.onPump = [this, parsed, sent = false](std::uint64_t bytesParsed) mutable {
      if (!sent && err.str().find("Recording from") != std::string::npos) {
        ports.Receive(0, message);
        sent = true;
      }
      if (bytesParsed >= message.size()) parsed();
    };
    return hooks;
  }

  FakeMidiPorts ports;
  std::filesystem::path dir = FreshDir(testing::UnitTest::GetInstance()->current_test_info()->name());
  std::filesystem::path overall = dir / "OUT";
  std::optional<std::string> base;
  std::ostringstream out, err;
  cli::Console console{out, err};
  const std::uint8_t address[4] = {0x40, 0, 0, 0};
  std::vector<std::uint8_t> message = dumpgen::DataSetMessage(0x10, address, {1, 2, 3});
};

TEST_F(Capture, NothingReceivedSavesNothingAndSaysSo) {
  ports.Receive(0, {0xFE});  // active sensing alone records nothing
  const std::atomic<bool> stop{true};  // Ctrl-C before any byte
  EXPECT_EQ(Run(stop, std::nullopt), 1);
  EXPECT_NE(err.str().find("Recording from input slot 0 (Groovebox In)"), std::string::npos);
  EXPECT_NE(err.str().find("OUT.SYX: No data has been stored in the buffer yet.\n"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir / "OUT.SYX"));
  EXPECT_FALSE(ports.InputOpen(0));
}

TEST_F(Capture, AnOverallFileThatCannotBeWrittenIsFoundFirstAndAtTheEndTheRecordingIsKept) {
  const std::atomic<bool> stop{false};
  overall = dir / "gone" / "OUT";
  EXPECT_EQ(Run(stop, 0.2), 2);
  EXPECT_EQ(err.str().find("Recording from"), std::string::npos) << "nothing recorded for nothing";
  EXPECT_NE(err.str().find("gone/OUT.SYX: No such file or directory"), std::string::npos) << err.str();

  // The folder goes while the dump comes in.
  std::filesystem::create_directory(dir / "gone");
  EXPECT_EQ(Run(stop, 0.2, SendWhenRecording([this] { std::filesystem::remove_all(dir / "gone"); })), 2);
  std::smatch kept;
  const std::string said = err.str();
  ASSERT_TRUE(std::regex_search(said, kept, std::regex("the recording is kept in (\\S+)\n"))) << said;
  EXPECT_EQ(Slurp(kept[1].str()), std::string(message.begin(), message.end()));
  std::filesystem::remove(kept[1].str());
}

TEST_F(Capture, APieceFileThatIsTheOverallFileIsRefusedFirstAndDamageIsSavedButSaid) {
  overall = dir / "OUT_U01P";
  base = (dir / "OUT").string();
  EXPECT_EQ(Run(std::atomic<bool>{true}, 0.2), 2);
  EXPECT_EQ(err.str().find("Recording from"), std::string::npos) << "nothing recorded for nothing";
  EXPECT_NE(err.str().find("OUT_U01P.SYX: is the same file as the overall file "), std::string::npos) << err.str();

  overall = dir / "OUT";
  base.reset();
  message[message.size() - 2] ^= 1;  // a bad checksum
  EXPECT_EQ(Run(std::atomic<bool>{false}, 0.2, SendWhenRecording([] {})), 1);
  EXPECT_EQ(Slurp(dir / "OUT.SYX"), std::string(message.begin(), message.end()));
  EXPECT_NE(err.str().find("OUT.SYX: 1 messages had a bad checksum or repeated a piece"), std::string::npos) << err.str();
}

}  // namespace
