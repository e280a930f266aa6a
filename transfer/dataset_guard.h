#pragma once

#include "db/sql_dataset.h"

// Makes the dataset inactive on the way out of a transfer, also when a
// failure ends it half-way; a failure while closing is swallowed, since the
// failure that got us here is the one the user sees.
class TDeactivateOnExit {
 public:
  explicit TDeactivateOnExit(TSQLDataSet& dataSet) : m_dataSet(dataSet) {}
  ~TDeactivateOnExit() {
    try {
      m_dataSet.SetActive(false);
    } catch (...) {
    }
  }
  TDeactivateOnExit(const TDeactivateOnExit&) = delete;
  TDeactivateOnExit& operator=(const TDeactivateOnExit&) = delete;

 private:
  TSQLDataSet& m_dataSet;
};
