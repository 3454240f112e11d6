// vezorizer-cli renumber: a backup's pieces moved to other user slots and/or its device
// ID changed, written to a new file, so that two backups of one slot can be combined.
// In three steps: the options, the rewrite (mc303, on the bytes read), the writing.
#include <algorithm>
#include <charconv>
#include <filesystem>
#include <memory>
#include <string_view>

#include "cli/Commands.h"
#include "cli/FeedFiles.h"
#include "cli/OutputFile.h"
#include "cli/Subcommands.h"
#include "mc303/Renumber.h"
#include "mc303/SyxFiles.h"

namespace cli {
namespace {

constexpr std::uint8_t kMaxDeviceId = 31;

// "U07" as the Pieces box writes it: U and two digits, 01 to 50.
std::optional<int> UserNumberOf(std::string_view text) {
  if (text.size() != 3 || text[0] != 'U') return std::nullopt;
  int n = 0;
  const auto [end, ec] = std::from_chars(text.data() + 1, text.data() + 3, n);
  if (ec != std::errc() || end != text.data() + 3 || n < 1 || n > mc303::kUserSlots) return std::nullopt;
  return n;
}

// Every --map value's FROM=TO pairs in one map; a pair that is no pair, or that clashes
// with one before it, is bad usage and named.
std::optional<mc303::SlotMap> ParseMap(const std::vector<std::string>& values, Console& console) {
  mc303::SlotMap map;
  for (const std::string& value : values) {
    for (std::size_t start = 0; start <= value.size();) {
      const std::size_t comma = std::min(value.find(',', start), value.size());
      const std::string pair = value.substr(start, comma - start);
      start = comma + 1;
      const std::size_t eq = pair.find('=');
      const std::optional<int> from = UserNumberOf(std::string_view(pair).substr(0, eq));
      const std::optional<int> to =
          eq == std::string::npos ? std::nullopt : UserNumberOf(std::string_view(pair).substr(eq + 1));
      if (!from || !to) {
        console.Error("--map", "'" + pair + "' is not FROM=TO, two user slots from U01 to U50 (U07=U12)");
        return std::nullopt;
      }
      if (!map.Add(*from, *to)) {
        console.Error("--map", "'" + pair + "' moves " +
                                   (map.Moves(*from) ? UserName(*from) + " a second time"
                                                     : "a second slot to " + UserName(*to)));
        return std::nullopt;
      }
    }
  }
  return map;
}

// The device ID byte as written in the message: 0 to 31, decimal or 0x hex.
std::optional<std::uint8_t> ParseDeviceId(const std::string& text, Console& console) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const char* first = text.data() + (hex ? 2 : 0);
  const char* last = text.data() + text.size();
  unsigned value = 0;
  const auto [end, ec] = std::from_chars(first, last, value, hex ? 16 : 10);
  if (first == last || ec != std::errc() || end != last || value > kMaxDeviceId) {
    console.Error("--device-id", "'" + text + "' is not a device ID byte from 0 to 31 (decimal, or hex as 0x10; "
                                              "the MC-303's default unit number 17 is the byte 16)");
    return std::nullopt;
  }
  return static_cast<std::uint8_t>(value);
}

std::string RefusalText(const mc303::RenumberResult& r) {
  switch (r.refusal) {
    case mc303::RenumberRefusal::BadChecksum:
      return "holds " + std::to_string(r.badChecksums) +
             " messages with a bad checksum, which renumbering would make look whole; nothing written";
    case mc303::RenumberRefusal::FromNotHeld:
      return "holds nothing of " + UserName(r.refusedUser) + " to move; nothing written";
    case mc303::RenumberRefusal::ToHeld:
      return "holds " + UserName(r.refusedUser) + " already, and it is not moved away; nothing written";
    case mc303::RenumberRefusal::None: break;
  }
  return {};
}

}  // namespace

int RunRenumber(const RenumberOptions& options, Console& console) {
  const std::optional<mc303::SlotMap> map = ParseMap(options.maps, console);
  if (!map) return kExitUsageOrIo;
  std::optional<std::uint8_t> deviceId;
  if (options.deviceId && !(deviceId = ParseDeviceId(*options.deviceId, console))) return kExitUsageOrIo;
  if (map->Empty() && !deviceId) {
    console.Error("nothing to change: give --map, --device-id or both (see vezorizer-cli help renumber)");
    return kExitUsageOrIo;
  }
  if (OutputFile::Refuses(options.out, "-o", console)) return kExitUsageOrIo;
  const std::string path = options.out == kStandardStream ? options.out : mc303::OverallFileName(options.out);
  // Written over its input, a refused or failed run could leave the only copy changed.
  std::error_code ec;
  if (options.file != kStandardStream && path != kStandardStream && std::filesystem::equivalent(options.file, path, ec)) {
    console.Error(path, "is the same file as the input " + options.file + "; nothing written");
    return kExitUsageOrIo;
  }
  std::vector<std::uint8_t> bytes;
  if (auto error = ReadInputFile(options.file, bytes)) {
    console.Error(InputName(options.file), *error);
    return kExitUsageOrIo;
  }

  const mc303::RenumberResult result = mc303::Renumber(bytes, *map, deviceId);
  if (result.refusal != mc303::RenumberRefusal::None) {
    console.Error(InputName(options.file), RefusalText(result));
    return kExitDataProblem;
  }

  OutputFile output(console);
  if (!output.Open(path) || !output.Write(result.bytes.data(), result.bytes.size()) || !output.Commit()) {
    return kExitUsageOrIo;  // said by the file
  }
  console.Warning(OutputName(path), std::to_string(result.messagesRewritten) + " messages rewritten");
  return kExitOk;
}

void AddRenumberCommand(CLI::App& app, int& status, Console& console) {
  auto options = std::make_shared<RenumberOptions>();
  CLI::App* sub = app.add_subcommand("renumber", "Move FILE's pieces to other user slots, or set its device ID");
  sub->add_option("--map", options->maps,
                  "FROM=TO[,FROM=TO...]: every message of slot FROM goes to slot TO (U07=U12); swaps allowed")
      ->expected(1)
      ->allow_extra_args(false)
      ->take_all();
  sub->add_option("--device-id", options->deviceId,
                  "The device ID byte of every message: 0 to 31, decimal or 0x hex (unit 17 is 16, 0x10)");
  sub->add_option("-o,--output", options->out,
                  "The renumbered file (.SYX is appended unless the name ends in .SYX or .syx); - for standard output")
      ->required();
  AddCommonFlags(*sub, console, false);
  sub->add_option("FILE", options->file, "A .SYX file or Standard MIDI File (its SysEx); - for standard input")
      ->required();
  sub->callback([options, &status, &console] { status = RunRenumber(*options, console); });
}

}  // namespace cli
