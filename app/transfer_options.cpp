#include "app/transfer_options.h"

#include <QSettings>
#include <algorithm>

#include "db/locale_charset.h"
#include "transfer/csv_pieces.h"
#include "transfer/option_words.h"

namespace {

std::string BoolWord(bool value) { return value ? "true" : "false"; }

// Sets flag from "true" or "false".
std::string TakeBool(bool& flag, const std::string& word) {
  if (word != "true" && word != "false") return "'" + word + "' is neither true nor false.";
  flag = word == "true";
  return {};
}

// Firebird names its character sets with letters, digits and underscores.
bool IsCharSetName(const std::string& word) {
  return std::all_of(word.begin(), word.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
  });
}

const std::vector<TOptionWord> kOptionWords = {
    {"charset", [](const TTransferOptions& o) { return o.charSet; },
     [](TTransferOptions& o, const std::string& word) -> std::string {
       if (!IsCharSetName(word))
         return "A character set is named with letters, digits and underscores, such as UTF8, WIN1252, "
                "ISO8859_1 or NONE; leave it empty for the locale's.";
       o.charSet = word;
       return {};
     }},
    {"role", [](const TTransferOptions& o) { return o.role; },
     [](TTransferOptions& o, const std::string& word) -> std::string {
       o.role = word;
       return {};
     }},
    {"delimiter", [](const TTransferOptions& o) { return DelimiterWord(o.request.dialect.delimiter); },
     [](TTransferOptions& o, const std::string& word) -> std::string {
       const auto delimiter = DelimiterOfWord(word);
       if (!delimiter) return "The delimiter is , ; | or tab.";
       o.request.dialect.delimiter = *delimiter;
       return {};
     }},
    {"null", [](const TTransferOptions& o) { return o.request.dialect.nullText; },
     [](TTransferOptions& o, const std::string& word) -> std::string {
       o.request.dialect.nullText = word;
       return {};
     }},
    {"no-header", [](const TTransferOptions& o) { return BoolWord(!o.request.dialect.header); },
     [](TTransferOptions& o, const std::string& word) -> std::string {
       bool noHeader = false;
       std::string problem = TakeBool(noHeader, word);
       if (problem.empty()) o.request.dialect.header = !noHeader;
       return problem;
     }},
    {"line-end", [](const TTransferOptions& o) { return LineEndWord(o.request.dialect.lineEnd); },
     [](TTransferOptions& o, const std::string& word) -> std::string {
       const auto lineEnd = LineEndOfWord(word);
       if (!lineEnd) return "A line ends with lf or crlf.";
       o.request.dialect.lineEnd = *lineEnd;
       return {};
     }},
    {"quote", [](const TTransferOptions& o) { return QuotingWord(o.request.dialect.quoting); },
     [](TTransferOptions& o, const std::string& word) -> std::string {
       const auto quoting = QuotingOfWord(word);
       if (!quoting) return "Quoting is minimal, all or text.";
       o.request.dialect.quoting = *quoting;
       return {};
     }},
    {"compress", [](const TTransferOptions& o) { return CompressionWord(o.request.compression); },
     [](TTransferOptions& o, const std::string& word) -> std::string {
       if (word.empty()) {
         o.request.compression = TCompression::cNone;
         return {};
       }
       const auto compression = CompressionOfWord(word);
       if (!compression) return "Compression is gz or zst; leave it empty for plain files.";
       o.request.compression = *compression;
       return {};
     }},
    {"bom", [](const TTransferOptions& o) { return BoolWord(o.request.dialect.byteOrderMark); },
     [](TTransferOptions& o, const std::string& word) {
       return TakeBool(o.request.dialect.byteOrderMark, word);
     }},
    {"portable", [](const TTransferOptions& o) { return BoolWord(o.portable); },
     [](TTransferOptions& o, const std::string& word) { return TakeBool(o.portable, word); }},
    {"mode", [](const TTransferOptions& o) { return ModeWord(o.request.mode); },
     [](TTransferOptions& o, const std::string& word) -> std::string {
       const auto mode = ModeOfWord(word);
       if (!mode) return "The import mode is append, replace or upsert.";
       o.request.mode = *mode;
       return {};
     }},
    {"key", [](const TTransferOptions& o) { return ListOfNames(o.request.keyColumns); },
     [](TTransferOptions& o, const std::string& word) -> std::string {
       o.request.keyColumns = word.empty() ? std::vector<std::string>() : NamesOfList(word);
       return {};
     }},
    {"atomic", [](const TTransferOptions& o) { return BoolWord(o.request.atomic); },
     [](TTransferOptions& o, const std::string& word) { return TakeBool(o.request.atomic, word); }},
    {"max-refusals",
     [](const TTransferOptions& o) {
       return o.request.maxRefusals > 0 ? std::to_string(o.request.maxRefusals) : std::string();
     },
     [](TTransferOptions& o, const std::string& word) -> std::string {
       if (word.empty()) {
         o.request.maxRefusals = 0;
         return {};
       }
       const auto number = PositiveNumberOfWord(word);
       if (!number) return "The refused lines to stop after are a number of 1 or more, or none when empty.";
       o.request.maxRefusals = *number;
       return {};
     }},
    {"dry-run", [](const TTransferOptions& o) { return BoolWord(o.request.dryRun); },
     [](TTransferOptions& o, const std::string& word) { return TakeBool(o.request.dryRun, word); }},
};

QString SettingsKey(const TOptionWord& option) {
  return QStringLiteral("Options/") + QLatin1String(option.name);
}

}  // namespace

const std::vector<TOptionWord>& OptionWords() { return kOptionWords; }

const TOptionWord* OptionWordNamed(const std::string& name) {
  for (const TOptionWord& option : kOptionWords) {
    if (name == option.name) return &option;
  }
  return nullptr;
}

std::string OptionsProblem(const TTransferOptions& options) {
  const TCsvDialect& dialect = options.request.dialect;
  // Written as it stands, the null text must read back as one unquoted piece.
  if (NeedsCsvQuotes(dialect.nullText, dialect.delimiter))
    return "The NULL text may not hold the delimiter, a double quote or a line end.";
  if (!options.request.keyColumns.empty() && options.request.mode != TTransferRequest::TMode::mUpsert)
    return "A key names the columns an upsert matches; it needs the import mode upsert.";
  if (dialect.byteOrderMark &&
      !TakesByteOrderMark(options.charSet.empty() ? LocaleCharSet() : options.charSet))
    return "A byte order mark is written only in the character set UTF8.";
  return {};
}

int ChangedOptions(const TTransferOptions& options) {
  const TTransferOptions defaults;
  return static_cast<int>(std::count_if(
      kOptionWords.begin(), kOptionWords.end(),
      [&](const TOptionWord& option) { return option.word(options) != option.word(defaults); }));
}

QString ShownWord(const std::string& word) {
  return QString::fromLocal8Bit(word.data(), static_cast<qsizetype>(word.size()));
}

std::string WordOf(const QString& text) { return text.toLocal8Bit().toStdString(); }

TTransferOptions LoadOptions(const QSettings& settings) {
  TTransferOptions options;
  for (const TOptionWord& option : kOptionWords) {
    const QString key = SettingsKey(option);
    if (!settings.contains(key)) continue;
    // A word that is no value of its option, or options that do not go
    // together, leave the defaults: a hand-edited file never starts a
    // transfer the dialog would refuse.
    TTransferOptions taken = options;
    if (option.take(taken, WordOf(settings.value(key).toString())).empty()) options = taken;
  }
  if (!OptionsProblem(options).empty()) return {};
  return options;
}

void SaveOptions(QSettings& settings, const TTransferOptions& options) {
  for (const TOptionWord& option : kOptionWords)
    settings.setValue(SettingsKey(option), ShownWord(option.word(options)));
  settings.sync();
}
