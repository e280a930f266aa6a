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

namespace {

// Handed out instead of a driver when the client library does not load, so
// that the layer can say why.
class LoadFailure final : public DriverObject<ISQLDriver> {
 public:
  explicit LoadFailure(std::string reason) { m_error.text = std::move(reason); }
  SQLResult getSQLConnection(ISQLConnection** connection) override {
    if (connection) *connection = nullptr;
    return kInvalidHandle;
  }
  void release() override { delete this; }
};

}  // namespace

}  // namespace fbdriver

// The library's one entry: loads the client library named by vendorLib and
// hands out the driver object, or one that says why the library did not
// load. The error resource file is not used.
extern "C" __attribute__((visibility("default"))) SQLResult getSQLDriverFIREBIRD(
    const char* vendorLib, const char* /*errorResourceFile*/, ISQLDriver** driver) {
  if (!driver) return fbdriver::kInvalidParameter;
  *driver = nullptr;
  std::string error;
  const fbdriver::FbClient* client = fbdriver::FbClient::Load(vendorLib, &error);
  if (!client) {
    *driver = new fbdriver::LoadFailure(std::move(error));
    return kSQLServerError;
  }
  *driver = new fbdriver::Driver(*client);
  return kSQLSuccess;
}
