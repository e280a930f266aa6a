#include "db/table_extent.h"

#include <algorithm>

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

// RDB$DB_KEY of a table's row: the relation's number in two bytes, the top
// byte of the row's number, a byte unused, and the row's number's lower four
// bytes; both numbers low byte first, the row's number counted from 1.
std::string KeyOf(int relation, std::int64_t record) {
  const std::uint64_t number = static_cast<std::uint64_t>(record) + 1;
  std::string key(8, '\0');
  key[0] = static_cast<char>(relation & 0xff);
  key[1] = static_cast<char>((relation >> 8) & 0xff);
  key[2] = static_cast<char>((number >> 32) & 0xff);
  for (int i = 0; i < 4; ++i) key[4 + i] = static_cast<char>((number >> (8 * i)) & 0xff);
  return key;
}

}  // namespace

std::optional<TTableExtent> TTableExtent::Measure(TSQLConnection& connection, const std::string& tableName) {
  const int ods = connection.OdsVersion();
  const std::int64_t pageSize = connection.PageSize();
  if ((ods != 12 && ods != 13) || pageSize < 1024) return std::nullopt;

  const std::optional<TTablePages> stored = TablePages(connection, tableName);
  if (!stored) return std::nullopt;
  const int relation = stored->relation;
  const std::int64_t pointers = stored->pointerPages;

  // A data page holds rows when one of its first lines does: a line freed
  // by a deletion is not in the way.
  const std::int64_t perPointer = DataPagesPerPointerPage(pageSize);
  const std::int64_t perPage = RecordsPerDataPage(pageSize);
  constexpr int kLines = 8;
  std::string sql =
      "SELECT 'y' FROM " + TSQLConnection::QuoteObjectName(tableName) + " WHERE RDB$DB_KEY IN (?";
  for (int line = 1; line < kLines; ++line) sql += ", ?";
  TSQLCommand lookUp(connection);
  lookUp.Prepare(sql + ")");
  auto hasRows = [&](std::int64_t page) {
    for (int line = 0; line < kLines; ++line)
      lookUp.SetText(line + 1, KeyOf(relation, page * perPage + line));
    return !lookUp.ExecuteForText().empty();
  };
  // The last data page with rows, searched for in the last pointer page;
  // when that lists none (its rows were deleted), in all the others.
  std::int64_t low = (pointers - 1) * perPointer;
  std::int64_t high = pointers * perPointer - 1;
  if (!hasRows(low)) {
    high = low - 1;
    low = 0;
  }
  while (low < high) {
    const std::int64_t middle = low + (high - low + 1) / 2;
    if (hasRows(middle)) {
      low = middle;
    } else {
      high = middle - 1;
    }
  }
  return TTableExtent(relation, perPage, low + 1);
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
