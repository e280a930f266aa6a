#include <string>

#include "driver/fb_client.h"
#include "driver/fb_objects.h"
#include "driver/sql_driver.h"

namespace fbdriver {

SQLResult Driver::getSQLConnection(ISQLConnection** connection) {
  if (!connection) return Fail(kInvalidParameter, "No place for the connection given");
  *connection = new Connection(m_client);
  return kSQLSuccess;
}

}  // namespace fbdriver

// The library's one entry: loads the client library named by vendorLib and
// hands out the driver object. The error resource file is not used.
extern "C" __attribute__((visibility("default"))) SQLResult getSQLDriverFIREBIRD(
    const char* vendorLib, const char* /*errorResourceFile*/, ISQLDriver** driver) {
  if (!driver) return fbdriver::kInvalidParameter;
  *driver = nullptr;
  std::string error;
  const fbdriver::FbClient* client = fbdriver::FbClient::Load(vendorLib, &error);
  if (!client) return 1;
  *driver = new fbdriver::Driver(*client);
  return kSQLSuccess;
}
