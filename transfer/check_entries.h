// The checks before an export or import may start.
#pragma once

#include <string>

#include "transfer/reporting.h"

// What the window holds when a transfer is asked for.
struct TTransferEntries {
  bool connected = false;
  bool tableSelected = false;
  std::string folder;
  std::string fileName;
};

// True when a transfer may start; otherwise shows the first failing check's
// message and returns false. Texts count as empty only without any character.
bool CheckEntries(const TTransferEntries& entries, IMessages& messages);

// The file of a transfer: the folder text, "/", the file name text, nothing
// trimmed or normalised.
std::string TransferPath(const std::string& folder, const std::string& fileName);
