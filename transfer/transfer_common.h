// What export and import share.
#pragma once

#include <cstdint>
#include <string>

#include "db/sql_dataset.h"

// Opens the dataset on all rows of a table for the length of a transfer, and
// makes it inactive again on the way out, also when a failure ends the
// transfer half-way; a failure while closing is swallowed then, since the
// failure that got us there is the one the user sees.
class TOpenedTable {
 public:
  TOpenedTable(TSQLDataSet& dataSet, const std::string& tableName) : m_dataSet(dataSet) {
    dataSet.SetActive(false);
    dataSet.SetCommandType(ctTable);
    dataSet.SetCommandText(tableName);
    dataSet.SetActive(true);
  }
  ~TOpenedTable() {
    try {
      m_dataSet.SetActive(false);
    } catch (...) {
    }
  }
  TOpenedTable(const TOpenedTable&) = delete;
  TOpenedTable& operator=(const TOpenedTable&) = delete;

 private:
  TSQLDataSet& m_dataSet;
};

// "25 records of table 'CUSTOMER' has been exported into file '/data/customer.csv'".
inline std::string TransferMessage(std::int32_t count, const std::string& tableName, const char* done,
                                   const std::string& path) {
  return std::to_string(count) + " records of table '" + tableName + "'" + " has been " + done +
         " into file '" + path + "'";
}
