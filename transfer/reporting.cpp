#include "transfer/reporting.h"

namespace {

const char* const kHeaderMismatch = "Column header in source file does not match the database table fields!";

std::string CountText(std::int64_t count, const std::string& tableName, const char* done,
                      const std::string& path) {
  return std::to_string(count) + " records of table '" + tableName + "' has been " + done + " into file '" +
         path + "'";
}

}  // namespace

std::string ResultText(const TTransferResult& result) {
  if (result.direction == TTransferDirection::tdExport) {
    if (result.stopped) {
      const std::string what = result.tableName.empty() ? "the query" : "table '" + result.tableName + "'";
      return "Export of " + what + " stopped: nothing was written into file '" + result.path + "'";
    }
    if (result.tableName.empty()) {
      return std::to_string(result.rows) + " records of the query have been exported into file '" +
             result.path + "'";
    }
    return CountText(result.rows, result.tableName, "exported", result.path);
  }
  if (result.headerMismatch) {
    std::string text = kHeaderMismatch;
    for (std::size_t i = 0; i < result.headerProblems.size(); ++i) {
      text += (i ? "\n" : "\n\n") + result.headerProblems[i];
    }
    return text;
  }
  std::string text;
  if (result.dryRun) {
    text = "Dry run: " + std::to_string(result.rows) + " records of table '" + result.tableName +
           "' would have been imported from file '" + result.path +
           "'; nothing was changed, except that generators and identity columns may have advanced (no "
           "rollback takes their values back)";
  } else if (result.rolledBack) {
    text = "No records of table '" + result.tableName + "' were imported from file '" + result.path +
           "': the import was undone and the table is as it was";
  } else {
    text = CountText(result.rows, result.tableName, "imported", result.path);
  }
  const bool one = result.refused == 1;
  // An import a refused line ended and undid ended at that line, not at the
  // line it started from, where nothing was committed.
  const bool endedByRefusal = result.stopped && result.refusalStopLine > 0 && result.rejectedPath.empty();
  const std::string stopLine = std::to_string(result.refusalStopLine);
  if (endedByRefusal && one) {
    text += ". Line " + stopLine + " was refused, which ended the import";
  } else if (endedByRefusal) {
    text +=
        ". " + std::to_string(result.refused) + " lines were refused; line " + stopLine + " ended the import";
  } else if (result.refused > 0) {
    text += ". " + std::to_string(result.refused) + (one ? " line was" : " lines were") + " refused";
  }
  if (result.refused > 0 && result.rejectedPath.empty()) {
    text += "; as the import was undone, no refused line was kept";
  } else if (result.refused > 0) {
    text += std::string("; ") + (one ? "it is" : "they are") + " kept in file '" + result.rejectedPath + "'";
  }
  if (result.stopped && !endedByRefusal) {
    text += ". The import stopped at line " + std::to_string(result.stoppedAtLine) +
            "; that line and the ones after it were not imported";
  }
  return text;
}
