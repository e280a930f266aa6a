// A driver library for tests of the access layer's contract with a driver:
// the cases a real server cannot be made to produce on demand (a limit of
// active statements, every status code, failing error texts, a failing entry
// function). Tests steer it through the state that fakeDriverState() returns;
// the library is loaded once per process, so the layer and the test share it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "driver/sql_driver.h"

struct TFakeValue {
  bool isNull = true;
  std::string text;          // getString, getBlob
  std::int64_t integer = 0;  // getInt16/32/64, getBoolean, getDate, getTime
  double real = 0;           // getDouble, getDateTime
  TBcd bcd{};
  TSQLTimeStamp stamp{};
};

struct TFakeColumn {
  std::string name;
  std::uint16_t type = fldZSTRING;
  std::uint16_t subtype = 0;
  std::uint32_t length = 20;
  std::int16_t precision = 20;
  std::int16_t scale = 0;
  bool readOnly = false;
  bool nullable = true;
};

struct TFakeResult {
  std::vector<TFakeColumn> columns;
  std::vector<std::vector<TFakeValue>> rows;
};

struct TFakeDriverState {
  // Behaviour.
  SQLResult entryStatus = 0;  // the entry's answer (from 255 on, with an object giving errorText)
  SQLResult connectStatus = 0;
  SQLResult prepareStatus = 0;
  SQLResult executeStatus = 0;
  SQLResult catalogueStatus = 0;  // getColumns
  int nextFailsAfterRows = -1;    // next() answers 255 after that many rows
  std::string errorText = "fake failure";
  bool errorLengthFails = false;
  bool errorTextFails = false;
  std::uint64_t rowsAffected = 1;
  // Results by SQL text; "COLUMNS <table>" for a column listing. A statement
  // without a result gives no cursor.
  std::map<std::string, TFakeResult> results;

  // What happened.
  int connectionsMade = 0;  // getSQLConnection calls
  int liveConnections = 0;
  int liveCommands = 0;
  int liveCursors = 0;
  int valueCalls = 0;  // value getters called
  // "c<n> <event>" lines, c<n> the connection's number counted from 1.
  std::vector<std::string> log;
};

// The state the fake driver works from; tests reset it by assigning a fresh object.
extern "C" TFakeDriverState* fakeDriverState();
