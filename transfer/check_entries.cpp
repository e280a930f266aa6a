#include "transfer/check_entries.h"

#include <sys/stat.h>

namespace {

bool FolderExists(const std::string& folder) {
  struct stat info;
  return stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

bool CheckEntries(const TTransferEntries& entries, IMessages& messages) {
  if (!entries.connected) {
    messages.ShowMessage("Database not connected yet!");
    return false;
  }
  if (!entries.tableSelected) {
    messages.ShowMessage("Table not selected yet!");
    return false;
  }
  if (entries.folder.empty() || entries.fileName.empty()) {
    messages.ShowMessage("Destination file not entered!");
    return false;
  }
  if (!FolderExists(entries.folder)) {
    messages.ShowMessage("Destination folder not exists!");
    return false;
  }
  return true;
}

std::string TransferPath(const std::string& folder, const std::string& fileName) {
  return folder + "/" + fileName;
}
