// inspect and split: the FILEs fed as a reload feeds them, every message accounted for.
#include <iostream>

#include "cli/Commands.h"
#include "cli/FeedFiles.h"
#include "cli/JsonWriter.h"
#include "cli/SavePieces.h"
#include "mc303/SyxFiles.h"

namespace cli {
namespace {

std::string OutcomeText(const mc303::MessageReport& r) {
  switch (r.outcome) {
    case mc303::MessageOutcome::NoPiece: return "no piece";
    case mc303::MessageOutcome::BadChecksum: return "bad checksum";
    default: return UserName(r.userNumber) + " " + KindName(r.kind) + " " + OutcomeName(r.outcome);
  }
}

bool HasPiece(const mc303::MessageReport& r) {
  return r.outcome == mc303::MessageOutcome::New || r.outcome == mc303::MessageOutcome::Continued ||
         r.outcome == mc303::MessageOutcome::Duplicate;
}

// The box's lines, each ended by the platform's newline instead of its CR LF run.
void PrintBoxLines(const std::string& text, std::ostream& out) {
  std::string line;
  bool inBreak = false;
  for (char c : text) {
    if (c == '\r' || c == '\n') {
      inBreak = true;
      continue;
    }
    if (inBreak) {
      out << line << '\n';
      line.clear();
      inBreak = false;
    }
    line += c;
  }
  if (inBreak || !line.empty()) out << line << '\n';
}

// The JSON document is written as the messages come, never held whole: a dump of short
// messages makes a document many times its size.
class InspectJson {
 public:
  InspectJson(std::ostream& out, const std::vector<std::string>& names) : names_(names), json_(out) {
    json_.List("messages");
  }
  void Message(const FedMessage& m) {
    const mc303::MessageReport& r = m.report;
    const bool piece = HasPiece(r);
    json_.Item({{"file", names_[m.fileIndex]},
                {"offset", m.offset},
                {"address", r.address},
                {"data_count", r.dataCount},
                {"checksum",
                 {{"received", r.receivedChecksum},
                  {"expected", r.expectedChecksum},
                  {"ok", r.outcome != mc303::MessageOutcome::BadChecksum}}},
                {"outcome", OutcomeName(r.outcome)},
                {"user", piece ? Json(r.userNumber) : Json(nullptr)},
                {"kind", piece ? Json(KindName(r.kind)) : Json(nullptr)},
                {"report", r.reportLine}});
  }
  void End(const CliSession& session, const PieceTally& tally, const std::optional<std::string>& error) {
    const mc303::PieceStore& store = session.parse.Store();
    json_.List("slots");
    for (std::size_t i = 0; i < mc303::kUserSlots; ++i) {
      if (!store.PatternPresent[i] && !store.SettingsPresent[i]) continue;
      json_.Item({{"user", i + 1},
                  {"pattern_bytes", store.PatternPresent[i] ? tally.patternBytes[i] : 0},
                  {"settings_bytes", store.SettingsPresent[i] ? tally.settingsBytes[i] : 0}});
    }
    json_.Field("pieces_box", session.piecesBox.Text())
        .Field("pending_bytes", store.PendingBytes.size())
        .Field("logged_bytes", session.parse.Log().ByteCount);
    if (error) json_.Field("error", *error);
    json_.End();
  }

 private:
  const std::vector<std::string> names_;
  JsonWriter json_;
};

}  // namespace

int RunInspect(const std::vector<std::string>& names, Console& console) {
  std::vector<InputReader> inputs;
  CliSession session;
  PieceTally tally;  // the pieces' sizes are shown, never their bytes
  if (!OpenInputFiles(names, inputs, console)) {
    if (console.json) InspectJson(console.out, {}).End(session, tally, console.FirstError());
    return kExitUsageOrIo;
  }
  int bad = 0;
  int duplicates = 0;
  std::size_t messages = 0;
  std::optional<InspectJson> json;
  if (console.json) json.emplace(console.out, names);
  std::string line;
  const bool fed = FeedAsReload(session, inputs, [&](const FedMessage& m) {
    ++messages;
    if (m.report.outcome == mc303::MessageOutcome::BadChecksum) ++bad;
    if (m.report.outcome == mc303::MessageOutcome::Duplicate) ++duplicates;
    if (json) {
      json->Message(m);
      return;
    }
    line = m.report.reportLine;
    line += "  [";
    line += OutcomeText(m.report);
    line += "]\n";
    console.out << line;
  }, tally, console);

  if (json) {
    json->End(session, tally, console.FirstError());
  } else if (fed) {
    PrintBoxLines(session.piecesBox.Text(), console.out);
    console.out << messages << " messages, " << bad << " bad checksums, " << duplicates << " duplicates, "
                << session.parse.Store().PendingBytes.size() << " bytes pending\n";
  }
  if (!fed) return kExitUsageOrIo;
  return bad > 0 || duplicates > 0 ? kExitDataProblem : kExitOk;
}

namespace {

// The piece files written, or nothing, and how the run ended.
struct SplitResult {
  int status = kExitOk;
  std::vector<std::string> written;
};

int ReportSplit(const SplitResult& result, Console& console) {
  if (console.json) {
    JsonWriter(console.out).Field("files", result.written).Field("error", TextOrNull(console.FirstError())).End();
  } else {
    for (const std::string& path : result.written) console.out << path << '\n';
  }
  return result.status;
}

struct Damage {
  int bad = 0;
  int duplicates = 0;
};

// The messages fed, each damaged one said as it comes; nothing when an input failed.
std::optional<Damage> FeedForSplit(CliSession& session, PieceTally& pieces, const std::vector<std::string>& names,
                                Console& console) {
  std::vector<InputReader> inputs;
  if (!OpenInputFiles(names, inputs, console)) return std::nullopt;
  Damage damage;
  const bool fed = FeedAsReload(session, inputs, [&](const FedMessage& m) {
    const auto& r = m.report;
    if (r.outcome == mc303::MessageOutcome::BadChecksum) ++damage.bad;
    if (r.outcome == mc303::MessageOutcome::Duplicate) ++damage.duplicates;
    if (r.outcome == mc303::MessageOutcome::Duplicate || r.outcome == mc303::MessageOutcome::BadChecksum) {
      console.Warning(InputName(names[m.fileIndex]),
                      "at offset " + std::to_string(m.offset) + ": " + OutcomeText(r) + " (" + r.reportLine + ")");
    }
  }, pieces, console);
  return fed ? std::optional<Damage>(damage) : std::nullopt;
}

SplitResult Split(const std::optional<std::string>& baseOption, const std::vector<std::string>& names,
                  Console& console) {
  if (baseOption && baseOption->empty()) {
    console.Error("--base", "the name is empty");
    return {kExitUsageOrIo, {}};
  }
  if (!baseOption && names.front() == kStandardStream) {
    console.Error(InputName(names.front()), "name the piece files with --base");
    return {kExitUsageOrIo, {}};
  }
  CliSession session;
  PieceTally pieces;
  pieces.keepBytes = true;
  const std::optional<Damage> damage = FeedForSplit(session, pieces, names, console);
  if (!damage) return {kExitUsageOrIo, {}};

  std::string named;
  for (const std::string& name : names) named += (named.empty() ? "" : ", ") + InputName(name);
  if (!AnyCompleteSlot(session.parse.Store())) {
    console.Error(named, "No user slot holds both its pattern data and its settings: nothing written.");
    return {kExitDataProblem, {}};
  }
  std::string base = baseOption.value_or(names.front());
  if (!baseOption && mc303::HasSyxExtension(base)) base = base.substr(0, base.size() - 4);
  base = mc303::PieceBaseName(base);
  if (PieceFilesClash(PieceFilePaths(&session.parse.Store(), base), names, "the input ", console)) {
    return {kExitUsageOrIo, {}};
  }
  auto written = WritePieceFiles(session.parse.Store(), pieces, base, console);
  if (!written) return {kExitUsageOrIo, {}};
  if (damage->bad > 0 || damage->duplicates > 0) {
    // Written as a capture's Stop writes them all the same; the damaged message lies in
    // front of the piece after it, in that piece's file.
    console.Error(named, std::to_string(damage->bad) + " bad checksums, " + std::to_string(damage->duplicates) +
                             " duplicates; the piece files are written as Stop writes them, a damaged message in "
                             "the file of the piece after it");
    return {kExitDataProblem, std::move(*written)};
  }
  return {kExitOk, std::move(*written)};
}

}  // namespace

int RunSplit(const std::optional<std::string>& base, const std::vector<std::string>& names, Console& console) {
  return ReportSplit(Split(base, names, console), console);
}

}  // namespace cli
