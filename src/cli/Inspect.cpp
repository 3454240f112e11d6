// inspect and split: the FILEs fed as a reload feeds them, every message accounted for.
#include <charconv>
#include <iostream>

#include "cli/Commands.h"
#include "cli/FeedFiles.h"
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

template <typename Number>
void AppendNumber(std::string& out, Number n) {
  char digits[24];
  out.append(digits, std::to_chars(digits, digits + sizeof digits, n).ptr);
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
// messages makes a document many times its size. Fields in the documented order, one
// array element per line.
class InspectJson {
 public:
  InspectJson(std::ostream& out, const std::vector<std::string>& names) : out_(out) {
    for (const std::string& name : names) names_.push_back(JsonText(name));
    out_ << "{\n  \"messages\": [";
  }
  void Message(const FedMessage& m) {
    const mc303::MessageReport& r = m.report;
    line_ = count_++ == 0 ? "\n    " : ",\n    ";
    line_ += "{\"file\":";
    line_ += names_[m.fileIndex];
    line_ += ",\"offset\":";
    AppendNumber(line_, m.offset);
    line_ += ",\"address\":[";
    for (std::size_t i = 0; i < 4; ++i) {
      if (i > 0) line_ += ',';
      AppendNumber(line_, r.address[i]);
    }
    line_ += "],\"data_count\":";
    AppendNumber(line_, r.dataCount);
    line_ += ",\"checksum\":{\"received\":";
    AppendNumber(line_, r.receivedChecksum);
    line_ += ",\"expected\":";
    AppendNumber(line_, r.expectedChecksum);
    line_ += r.outcome == mc303::MessageOutcome::BadChecksum ? ",\"ok\":false}" : ",\"ok\":true}";
    line_ += ",\"outcome\":\"";
    line_ += OutcomeName(r.outcome);
    if (HasPiece(r)) {
      line_ += "\",\"user\":";
      AppendNumber(line_, r.userNumber);
      line_ += ",\"kind\":\"";
      line_ += KindName(r.kind);
      line_ += "\"";
    } else {
      line_ += "\",\"user\":null,\"kind\":null";
    }
    line_ += ",\"report\":";
    AppendJsonText(line_, r.reportLine);
    line_ += '}';
    out_ << line_;
  }
  void End(const CliSession& session, const PieceTally& tally, const std::optional<std::string>& error) {
    const mc303::PieceStore& store = session.parse.Store();
    std::string text = count_ > 0 ? "\n  ],\n  \"slots\": [" : "],\n  \"slots\": [";
    int slots = 0;
    for (int s = 0; s < mc303::kUserSlots; ++s) {
      const auto i = static_cast<std::size_t>(s);
      if (!store.PatternPresent[i] && !store.SettingsPresent[i]) continue;
      text += slots++ == 0 ? "\n    {\"user\":" : ",\n    {\"user\":";
      AppendNumber(text, s + 1);
      text += ",\"pattern_bytes\":";
      AppendNumber(text, store.PatternPresent[i] ? tally.patternBytes[i] : 0);
      text += ",\"settings_bytes\":";
      AppendNumber(text, store.SettingsPresent[i] ? tally.settingsBytes[i] : 0);
      text += '}';
    }
    text += slots > 0 ? "\n  ],\n  \"pieces_box\": " : "],\n  \"pieces_box\": ";
    AppendJsonText(text, session.tPieces.Text());
    text += ",\n  \"pending_bytes\": ";
    AppendNumber(text, store.PendingBytes.size());
    text += ",\n  \"logged_bytes\": ";
    AppendNumber(text, session.parse.Log().ByteCount);
    if (error) {
      text += ",\n  \"error\": ";
      AppendJsonText(text, *error);
    }
    text += "\n}\n";
    out_ << text;
  }

 private:
  std::ostream& out_;
  std::vector<std::string> names_;  // as JSON strings, made once per file
  std::string line_;
  std::size_t count_ = 0;
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
    PrintBoxLines(session.tPieces.Text(), console.out);
    console.out << messages << " messages, " << bad << " bad checksums, " << duplicates << " duplicates, "
                << session.parse.Store().PendingBytes.size() << " bytes pending\n";
  }
  if (!fed) return kExitUsageOrIo;
  return bad > 0 || duplicates > 0 ? kExitDataProblem : kExitOk;
}

int RunSplit(const std::optional<std::string>& baseOption, const std::vector<std::string>& names, Console& console) {
  const auto finish = [&](int status, const std::vector<std::string>& written) {
    if (console.json) {
      std::string text = "{\n  \"files\": [";
      for (std::size_t i = 0; i < written.size(); ++i) {
        text += i == 0 ? "\n    " : ",\n    ";
        AppendJsonText(text, written[i]);
      }
      text += written.empty() ? "],\n  \"error\": " : "\n  ],\n  \"error\": ";
      text += console.JsonError();
      console.out << text << "\n}\n";
    } else {
      for (const std::string& path : written) console.out << path << '\n';
    }
    return status;
  };

  if (baseOption && baseOption->empty()) {
    console.Error("--base", "the name is empty");
    return finish(kExitUsageOrIo, {});
  }
  if (!baseOption && names.front() == kStandardStream) {
    console.Error(InputName(names.front()), "name the piece files with --base");
    return finish(kExitUsageOrIo, {});
  }
  std::vector<InputReader> inputs;
  if (!OpenInputFiles(names, inputs, console)) return finish(kExitUsageOrIo, {});
  CliSession session;
  PieceTally pieces;
  pieces.keepBytes = true;
  int bad = 0;
  int duplicates = 0;
  const bool fed = FeedAsReload(session, inputs, [&](const FedMessage& m) {
    const auto& r = m.report;
    if (r.outcome == mc303::MessageOutcome::BadChecksum) ++bad;
    if (r.outcome == mc303::MessageOutcome::Duplicate) ++duplicates;
    if (r.outcome == mc303::MessageOutcome::Duplicate || r.outcome == mc303::MessageOutcome::BadChecksum) {
      console.Warning(InputName(names[m.fileIndex]),
                      "at offset " + std::to_string(m.offset) + ": " + OutcomeText(r) + " (" + r.reportLine + ")");
    }
  }, pieces, console);
  if (!fed) return finish(kExitUsageOrIo, {});

  std::string named;
  for (const std::string& name : names) named += (named.empty() ? "" : ", ") + InputName(name);
  if (!AnyCompleteSlot(session.parse.Store())) {
    console.Error(named, "No user slot holds both its pattern data and its settings: nothing written.");
    return finish(kExitDataProblem, {});
  }
  std::string base = baseOption.value_or(names.front());
  if (!baseOption && mc303::HasSyxExtension(base)) base = base.substr(0, base.size() - 4);
  base = mc303::PieceBaseName(base);
  if (PieceFilesClash(PieceFilePaths(&session.parse.Store(), base), names, "the input ", console)) {
    return finish(kExitUsageOrIo, {});
  }
  const auto written = WritePieceFiles(session.parse.Store(), pieces, base, console);
  if (!written) return finish(kExitUsageOrIo, {});
  if (bad > 0 || duplicates > 0) {
    // Written as a capture's Stop writes them all the same; the damaged message lies in
    // front of the piece after it, in that piece's file.
    console.Error(named, std::to_string(bad) + " bad checksums, " + std::to_string(duplicates) +
                             " duplicates; the piece files are written as Stop writes them, a damaged message in "
                             "the file of the piece after it");
    return finish(kExitDataProblem, *written);
  }
  return finish(kExitOk, *written);
}

}  // namespace cli
