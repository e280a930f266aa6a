#include "db/table_reader.h"

#include <algorithm>

#include "db/catalogue.h"
#include "db/layer_text.h"
#include "db/sql_connection.h"
#include "db/sql_dataset.h"
#include "driver/connect_string.h"

namespace {

// A query's file names its columns in its header, which an import matches
// without regard to letter case: each name must be there, and only once.
void CheckQueryColumns(const std::vector<std::string>& names) {
  std::string problems;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i].empty()) {
      problems += " Column " + std::to_string(i + 1) + " has no name.";
      continue;
    }
    // Said once, at its second place.
    const auto before = std::count_if(names.begin(), names.begin() + static_cast<std::ptrdiff_t>(i),
                                      [&](const std::string& name) { return SameText(name, names[i]); });
    if (before == 1) problems += " Column '" + names[i] + "' is named more than once.";
  }
  if (!problems.empty())
    throw Exception("The query's rows cannot be written:" + problems +
                    " Give each column a name of its own with AS.");
}

}  // namespace

TTableReader::TTableReader(TSQLDataSet& dataSet, const TSource& source)
    : m_dataSet(dataSet), m_connection(dataSet.SQLConnection()) {
  if (m_connection && !m_connection->InTransaction()) {
    // A read-only snapshot: whatever the user's SQL calls, an export changes nothing.
    m_connection->StartTransaction(eTxnSnapshotReadOnly);
    m_ownTransaction = true;
  }
  try {
    if (!source.query.empty()) {
      OpenQuery(source.query);
      if (source.choose) {
        // A query's rows come whole; only the chosen columns are read.
        const std::vector<std::string> names = std::move(m_names);
        m_names.clear();
        m_column.clear();
        for (std::size_t i : source.choose(names)) {
          m_names.push_back(names[i]);
          m_column.push_back(static_cast<int>(i));
        }
        m_longColumn.assign(m_names.size(), -1);
      }
      CheckQueryColumns(m_names);
    } else {
      m_tableName = source.table;
      std::string from = m_connection ? m_connection->QuoteObjectName(source.table) : source.table;
      if (!source.condition.empty()) from += " WHERE (" + source.condition + ")";
      const bool server = m_connection && NamesServer(m_connection->Params().Value("Database"));
      if (m_connection) {
        try {
          m_extent = TTableExtent::Measure(*m_connection, source.table);
        } catch (const EDatabaseError&) {
          // Read all the same; the bar shows rows without a share.
        }
      }
      OpenTableRows(source, from, server);
    }
    dataSet.MoveFirst();
  } catch (...) {
    CloseQuietly(dataSet);
    if (m_ownTransaction && m_connection->InTransaction()) m_connection->Rollback();
    throw;
  }
}

TTableReader::~TTableReader() {
  m_images.reset();
  CloseQuietly(m_dataSet);
  if (!m_ownTransaction) return;
  try {
    if (m_connection->InTransaction()) m_connection->Rollback();
  } catch (...) {
  }
}

// The rows are read by the statement that selects them all, with each
// row's key when the share read can be told; its columns say what else is
// needed. Only when columns are chosen, or blobs are to travel inside their
// rows (through a server), is it replaced by one that names its columns: a
// blob column is then selected twice, as text where its value is short, as a
// blob where it is long.
void TTableReader::OpenTableRows(const TSource& source, const std::string& from, bool server) {
  const std::string table = TSQLConnection::QuoteObjectName(source.table);
  const std::string key = m_extent ? ", " + table + ".RDB$DB_KEY" : "";
  auto open = [this](const std::string& sql) {
    m_dataSet.SetActive(false);
    m_dataSet.SetCommandType(ctQuery);
    m_dataSet.SetCommandText(sql);
    m_dataSet.SetActive(true);
  };
  if (source.choose) {
    // Columns are chosen before a row is read: one left out may hold what
    // cannot be read.
    open("SELECT * FROM " + from + (source.condition.empty() ? " WHERE " : " AND ") + "1 = 0");
  } else if (key.empty() && source.condition.empty()) {
    OpenTable(m_dataSet, source.table);
  } else {
    open("SELECT " + table + ".*" + key + " FROM " + from);
  }
  std::vector<std::string> names = m_dataSet.ColumnNames();
  if (!key.empty() && !source.choose) names.pop_back();
  std::vector<std::optional<TFieldKind>> kinds;
  for (std::size_t i = 0; i < names.size(); ++i) {
    TField* field = m_dataSet.ColumnField(i);
    kinds.push_back(field ? std::optional(field->Kind()) : std::nullopt);
  }
  std::vector<std::size_t> chosen;
  if (source.choose) {
    chosen = source.choose(names);
  } else {
    for (std::size_t i = 0; i < names.size(); ++i) chosen.push_back(i);
  }
  auto isBlob = [&](std::size_t i) { return kinds[i] == fkBlob || kinds[i] == fkMemo; };
  const bool inlineBlobs = server && std::any_of(chosen.begin(), chosen.end(), isBlob);
  m_longColumn.assign(chosen.size(), -1);
  if (!source.choose && !inlineBlobs) {
    m_names = names;
    for (std::size_t i = 0; i < m_names.size(); ++i) m_column.push_back(static_cast<int>(i));
    m_keyColumn = names.size();
    return;
  }
  m_dataSet.SetActive(false);
  TSQLConnection& connection = *m_connection;
  const std::string size = std::to_string(InlineBlobBytes());
  // Text is cast in the set the column holds it in, so that the server has
  // nothing to convert (or refuse) before the value reaches the connection's set.
  std::vector<std::pair<std::string, std::string>> charSets;
  if (inlineBlobs) charSets = TextBlobCharSets(connection, source.table);
  auto charSetOf = [&](const std::string& column) {
    const auto found =
        std::find_if(charSets.begin(), charSets.end(), [&](const auto& set) { return set.first == column; });
    return found == charSets.end() ? std::string("NONE") : found->second;
  };
  std::string select;
  std::string longOnes;
  int longColumn = static_cast<int>(chosen.size());
  for (std::size_t c = 0; c < chosen.size(); ++c) {
    const std::size_t i = chosen[c];
    const std::string name = TSQLConnection::QuoteObjectName(names[i]);
    if (!select.empty()) select += ", ";
    m_names.push_back(names[i]);
    m_column.push_back(static_cast<int>(c));
    if (!inlineBlobs || !isBlob(i)) {
      select += name;
      continue;
    }
    // Other blobs are plain bytes.
    const std::string type =
        "VARCHAR(" + size + ") CHARACTER SET " + (kinds[i] == fkMemo ? charSetOf(names[i]) : "OCTETS");
    select +=
        "CASE WHEN OCTET_LENGTH(" + name + ") <= " + size + " THEN CAST(" + name + " AS " + type + ") END";
    longOnes += ", CASE WHEN OCTET_LENGTH(" + name + ") > " + size + " THEN " + name + " END";
    m_longColumn[c] = longColumn++;
  }
  open("SELECT " + select + longOnes + key + " FROM " + from);
  m_keyColumn = static_cast<std::size_t>(longColumn);
}

void TTableReader::OpenQuery(const std::string& sql) {
  m_dataSet.SetActive(false);
  m_dataSet.SetCommandType(ctQuery);
  m_dataSet.SetCommandText(sql);
  m_dataSet.SetActive(true);
  m_names = m_dataSet.ColumnNames();
  for (std::size_t i = 0; i < m_names.size(); ++i) m_column.push_back(static_cast<int>(i));
  m_longColumn.assign(m_names.size(), -1);
}

std::size_t TTableReader::ImageSize() {
  if (!m_images) m_images = std::make_unique<TRowImages>(m_dataSet);
  return m_images->ImageSize();
}

void TTableReader::CopyRow(char* image) { m_images->Copy(image); }

void TTableReader::ShowImage(const char* image) { m_images->Show(image); }

TField* TTableReader::ImageField(std::size_t column) const {
  TField* field = m_images->ColumnField(static_cast<std::size_t>(m_column[column]));
  if (m_longColumn[column] < 0 || (field && !field->IsNull())) return field;
  return m_images->ColumnField(static_cast<std::size_t>(m_longColumn[column]));
}

std::optional<double> TTableReader::ShareRead() {
  if (!m_extent) return std::nullopt;
  const TField* key = m_dataSet.ColumnField(m_keyColumn);
  return key ? m_extent->Share(key->AsBytes()) : m_extent->Share({});
}

bool TTableReader::AtEnd() const { return m_dataSet.AtEnd(); }

void TTableReader::Next() { m_dataSet.MoveNext(); }

void TTableReader::Close() {
  m_images.reset();
  m_dataSet.SetActive(false);
  // The dataset is left naming the table read, as it would after opening it.
  if (!m_tableName.empty()) {
    m_dataSet.SetCommandType(ctTable);
    m_dataSet.SetCommandText(m_tableName);
  }
  if (m_ownTransaction && m_connection->InTransaction()) m_connection->Rollback();
  m_ownTransaction = false;
}
