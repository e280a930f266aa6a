#include "driver/fb_client.h"

#include <dlfcn.h>

#include <map>
#include <memory>
#include <mutex>

namespace fbdriver {

namespace {

template <class Function>
bool Resolve(void* library, const char* name, Function& target, std::string* error) {
  target = reinterpret_cast<Function>(dlsym(library, name));
  if (!target && error) *error = std::string("The client library has no function ") + name;
  return target != nullptr;
}

}  // namespace

const FbClient* FbClient::Load(const char* libraryName, std::string* error) {
  if (!libraryName || !*libraryName) {
    if (error) *error = "No client library name given";
    return nullptr;
  }
  // The client library keeps threads and global state of its own; unloading
  // it while the process runs is not safe, so each one stays loaded.
  static std::mutex mutex;
  static std::map<std::string, std::unique_ptr<FbClient>> loaded;
  std::lock_guard lock(mutex);
  auto found = loaded.find(libraryName);
  if (found != loaded.end()) return found->second.get();

  void* library = dlopen(libraryName, RTLD_NOW);
  if (!library) {
    if (error) {
      const char* reason = dlerror();
      *error = reason ? reason : std::string("Cannot load ") + libraryName;
    }
    return nullptr;
  }
  auto client = std::make_unique<FbClient>();
  bool complete = Resolve(library, "isc_attach_database", client->attachDatabase, error) &&
                  Resolve(library, "isc_detach_database", client->detachDatabase, error) &&
                  Resolve(library, "isc_start_multiple", client->startMultiple, error) &&
                  Resolve(library, "isc_commit_transaction", client->commitTransaction, error) &&
                  Resolve(library, "isc_rollback_transaction", client->rollbackTransaction, error) &&
                  Resolve(library, "isc_dsql_allocate_statement", client->allocateStatement, error) &&
                  Resolve(library, "isc_dsql_prepare", client->prepare, error) &&
                  Resolve(library, "isc_dsql_describe", client->describe, error) &&
                  Resolve(library, "isc_dsql_describe_bind", client->describeBind, error) &&
                  Resolve(library, "isc_dsql_execute", client->execute, error) &&
                  Resolve(library, "isc_dsql_execute2", client->execute2, error) &&
                  Resolve(library, "isc_dsql_fetch", client->fetch, error) &&
                  Resolve(library, "isc_dsql_free_statement", client->freeStatement, error) &&
                  Resolve(library, "isc_dsql_sql_info", client->sqlInfo, error) &&
                  Resolve(library, "isc_open_blob2", client->openBlob, error) &&
                  Resolve(library, "isc_get_segment", client->getSegment, error) &&
                  Resolve(library, "isc_close_blob", client->closeBlob, error) &&
                  Resolve(library, "isc_create_blob2", client->createBlob, error) &&
                  Resolve(library, "isc_put_segment", client->putSegment, error) &&
                  Resolve(library, "fb_sqlstate", client->sqlState, error) &&
                  Resolve(library, "fb_interpret", client->interpret, error);
  if (!complete) {
    dlclose(library);
    return nullptr;
  }
  Resolve(library, "fb_cancel_operation", client->cancelOperation, nullptr);
  return loaded.emplace(libraryName, std::move(client)).first->second.get();
}

std::string StatusText(const FbClient& client, const ISC_STATUS* status) {
  std::string text;
  const ISC_STATUS* cursor = status;
  char line[1024];
  while (client.interpret(line, sizeof line, &cursor) > 0) {
    if (!text.empty()) text += '\n';
    text += line;
  }
  if (text.empty()) text = "Unknown Firebird error";
  return text;
}


bool RefusedValues(const FbClient& client, const ISC_STATUS* status) {
  if (!Failed(status)) return false;
  if (status[1] == isc_except) return true;  // raised by a trigger or procedure
  char state[6] = {};
  client.sqlState(state, status);
  const std::string code(state, 5);
  // 22: data exception, 23: integrity constraint, 27: triggered data change,
  // 40001: update conflict with a concurrent transaction.
  return code.starts_with("22") || code.starts_with("23") || code.starts_with("27") || code == "40001";
}

}  // namespace fbdriver
