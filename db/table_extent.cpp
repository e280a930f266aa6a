#include "db/table_extent.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "base/exceptions.h"
#include "db/catalogue.h"
#include "db/sql_command.h"
#include "db/sql_connection.h"

namespace {

// The page layout of on-disk structures 12 (Firebird 3) and 13 (Firebird 4
// and 5). A pointer page lists its data pages after a header of 32 bytes,
// each as a page number of 4 bytes and a byte of flags. A data page holds at
// most as many rows as fit a slot of 4 bytes and a row header of 13 bytes
// each, after its own header of 28 bytes; a row's number is its data page's
// place in the table times that most, plus its slot.
constexpr std::int64_t DataPagesPerPointerPage(std::int64_t pageSize) { return (pageSize - 32) * 8 / 40; }
constexpr std::int64_t RecordsPerDataPage(std::int64_t pageSize) { return (pageSize - 28) / 17; }

}  // namespace

std::optional<TTableExtent> TTableExtent::Measure(TSQLConnection& connection, const std::string& tableName) {
  const int ods = connection.OdsVersion();
  const std::int64_t pageSize = connection.PageSize();
  if ((ods != 12 && ods != 13) || pageSize < 1024) return std::nullopt;

  const std::optional<TTablePages> stored = TablePages(connection, tableName);
  if (!stored) return std::nullopt;
  const int relation = stored->relation;
  const std::int64_t pointers = stored->pointerPages;

  // The search runs on the server, one statement for its dozen lookups.
  // RDB$DB_KEY of a table's row is the relation's number in two bytes, the
  // top byte of the row's number, a byte unused, and the row's number's lower
  // four bytes; both numbers low byte first, the row's number counted from 1.
  // A data page holds rows when one of its first lines does: a line freed by
  // a deletion is not in the way. The last data page with rows is searched
  // for in the last pointer page; when that lists none (its rows were
  // deleted), in all the others. The keys are made before the lookup, so
  // that each is a fetch by key whatever the server makes of a function.
  const std::int64_t perPointer = DataPagesPerPointerPage(pageSize);
  const std::int64_t perPage = RecordsPerDataPage(pageSize);
  std::string sql = R"(EXECUTE BLOCK RETURNS (PAGES VARCHAR(20)) AS
  DECLARE FUNCTION HAS_ROWS(PAGE @WHOLE) RETURNS BOOLEAN AS
    DECLARE N @WHOLE;
@DECLARE_KEYS  BEGIN
    N = PAGE * @PER_PAGE;
@MAKE_KEYS    RETURN EXISTS (SELECT 1 FROM @TABLE WHERE RDB$DB_KEY IN (@KEYS));
  END
  DECLARE LOW @WHOLE = @FIRST;
  DECLARE HIGH @WHOLE = @LAST;
  DECLARE MIDDLE @WHOLE;
BEGIN
  IF (NOT HAS_ROWS(LOW)) THEN
  BEGIN
    HIGH = LOW - 1;
    LOW = 0;
  END
  WHILE (LOW < HIGH) DO
  BEGIN
    MIDDLE = LOW + BIN_SHR(HIGH - LOW + 1, 1);
    IF (HAS_ROWS(MIDDLE)) THEN LOW = MIDDLE; ELSE HIGH = MIDDLE - 1;
  END
  PAGES = LOW + 1;
  SUSPEND;
END)";
  // The keys of a page's first eight lines, K0 to K7, made from N (counted
  // from 1, so that it is the row's number plus one).
  std::string declareKeys, makeKeys, keys;
  for (int line = 0; line < 8; ++line) {
    const std::string k = "K" + std::to_string(line);
    declareKeys += "    DECLARE " + k + " CHAR(8) CHARACTER SET OCTETS;\n";
    makeKeys += "    N = N + 1;\n    " + k +
                " = CAST(ASCII_CHAR(@RELATION_LOW) || ASCII_CHAR(@RELATION_HIGH) || "
                "ASCII_CHAR(BIN_AND(BIN_SHR(N, 32), 255)) || ASCII_CHAR(0) || ASCII_CHAR(BIN_AND(N, 255)) || "
                "ASCII_CHAR(BIN_AND(BIN_SHR(N, 8), 255)) || ASCII_CHAR(BIN_AND(BIN_SHR(N, 16), 255)) || "
                "ASCII_CHAR(BIN_AND(BIN_SHR(N, 24), 255)) AS CHAR(8) CHARACTER SET OCTETS);\n";
    keys += (line ? ", :" : ":") + k;
  }
  const std::pair<const char*, std::string> values[] = {
      {"@DECLARE_KEYS", declareKeys},
      {"@MAKE_KEYS", makeKeys},
      {"@KEYS", keys},
      {"@RELATION_LOW", std::to_string(relation & 0xff)},
      {"@RELATION_HIGH", std::to_string((relation >> 8) & 0xff)},
      {"@PER_PAGE", std::to_string(perPage)},
      {"@FIRST", std::to_string((pointers - 1) * perPointer)},
      {"@LAST", std::to_string(pointers * perPointer - 1)},
      // Last: nothing in the name is taken for a mark.
      {"@TABLE", TSQLConnection::QuoteObjectName(tableName)},
  };
  for (const auto& [name, value] : values) {
    for (std::size_t at = sql.find(name); at != std::string::npos; at = sql.find(name, at + value.size()))
      sql.replace(at, std::string(name).size(), value);
  }
  // A database of dialect 1 knows no BIGINT; there INTEGER holds the row
  // numbers of all but the largest tables.
  std::int64_t pages = 0;
  for (const char* whole : {"BIGINT", "INTEGER"}) {
    const bool narrow = whole[0] == 'I';
    if (narrow && pointers * perPointer * perPage >= (std::int64_t{1} << 31)) return std::nullopt;
    std::string text = sql;
    for (std::size_t at = text.find("@WHOLE"); at != std::string::npos; at = text.find("@WHOLE", at))
      text.replace(at, 6, whole);
    try {
      TSQLCommand search(connection);
      search.Prepare(text);
      pages = std::atoll(search.ExecuteForText().c_str());
      break;
    } catch (const EDatabaseError&) {
      if (narrow) throw;
    }
  }
  if (pages <= 0) return std::nullopt;
  return TTableExtent(relation, perPage, pages);
}

double TTableExtent::Share(std::string_view dbKey) {
  if (dbKey.size() != 8) return m_share;
  auto byte = [&](std::size_t i) { return std::uint64_t{static_cast<unsigned char>(dbKey[i])}; };
  if (static_cast<int>(byte(0) | byte(1) << 8) != m_relation) return m_share;
  const std::uint64_t number = byte(2) << 32 | byte(4) | byte(5) << 8 | byte(6) << 16 | byte(7) << 24;
  if (number == 0) return m_share;
  const auto page = static_cast<std::int64_t>((number - 1) / static_cast<std::uint64_t>(m_recordsPerPage));
  // A row beyond the pages found: the share waits at its last step.
  if (page >= m_pages) m_pages = page + 1;
  m_share = std::max(m_share, static_cast<double>(page) / static_cast<double>(m_pages));
  return m_share;
}
