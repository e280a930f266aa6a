// Field kinds: one field object per column of an open dataset, holding the
// current row's value and giving its text form.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "driver/sql_driver.h"

enum TFieldKind {
  fkString, fkSmallint, fkInteger, fkWord, fkAutoInc, fkLargeint, fkFloat, fkCurrency, fkBCD, fkFMTBCD,
  fkBoolean, fkDate, fkTime, fkDateTime, fkSQLTimeStamp, fkBlob, fkMemo, fkGraphic, fkBytes, fkVarBytes,
};

// A column as the driver describes it.
struct TColumnDesc {
  std::string name;
  std::uint16_t typeCode = 0;
  std::uint16_t subtypeCode = 0;
  std::int16_t firstUnit = 0;   // declared length, or precision of a decimal
  std::int16_t secondUnit = 0;  // scale of a decimal
  std::uint32_t dataLength = 0;
  bool readOnly = false;
  bool nullable = true;
};

// A value of a row, as ValueNamed gives it: null, or a value of the field's
// kind; a ";" list of names gives a list.
class TVariant {
 public:
  using List = std::vector<TVariant>;
  TVariant() = default;
  template <class T>
  explicit TVariant(T value) : m_value(std::move(value)) {}
  bool IsNull() const { return std::holds_alternative<std::monostate>(m_value); }
  const auto& Value() const { return m_value; }

 private:
  std::variant<std::monostate, bool, std::int64_t, double, std::string, TBcd, TSQLTimeStamp, List> m_value;
};

class TField;  // defined by the access layer in this header
