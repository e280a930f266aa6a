#include "driver/fb_client.h"

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>
#include <utility>

namespace fbdriver {

namespace {

template <class Function>
bool Resolve(void* library, const char* name, Function& target, std::string* error) {
  target = reinterpret_cast<Function>(dlsym(library, name));
  if (!target && error) *error = std::string("The client library has no function ") + name;
  return target != nullptr;
}

// A status vector holds (type, value) pairs, (type, length, text) for a
// counted text, up to isc_arg_end.
std::ptrdiff_t ArgumentSize(ISC_STATUS type) { return type == isc_arg_cstring ? 3 : 2; }

// The last text among the arguments that follow a code, up to the next code.
std::string_view LastText(const ISC_STATUS* argument, const ISC_STATUS* end) {
  std::string_view text;
  for (; argument + 1 < end && *argument != isc_arg_end && *argument != isc_arg_gds;
       argument += ArgumentSize(*argument)) {
    if (*argument == isc_arg_string || *argument == isc_arg_interpreted) {
      text = reinterpret_cast<const char*>(argument[1]);
    } else if (*argument == isc_arg_cstring && argument + 2 < end) {
      text =
          std::string_view(reinterpret_cast<const char*>(argument[2]), static_cast<std::size_t>(argument[1]));
    }
  }
  return text;
}

// A line the client library has no words for: the code of a newer server.
bool Unworded(const char* line) { return std::strncmp(line, "unknown ISC error ", 18) == 0; }

// Codes of Firebird 4 and later that a value in a file can meet, with their
// SQLSTATE (the client library, not knowing them, reports 42000).
struct TNewerCode {
  long code;
  const char* sqlState;
  const char* words;
};
constexpr TNewerCode kNewerCodes[] = {
    {335545142, "22003", "A DECFLOAT value is out of its range"},
    {335545213, "22009", "Invalid time zone offset: it must lie between -14:00 and +14:00"},
    {335545214, "22009", "Invalid time zone region"},
};

// Words for a code of a newer server: our own for the known ones, else by
// the class of its SQLSTATE; with the code itself for looking it up.
std::string NewerServerWords(const char* line, const std::string& sqlState) {
  const long code = std::strtol(line + 18, nullptr, 10);
  for (const TNewerCode& known : kNewerCodes) {
    if (known.code == code)
      return std::string(known.words) + " (Firebird error " + std::to_string(code) + ")";
  }
  static const std::pair<const char*, const char*> kWords[] = {
      {"22", "The server refused a value"},
      {"23", "A constraint refused the row"},
      {"28", "The user name or password was refused"},
      {"08", "The connection to the server failed"},
      {"40", "A concurrent transaction holds the row"},
      {"42", "The statement is not valid, or the user may not do it"},
  };
  std::string words = "The server refused the request";
  for (const auto& [state, text] : kWords) {
    if (sqlState.starts_with(state)) {
      words = text;
      break;
    }
  }
  return words + " (Firebird error " + std::to_string(code) + " of a newer server; SQLSTATE " +
         (sqlState.empty() ? "unknown" : sqlState) + ")";
}

// The SQLSTATE of a status holding a code of a newer server, which the
// client library gets wrong: the known code's own, or, for a failed
// conversion (SQL error -303), a data exception, so that the value is
// refused and the connection goes on.
std::string NewerServerState(const ISC_STATUS* status, const std::string& sqlState) {
  const ISC_STATUS* const end = status + ISC_STATUS_LENGTH;
  bool conversion = false;
  for (const ISC_STATUS* argument = status; argument + 1 < end && *argument != isc_arg_end;
       argument += ArgumentSize(argument[0])) {
    if (argument[0] == isc_arg_number && argument[1] == -303) conversion = true;
    if (argument[0] != isc_arg_gds) continue;
    for (const TNewerCode& known : kNewerCodes) {
      if (known.code == argument[1]) return known.sqlState;
    }
  }
  return conversion && sqlState == "42000" ? "22000" : sqlState;
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
  Firebird::IMaster* (*master)() = nullptr;
  if (!Resolve(library, "fb_get_master_interface", master, error) ||
      !Resolve(library, "fb_interpret", client->interpret, error) ||
      !Resolve(library, "fb_sqlstate", client->sqlState, error)) {
    dlclose(library);
    return nullptr;
  }
  client->master = master();
  return loaded.emplace(libraryName, std::move(client)).first->second.get();
}

Failure StatusFailure(const FbClient& client, const ISC_STATUS* status) {
  Failure failure;
  char state[6] = {};
  client.sqlState(state, status);
  failure.sqlState.assign(state, strnlen(state, 5));
  const ISC_STATUS* cursor = status;
  char line[1024];
  while (client.interpret(line, sizeof line, &cursor) > 0) {
    if (!failure.text.empty()) failure.text += '\n';
    if (Unworded(line)) {
      failure.text += NewerServerWords(line, failure.sqlState = NewerServerState(status, failure.sqlState));
    } else {
      failure.text += line;
    }
  }
  if (failure.text.empty()) failure.text = "Unknown Firebird error";
  return failure;
}

bool RefusedValues(const ISC_STATUS* status, const std::string& sqlState) {
  if (status[1] == 0) return false;
  if (status[1] == isc_except) return true;  // raised by a trigger or procedure (SQLSTATE HY000)
  // 22: data exception, 23: integrity constraint, 27: triggered data change,
  // 40001: update conflict with a concurrent transaction.
  return sqlState.starts_with("22") || sqlState.starts_with("23") || sqlState.starts_with("27") ||
         sqlState == "40001";
}

TRefusalCode RefusalKind(const ISC_STATUS* status) {
  const ISC_STATUS* const end = status + ISC_STATUS_LENGTH;
  const ISC_STATUS* argument = status;
  while (argument + 1 < end && *argument != isc_arg_end) {
    const ISC_STATUS type = argument[0];
    const ISC_STATUS code = argument[1];
    argument += ArgumentSize(type);
    if (type != isc_arg_gds) continue;
    switch (code) {
      case isc_except:
      case isc_except2:
        return eRefusedRaised;
      case isc_unique_key_violation:
      case isc_no_dup:
        return eRefusedKey;
      case isc_foreign_key:
      case isc_foreign_key_target_doesnt_exist:
      case isc_foreign_key_references_present:
        return eRefusedForeignKey;
      case isc_check_constraint:
        return eRefusedCheck;
      case isc_not_valid:
      case isc_not_valid_for:
      case isc_not_valid_for_var:
        // "validation error for column ..., value ...": a NOT NULL column
        // (or domain) given null, else a domain's CHECK. The value is the
        // code's last argument; the engine writes a null as this mark.
        return LastText(argument, end) == "*** null ***" ? eRefusedNotNull : eRefusedCheck;
      case isc_transliteration_failed:
        return eRefusedTransliteration;
      case isc_convert_error:
      case isc_malformed_string:
        return eRefusedConversion;
      case isc_string_truncation:
      case isc_numeric_out_of_range:
      case isc_date_range_exceeded:
      case isc_datetime_range_exceeded:
        return eRefusedTruncation;
      default:
        break;
    }
  }
  return eRefusedOther;
}

}  // namespace fbdriver
