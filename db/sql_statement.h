// A driver statement object of a dataset, counted against its connection's
// limit of active statements. When the limit forced a second connection, the
// statement owns that connection, which goes away with it.
#pragma once

#include <memory>

#include "db/sql_connection.h"
#include "driver/sql_driver.h"

class TSQLStatement {
 public:
  TSQLStatement(ISQLCommand* command, TSQLConnection* counted);
  ~TSQLStatement();
  TSQLStatement(const TSQLStatement&) = delete;
  TSQLStatement& operator=(const TSQLStatement&) = delete;

  ISQLCommand* Command() const { return m_command; }
  // Makes this statement the owner of the second connection it runs on.
  void AdoptConnection(std::unique_ptr<TSQLConnection> connection) {
    m_ownConnection = std::move(connection);
  }

 private:
  std::unique_ptr<TSQLConnection> m_ownConnection;
  ISQLCommand* m_command;
  TSQLConnection* m_counted;
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
