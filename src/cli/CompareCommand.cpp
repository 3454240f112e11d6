// vezorizer-cli compare: which pieces of two backups differ ("which of my patterns did
// I change since last month's backup?"). In three steps: the options, the comparison
// (mc303, on the bytes read), the report as text or JSON.
#include <memory>

#include "cli/Commands.h"
#include "cli/FeedFiles.h"
#include "cli/JsonWriter.h"
#include "cli/Subcommands.h"
#include "mc303/Backup.h"

namespace cli {
namespace {

struct CompareTotals {
  int same = 0;
  int differ = 0;
  int onlyA = 0;
  int onlyB = 0;

  explicit CompareTotals(const std::vector<mc303::PieceComparison>& pieces) {
    for (const mc303::PieceComparison& p : pieces) {
      switch (p.status) {
        case mc303::PieceStatus::Same: ++same; break;
        case mc303::PieceStatus::Differs: ++differ; break;
        case mc303::PieceStatus::OnlyA: ++onlyA; break;
        case mc303::PieceStatus::OnlyB: ++onlyB; break;
      }
    }
  }
  bool AnyDifference() const { return differ + onlyA + onlyB > 0; }
};

const char* StatusName(mc303::PieceStatus status) {
  switch (status) {
    case mc303::PieceStatus::Same: return "same";
    case mc303::PieceStatus::Differs: return "differs";
    case mc303::PieceStatus::OnlyA: return "only-a";
    case mc303::PieceStatus::OnlyB: return "only-b";
  }
  return "differs";
}

void ReportText(const std::vector<mc303::PieceComparison>& pieces, std::ostream& out) {
  for (const mc303::PieceComparison& p : pieces) {
    if (p.status == mc303::PieceStatus::Same) continue;
    out << UserName(p.userNumber) << ' ' << KindName(p.kind) << ' ' << StatusName(p.status) << '\n';
  }
  const CompareTotals t(pieces);
  out << t.same << " same, " << t.differ << " differ, " << t.onlyA << " only in A, " << t.onlyB << " only in B\n";
}

void ReportJson(const std::vector<mc303::PieceComparison>& pieces, const std::optional<std::string>& error,
                std::ostream& out) {
  Json parts = Json::array();
  for (const mc303::PieceComparison& p : pieces) {
    parts.push_back({{"user", p.userNumber}, {"kind", KindName(p.kind)}, {"status", StatusName(p.status)}});
  }
  const CompareTotals t(pieces);
  JsonWriter json(out);
  json.Field("parts", parts).Field("same", t.same).Field("differ", t.differ).Field("only_a", t.onlyA);
  json.Field("only_b", t.onlyB);
  if (error) json.Field("error", *error);
  json.End();
}

// A backup should hold neither; the file is compared as fed all the same.
void SayWhatIsAmiss(const std::string& name, const mc303::Backup& backup, Console& console) {
  if (backup.badChecksums == 0 && backup.duplicates == 0) return;
  console.Warning(InputName(name), std::to_string(backup.badChecksums) + " bad checksums, " +
                                       std::to_string(backup.duplicates) + " duplicates; compared as fed");
}

}  // namespace

int RunCompare(const CompareOptions& options, Console& console) {
  std::vector<InputFile> files;
  if (!LoadInputFiles({options.a, options.b}, files, console)) {
    if (console.json) ReportJson({}, console.FirstError(), console.out);
    return kExitUsageOrIo;
  }
  std::array<mc303::Backup, 2> backups;
  for (std::size_t i = 0; i < files.size(); ++i) {
    backups[i] = mc303::ReadBackup(files[i].bytes);
    files[i].bytes = {};  // the pieces hold what is compared
    SayWhatIsAmiss(files[i].name, backups[i], console);
  }

  const std::vector<mc303::PieceComparison> pieces = mc303::CompareBackups(backups[0], backups[1]);
  if (console.json) ReportJson(pieces, std::nullopt, console.out);
  else ReportText(pieces, console.out);
  return CompareTotals(pieces).AnyDifference() ? kExitDataProblem : kExitOk;
}

void AddCompareCommand(CLI::App& app, int& status, Console& console) {
  auto options = std::make_shared<CompareOptions>();
  CLI::App* sub = app.add_subcommand("compare", "Tell which pieces of two backups are the same, differ or are in one only");
  AddCommonFlags(*sub, console, true);
  sub->add_option("A", options->a, "A .SYX file or Standard MIDI File (its SysEx); - for standard input")->required();
  sub->add_option("B", options->b, "The backup to compare it with; - for standard input")->required();
  sub->callback([options, &status, &console] { status = RunCompare(*options, console); });
}

}  // namespace cli
