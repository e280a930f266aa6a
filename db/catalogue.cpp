#include "db/catalogue.h"

#include <algorithm>
#include <cstdlib>

#include "db/sql_command.h"
#include "db/sql_connection.h"
#include "db/sql_dataset.h"

namespace {

std::vector<std::string> SplitList(const std::string& list, char separator) {
  std::vector<std::string> items;
  std::size_t begin = 0;
  while (begin < list.size()) {
    const std::size_t end = std::min(list.find(separator, begin), list.size());
    items.push_back(list.substr(begin, end - begin));
    begin = end + 1;
  }
  return items;
}

// The rows of a query that lists them as one text: rows apart by
// ASCII_CHAR(1), the columns of a row by ASCII_CHAR(2).
std::vector<std::vector<std::string>> ListedRows(TSQLCommand& query) {
  std::vector<std::vector<std::string>> rows;
  for (const std::string& row : SplitList(query.ExecuteForText(), '\1')) rows.push_back(SplitList(row, '\2'));
  return rows;
}

// The table's COMPUTED BY columns ("C" and the name) and the columns a row
// needs a value for ("R" and the name).
std::vector<std::string> MarkedColumns(TSQLConnection& connection, const std::string& tableName) {
  TSQLCommand query(connection);
  query.Prepare(
      "SELECT LIST(CASE "
      "WHEN F.RDB$COMPUTED_BLR IS NOT NULL THEN 'C' || TRIM(TRAILING FROM RF.RDB$FIELD_NAME) "
      "WHEN COALESCE(RF.RDB$NULL_FLAG, F.RDB$NULL_FLAG, 0) = 1 AND RF.RDB$DEFAULT_SOURCE IS NULL "
      "AND F.RDB$DEFAULT_SOURCE IS NULL AND RF.RDB$IDENTITY_TYPE IS NULL AND NOT EXISTS ("
      "SELECT 1 FROM RDB$TRIGGERS T WHERE T.RDB$RELATION_NAME = RF.RDB$RELATION_NAME "
      "AND MOD(T.RDB$TRIGGER_TYPE, 2) = 1 AND COALESCE(T.RDB$TRIGGER_INACTIVE, 0) = 0) "
      "THEN 'R' || TRIM(TRAILING FROM RF.RDB$FIELD_NAME) END, ASCII_CHAR(1)) "
      "FROM RDB$RELATION_FIELDS RF JOIN RDB$FIELDS F ON F.RDB$FIELD_NAME = RF.RDB$FIELD_SOURCE "
      "WHERE RF.RDB$RELATION_NAME = ?");
  query.SetText(1, tableName);
  return SplitList(query.ExecuteForText(), '\1');
}

// The text columns of every row of a catalogue query.
std::vector<std::vector<std::string>> CatalogueRows(TSQLConnection& connection, const std::string& sql) {
  TSQLDataSet query(std::string(), &connection);
  query.SetCommandText(sql);
  query.SetActive(true);
  std::vector<std::vector<std::string>> rows;
  for (; !query.AtEnd(); query.MoveNext()) {
    std::vector<std::string> row;
    for (int i = 0; i < query.NumberOfFields(); ++i) row.push_back(query.FieldAt(i).ValueText());
    rows.push_back(std::move(row));
  }
  query.SetActive(false);
  return rows;
}

}  // namespace

std::vector<TTableColumn> DescribeTable(TSQLDataSet& dataSet, const std::string& tableName) {
  std::vector<TTableColumn> columns;
  try {
    OpenTable(dataSet, tableName);
    const std::vector<std::string> marked = MarkedColumns(*dataSet.SQLConnection(), tableName);
    auto isMarked = [&](char mark, const std::string& name) {
      return std::find(marked.begin(), marked.end(), mark + name) != marked.end();
    };
    const std::vector<std::string>& names = dataSet.ColumnNames();
    for (std::size_t i = 0; i < names.size(); ++i) {
      TTableColumn column;
      column.name = names[i];
      if (TField* field = dataSet.ColumnField(i)) column.kind = field->Kind();
      column.computed = isMarked('C', column.name);
      column.required = isMarked('R', column.name);
      columns.push_back(std::move(column));
    }
  } catch (...) {
    CloseQuietly(dataSet);
    throw;
  }
  dataSet.SetActive(false);
  return columns;
}

std::vector<TUniqueKey> UniqueKeys(TSQLConnection& connection, const std::string& tableName) {
  // Each index as "P" or "U", its name and a column.
  TSQLCommand query(connection);
  query.Prepare(
      "SELECT LIST(IIF(RC.RDB$CONSTRAINT_TYPE = 'PRIMARY KEY', 'P', 'U') || ASCII_CHAR(2) || "
      "TRIM(TRAILING FROM I.RDB$INDEX_NAME) || ASCII_CHAR(2) || TRIM(TRAILING FROM S.RDB$FIELD_NAME), "
      "ASCII_CHAR(1)) "
      "FROM RDB$INDICES I JOIN RDB$INDEX_SEGMENTS S ON S.RDB$INDEX_NAME = I.RDB$INDEX_NAME "
      "LEFT JOIN RDB$RELATION_CONSTRAINTS RC ON RC.RDB$INDEX_NAME = I.RDB$INDEX_NAME "
      "WHERE I.RDB$RELATION_NAME = ? AND I.RDB$UNIQUE_FLAG = 1 AND COALESCE(I.RDB$INDEX_INACTIVE, 0) = 0");
  query.SetText(1, tableName);
  std::vector<std::string> names;
  std::vector<TUniqueKey> keys;
  for (const std::vector<std::string>& parts : ListedRows(query)) {
    if (parts.size() != 3) continue;
    const auto at = std::find(names.begin(), names.end(), parts[1]);
    if (at == names.end()) {
      names.push_back(parts[1]);
      keys.push_back({parts[0] == "P", {}});
    }
    keys[static_cast<std::size_t>(std::find(names.begin(), names.end(), parts[1]) - names.begin())]
        .columns.push_back(parts[2]);
  }
  return keys;
}

std::optional<TTablePages> TablePages(TSQLConnection& connection, const std::string& tableName) {
  TSQLCommand query(connection);
  query.Prepare(
      "SELECT R.RDB$RELATION_ID || ' ' || (SELECT MAX(P.RDB$PAGE_SEQUENCE) + 1 FROM RDB$PAGES P "
      "WHERE P.RDB$RELATION_ID = R.RDB$RELATION_ID AND P.RDB$PAGE_TYPE = 4) "
      "FROM RDB$RELATIONS R WHERE R.RDB$RELATION_NAME = ? AND R.RDB$VIEW_BLR IS NULL "
      "AND R.RDB$EXTERNAL_FILE IS NULL AND COALESCE(R.RDB$RELATION_TYPE, 0) = 0");
  query.SetText(1, tableName);
  const std::vector<std::string> numbers = SplitList(query.ExecuteForText(), ' ');
  if (numbers.size() != 2) return std::nullopt;
  TTablePages pages{std::atoi(numbers[0].c_str()), std::atoll(numbers[1].c_str())};
  if (pages.relation <= 0 || pages.pointerPages <= 0) return std::nullopt;
  return pages;
}

namespace {

// A column's declared type from its RDB$FIELDS entry (field type, subtype,
// length, precision, scale, character length, character set, dimensions).
std::string TypeText(const std::vector<std::string>& f) {
  const int type = std::atoi(f[0].c_str());
  const int subtype = std::atoi(f[1].c_str());
  const std::string& precision = f[3];
  const int scale = -std::atoi(f[4].c_str());
  const std::string& characters = f[5];
  const std::string& charSet = f[6];
  std::string text;
  const bool exact = type == 7 || type == 8 || type == 16 || type == 26;
  if (exact && (subtype == 1 || subtype == 2 || scale > 0)) {
    text = std::string(subtype == 2 ? "DECIMAL(" : "NUMERIC(") + (precision.empty() ? "18" : precision) +
           "," + std::to_string(scale) + ")";
  } else {
    switch (type) {
      case 7:
        text = "SMALLINT";
        break;
      case 8:
        text = "INTEGER";
        break;
      case 16:
        text = "BIGINT";
        break;
      case 26:
        text = "INT128";
        break;
      case 10:
        text = "FLOAT";
        break;
      case 27:
        text = scale > 0 ? "NUMERIC(" + precision + "," + std::to_string(scale) + ")" : "DOUBLE PRECISION";
        break;
      case 12:
        text = "DATE";
        break;
      case 13:
        text = "TIME";
        break;
      case 35:
        text = "TIMESTAMP";
        break;
      case 28:
        text = "TIME WITH TIME ZONE";
        break;
      case 29:
        text = "TIMESTAMP WITH TIME ZONE";
        break;
      case 23:
        text = "BOOLEAN";
        break;
      case 24:
        text = "DECFLOAT(16)";
        break;
      case 25:
        text = "DECFLOAT(34)";
        break;
      case 14:
        text = "CHAR(" + characters + ")";
        break;
      case 37:
        text = "VARCHAR(" + characters + ")";
        break;
      case 261:
        text = subtype == 1   ? "BLOB SUB_TYPE TEXT"
               : subtype == 0 ? "BLOB SUB_TYPE BINARY"
                              : "BLOB SUB_TYPE " + std::to_string(subtype);
        break;
      default:
        text = "type " + std::to_string(type);
        break;
    }
  }
  if ((type == 14 || type == 37 || (type == 261 && subtype == 1)) && !charSet.empty())
    text += " CHARACTER SET " + charSet;
  if (f[7] == "Y") text += " ARRAY";
  return text;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> DeclaredTypes(TSQLConnection& connection,
                                                               const std::string& tableName) {
  TSQLCommand query(connection);
  query.Prepare(
      "SELECT LIST(RF.RDB$FIELD_POSITION || ASCII_CHAR(2) || TRIM(TRAILING FROM RF.RDB$FIELD_NAME) || "
      "ASCII_CHAR(2) || IIF(F.RDB$COMPUTED_BLR IS NULL, '', 'C') || ASCII_CHAR(2) || F.RDB$FIELD_TYPE || "
      "ASCII_CHAR(2) || COALESCE(F.RDB$FIELD_SUB_TYPE, 0) || ASCII_CHAR(2) || F.RDB$FIELD_LENGTH || "
      "ASCII_CHAR(2) || COALESCE(F.RDB$FIELD_PRECISION, '') || ASCII_CHAR(2) || COALESCE(F.RDB$FIELD_SCALE, "
      "0) || "
      "ASCII_CHAR(2) || COALESCE(F.RDB$CHARACTER_LENGTH, '') || ASCII_CHAR(2) || "
      "COALESCE(TRIM(TRAILING FROM CS.RDB$CHARACTER_SET_NAME), '') || ASCII_CHAR(2) || "
      "IIF(F.RDB$DIMENSIONS IS NULL, 'N', 'Y'), ASCII_CHAR(1)) "
      "FROM RDB$RELATION_FIELDS RF JOIN RDB$FIELDS F ON F.RDB$FIELD_NAME = RF.RDB$FIELD_SOURCE "
      "LEFT JOIN RDB$CHARACTER_SETS CS ON CS.RDB$CHARACTER_SET_ID = F.RDB$CHARACTER_SET_ID "
      "WHERE RF.RDB$RELATION_NAME = ?");
  query.SetText(1, tableName);
  std::vector<std::pair<int, std::pair<std::string, std::string>>> columns;
  for (std::vector<std::string>& parts : ListedRows(query)) {
    parts.resize(11);
    const std::vector<std::string> field(parts.begin() + 3, parts.end());
    columns.push_back(
        {std::atoi(parts[0].c_str()), {parts[1], parts[2] == "C" ? "COMPUTED BY" : TypeText(field)}});
  }
  std::stable_sort(columns.begin(), columns.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::pair<std::string, std::string>> types;
  for (auto& column : columns) types.push_back(std::move(column.second));
  return types;
}

std::vector<std::pair<std::string, std::string>> TextBlobCharSets(TSQLConnection& connection,
                                                                  const std::string& tableName) {
  TSQLCommand query(connection);
  query.Prepare(
      "SELECT LIST(TRIM(TRAILING FROM RF.RDB$FIELD_NAME) || ASCII_CHAR(2) || "
      "COALESCE(TRIM(TRAILING FROM CS.RDB$CHARACTER_SET_NAME), 'NONE'), ASCII_CHAR(1)) "
      "FROM RDB$RELATION_FIELDS RF JOIN RDB$FIELDS F ON F.RDB$FIELD_NAME = RF.RDB$FIELD_SOURCE "
      "LEFT JOIN RDB$CHARACTER_SETS CS ON CS.RDB$CHARACTER_SET_ID = F.RDB$CHARACTER_SET_ID "
      "WHERE RF.RDB$RELATION_NAME = ? AND F.RDB$FIELD_TYPE = 261 AND F.RDB$FIELD_SUB_TYPE = 1");
  query.SetText(1, tableName);
  std::vector<std::pair<std::string, std::string>> sets;
  for (const std::vector<std::string>& parts : ListedRows(query)) {
    if (parts.size() == 2) sets.emplace_back(parts[0], parts[1]);
  }
  return sets;
}

std::vector<TListedTable> ListTables(TSQLConnection& connection) {
  std::vector<TListedTable> tables;
  // Relation types 0 and 2 are persistent and external tables.
  for (auto& row :
       CatalogueRows(connection,
                     "SELECT TRIM(TRAILING FROM RDB$RELATION_NAME), "
                     "IIF(RDB$VIEW_BLR IS NULL AND COALESCE(RDB$RELATION_TYPE, 0) IN (0, 2), 'Y', 'N') "
                     "FROM RDB$RELATIONS WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0 ORDER BY 1")) {
    tables.push_back({std::move(row[0]), row[1] == "Y"});
  }
  return tables;
}

std::vector<std::string> ParentsFirst(TSQLConnection& connection, const std::vector<std::string>& tables) {
  const auto references =
      CatalogueRows(connection,
                    "SELECT TRIM(TRAILING FROM C.RDB$RELATION_NAME), TRIM(TRAILING FROM P.RDB$RELATION_NAME) "
                    "FROM RDB$RELATION_CONSTRAINTS C "
                    "JOIN RDB$REF_CONSTRAINTS R ON R.RDB$CONSTRAINT_NAME = C.RDB$CONSTRAINT_NAME "
                    "JOIN RDB$RELATION_CONSTRAINTS P ON P.RDB$CONSTRAINT_NAME = R.RDB$CONST_NAME_UQ "
                    "WHERE C.RDB$CONSTRAINT_TYPE = 'FOREIGN KEY'");
  std::vector<std::string> ordered;
  std::vector<bool> placed(tables.size(), false);
  auto index = [&](const std::string& name) {
    return static_cast<std::size_t>(std::find(tables.begin(), tables.end(), name) - tables.begin());
  };
  // Each round places every table whose parents are placed; a round that
  // places none is a cycle, whose first table goes next.
  while (ordered.size() < tables.size()) {
    bool progress = false;
    for (std::size_t t = 0; t < tables.size(); ++t) {
      if (placed[t]) continue;
      const bool ready = std::none_of(references.begin(), references.end(), [&](const auto& reference) {
        const std::size_t parent = index(reference[1]);
        return reference[0] == tables[t] && reference[1] != tables[t] && parent < tables.size() &&
               !placed[parent];
      });
      if (!ready) continue;
      placed[t] = true;
      ordered.push_back(tables[t]);
      progress = true;
    }
    if (progress) continue;
    const std::size_t first =
        static_cast<std::size_t>(std::find(placed.begin(), placed.end(), false) - placed.begin());
    placed[first] = true;
    ordered.push_back(tables[first]);
  }
  return ordered;
}
