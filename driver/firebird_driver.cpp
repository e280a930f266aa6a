#include "driver/sql_driver.h"

extern "C" __attribute__((visibility("default"))) SQLResult getSQLDriverFIREBIRD(const char*, const char*,
                                                                                ISQLDriver** driver) {
  *driver = nullptr;
  return 1;
}
