// A driver statement object of a dataset, given back to the driver when it goes.
#pragma once

#include <memory>

#include "db/sql_connection.h"
#include "driver/sql_driver.h"

class TSQLStatement {
 public:
  explicit TSQLStatement(ISQLCommand* command);
  ~TSQLStatement();
  TSQLStatement(const TSQLStatement&) = delete;
  TSQLStatement& operator=(const TSQLStatement&) = delete;

  ISQLCommand* Command() const { return m_command; }

 private:
  ISQLCommand* m_command;
};

// Gives a driver object back to the driver when it goes out of scope.
template <class T>
struct TDriverRelease {
  void operator()(T* object) const {
    if (object) object->release();
  }
};
template <class T>
using TDriverPtr = std::unique_ptr<T, TDriverRelease<T>>;
