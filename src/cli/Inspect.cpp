#include <iostream>
#include <nlohmann/json.hpp>

#include "cli/Commands.h"
#include "cli/FeedFiles.h"
#include "cli/SavePieces.h"
#include "mc303/SyxFiles.h"

namespace cli {
namespace {

std::string UserText(int user) {
  return std::string("U") + static_cast<char>('0' + user / 10) + static_cast<char>('0' + user % 10);
}

std::string OutcomeText(const mc303::MessageReport& r) {
  switch (r.outcome) {
    case mc303::MessageOutcome::NoPiece: return "no piece";
    case mc303::MessageOutcome::BadChecksum: return "bad checksum";
    default: return UserText(r.userNumber) + " " + KindName(r.kind) + " " + OutcomeName(r.outcome);
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

// Fields in the documented order, one array element per line, so that the output
// reads like the documentation and diffs well.
void PrintJsonDocument(const nlohmann::ordered_json& doc, std::ostream& out) {
  const auto dump = [](const nlohmann::ordered_json& j) {
    return j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
  };
  out << "{\n";
  std::size_t field = 0;
  for (const auto& [key, value] : doc.items()) {
    out << "  " << dump(key) << ": ";
    if (value.is_array() && !value.empty()) {
      out << "[\n";
      for (std::size_t i = 0; i < value.size(); ++i) {
        out << "    " << dump(value[i]) << (i + 1 < value.size() ? ",\n" : "\n");
      }
      out << "  ]";
    } else {
      out << dump(value);
    }
    out << (++field < doc.size() ? ",\n" : "\n");
  }
  out << "}\n";
}

std::size_t PendingCount(const CliSession& s) { return s.parse.Store().PendingBytes.size(); }

}  // namespace

int RunInspect(bool asJson, const std::vector<std::string>& names, std::ostream& out) {
  std::vector<InputFile> files;
  if (!LoadInputFiles(names, files)) return kExitUsageOrIo;
  CliSession session;
  const std::vector<FedMessage> messages = FeedAsReload(session, files);

  int bad = 0;
  int duplicates = 0;
  for (const FedMessage& m : messages) {
    if (m.report.outcome == mc303::MessageOutcome::BadChecksum) ++bad;
    if (m.report.outcome == mc303::MessageOutcome::Duplicate) ++duplicates;
  }
  const auto& store = session.parse.Store();

  if (asJson) {
    using json = nlohmann::ordered_json;
    json doc;
    doc["messages"] = json::array();
    for (const FedMessage& m : messages) {
      const auto& r = m.report;
      json j;
      j["file"] = files[m.fileIndex].name;
      j["offset"] = m.offset;
      j["address"] = json::array({r.address[0], r.address[1], r.address[2], r.address[3]});
      j["data_count"] = r.dataCount;
      j["checksum"] = {{"received", r.receivedChecksum},
                       {"expected", r.expectedChecksum},
                       {"ok", r.outcome != mc303::MessageOutcome::BadChecksum}};
      j["outcome"] = OutcomeName(r.outcome);
      j["user"] = HasPiece(r) ? json(r.userNumber) : json(nullptr);
      j["kind"] = HasPiece(r) ? json(KindName(r.kind)) : json(nullptr);
      j["report"] = r.reportLine;
      doc["messages"].push_back(std::move(j));
    }
    doc["slots"] = json::array();
    for (int s = 0; s < mc303::kUserSlots; ++s) {
      const auto i = static_cast<std::size_t>(s);
      if (!store.PatternPresent[i] && !store.SettingsPresent[i]) continue;
      doc["slots"].push_back({{"user", s + 1},
                              {"pattern_bytes", store.PatternPresent[i] ? store.PatternData[i].size() : 0},
                              {"settings_bytes", store.SettingsPresent[i] ? store.SettingsData[i].size() : 0}});
    }
    doc["pieces_box"] = session.tPieces.Text();
    doc["pending_bytes"] = PendingCount(session);
    doc["logged_bytes"] = session.parse.Log().ByteCount;
    PrintJsonDocument(doc, out);
  } else {
    for (const FedMessage& m : messages) out << m.report.reportLine << "  [" << OutcomeText(m.report) << "]\n";
    PrintBoxLines(session.tPieces.Text(), out);
    out << messages.size() << " messages, " << bad << " bad checksums, " << duplicates << " duplicates, "
              << PendingCount(session) << " bytes pending\n";
  }
  return bad > 0 || duplicates > 0 ? kExitDataProblem : kExitOk;
}

int RunSplit(const std::optional<std::string>& baseOption, const std::vector<std::string>& names) {
  std::vector<InputFile> files;
  if (!LoadInputFiles(names, files)) return kExitUsageOrIo;
  CliSession session;
  const std::vector<FedMessage> messages = FeedAsReload(session, files);
  for (const FedMessage& m : messages) {
    const auto& r = m.report;
    if (r.outcome == mc303::MessageOutcome::Duplicate || r.outcome == mc303::MessageOutcome::BadChecksum) {
      std::cerr << "warning: " << files[m.fileIndex].name << " at offset " << m.offset << ": "
                << OutcomeText(r) << " (" << r.reportLine << ")\n";
    }
  }

  const auto& store = session.parse.Store();
  if (!AnyCompleteSlot(store)) {
    std::cerr << "No user slot holds both its pattern data and its settings: nothing written.\n";
    return kExitDataProblem;
  }

  std::string base = baseOption.value_or(names.front());
  if (!baseOption && mc303::HasSyxExtension(base)) base = base.substr(0, base.size() - 4);
  return WritePieceFiles(store, mc303::PieceBaseName(base), std::cout, std::cerr);
}

}  // namespace cli
