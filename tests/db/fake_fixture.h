// A connection bound to the fake driver library, with the fake's state reset
// for every test.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "db/driver_loader.h"
#include "db/sql_connection.h"
#include "db/sql_dataset.h"
#include "fake_driver/fake_driver.h"

inline TFakeDriverState& FakeState() {
  // The same handle the layer gets when it loads the library by this name.
  static TFakeDriverState* state = [] {
    void* library = LoadDriverLibrary("libfakedriver.so");
    if (!library) throw std::runtime_error("libfakedriver.so does not load");
    auto get = reinterpret_cast<TFakeDriverState* (*)()>(dlsym(library, "fakeDriverState"));
    if (!get) throw std::runtime_error("fakeDriverState missing");
    return get();
  }();
  return *state;
}

inline TFakeColumn FakeColumn(std::string name, std::uint16_t type = fldZSTRING, std::uint16_t subtype = 0) {
  TFakeColumn column;
  column.name = std::move(name);
  column.type = type;
  column.subtype = subtype;
  if (type == fldINT16 || type == fldUINT16) column.length = 2;
  return column;
}

inline TFakeValue FakeText(std::string text) {
  TFakeValue value;
  value.isNull = false;
  value.text = std::move(text);
  return value;
}

inline TFakeValue FakeInteger(std::int64_t integer) {
  TFakeValue value;
  value.isNull = false;
  value.integer = integer;
  return value;
}

inline TFakeValue FakeNull() { return TFakeValue{}; }

// A packed decimal from its digits ("-12.50" gives precision 4, two decimals).
inline TBcd MakeBcd(const std::string& text) {
  TBcd bcd{};
  bool negative = !text.empty() && text[0] == '-';
  int places = 0, digits = 0;
  bool fraction = false;
  for (char c : text) {
    if (c == '.') {
      fraction = true;
    } else if (c >= '0' && c <= '9') {
      int index = digits++;
      bcd.fraction[index / 2] |= static_cast<std::uint8_t>(index % 2 == 0 ? (c - '0') << 4 : (c - '0'));
      if (fraction) ++places;
    }
  }
  bcd.precision = static_cast<std::uint8_t>(digits);
  bcd.signSpecialPlaces = static_cast<std::uint8_t>(places | (negative ? 0x80 : 0));
  return bcd;
}

class FakeDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FakeState() = TFakeDriverState{};
    connection.SetLibraryName("libfakedriver.so");
    connection.Params().SetValue("Database", "fake.fdb");
  }

  TFakeDriverState& Fake() { return FakeState(); }

  // Lines of the fake's log that start with prefix.
  std::vector<std::string> LogLines(const std::string& prefix) {
    std::vector<std::string> lines;
    for (const auto& line : Fake().log) {
      if (line.rfind(prefix, 0) == 0) lines.push_back(line);
    }
    return lines;
  }

  // A one-table result for " select * from <name>".
  void AddTable(const std::string& quotedName, TFakeResult result) {
    Fake().results[" select * from " + quotedName] = std::move(result);
  }

  TSQLConnection connection{"scnDatabase"};
};
