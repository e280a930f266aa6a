// The transfer options the window offers beside its boxes: the command-line
// program's, kept in the very request that program fills, so that an option
// means the same in both.
#pragma once

#include <string>
#include <vector>

#include "transfer/table_transfer.h"

class QSettings;
class QString;

struct TTransferOptions {
  // The form of the file and how an import changes the table; the table and
  // the file are the window's boxes.
  TTransferRequest request;
  // The Firebird character set texts travel in; empty: the locale's.
  std::string charSet;
  // Dates, times and numbers in the server's own forms, whatever the locale.
  bool portable = false;
  // The SQL role the connection works in; empty: none.
  std::string role;
};

// One option as a word: how the dialog shows it and the settings keep it.
struct TOptionWord {
  // The command-line program's long name of the option.
  const char* name;
  std::string (*word)(const TTransferOptions& options);
  // Sets the option from word; what is wrong with word in a sentence, or
  // empty when it was taken.
  std::string (*take)(TTransferOptions& options, const std::string& word);
};

// Every option the window offers.
const std::vector<TOptionWord>& OptionWords();
// The option of that long name; nullptr for none.
const TOptionWord* OptionWordNamed(const std::string& name);

// What is wrong with options that do not go together, as the command-line
// program refuses them, in a sentence; empty when they fit.
std::string OptionsProblem(const TTransferOptions& options);

// How many options differ from their defaults.
int ChangedOptions(const TTransferOptions& options);

// The options kept in settings under "Options/<long name>"; an option not
// kept there, or kept as no value of it, has its default.
TTransferOptions LoadOptions(const QSettings& settings);
void SaveOptions(QSettings& settings, const TTransferOptions& options);

// A word as the window shows it, and back: in the locale's codeset, as the
// command-line program reads its arguments.
QString ShownWord(const std::string& word);
std::string WordOf(const QString& text);
