// Reading the number and date texts back into the forms the server reads
// whatever its own settings. The import uses these for pieces bound for date,
// time, time stamp, float and decimal columns.
//
// Each function reads the whole piece (blanks and tabs around it ignored) with
// LocaleFormats() as it stands at the call, by the same patterns the texts are
// written with. It returns the server's unambiguous form when the piece reads
// cleanly, and nullopt otherwise. A piece already in the server's form
// ("2004-03-05", "12.5") either reads as that same value or gives nullopt; it
// is never read as another value. Nothing here throws.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// Dates, times and time stamps read in two forms: the locale's, by its
// patterns, and the server's, year first, as a portable file writes them
// ("2004-03-05", "14:07:09", "14:07:09.1234", "2004-03-05 14:07:09.5"), under
// every locale. Nothing else is read: the server itself would take
// "05/03/2004" for 3 May, month first. A year in the locale's form has four
// digits or two. Two digits name the year that ends in them within 50 years
// of the current one, and of two such years the one in the current century,
// as the server reads a two-digit year: in 2026 "03" is 2003, "76" is 2076 and
// "77" is 1977. In the server's form every number has its full width: four
// digits for the year, two for the others ("2:07:09" is no time there).

// A date: "YYYY-MM-DD". In the locale's form day and month numbers take one
// or two digits, and month and day names match without regard to ASCII case;
// a day name must fit the date. nullopt for an era or a day that does not exist.
std::optional<std::string> ParseDateText(std::string_view piece);

// A time of day: "HH:MM:SS", or "HH:MM:SS.fff" when the locale's pattern holds
// milliseconds, or "HH:MM:SS.ffff" when "." and one to four digits (a fraction
// of a second, as the texts write it) follow the seconds. On the locale's
// 12-hour clock the hour is 1 to 12 and the morning or afternoon marker (as
// the pattern names it) decides.
std::optional<std::string> ParseTimeText(std::string_view piece);

// A date and time: the date, then, when more follows, a blank and the time.
// "YYYY-MM-DD HH:MM:SS" (with a fraction as above), or "YYYY-MM-DD" when the
// piece holds the date alone.
std::optional<std::string> ParseDateTimeText(std::string_view piece);

// The forms the three functions above read, as a message names them: the
// locale's, then the server's, or the server's alone when the two are the
// same. Under de_DE DateForms() gives "dd.mm.yyyy or yyyy-mm-dd", TimeForms()
// "hh:mm:ss", DateTimeForms() "dd.mm.yyyy hh:mm:ss or yyyy-mm-dd hh:mm:ss".
std::string DateForms();
std::string TimeForms();
std::string DateTimeForms();

// A number as the texts write it: an optional sign, digits, optionally the
// decimal separator and digits, optionally "E" or "e", a sign and digits. Gives
// the same with "." as the separator and without a "+" sign: "-2,5" gives "-2.5",
// "1,5E-7" gives "1.5E-7". No digit grouping is read: "1.234" under a "," separator
// is nullopt, never 1234. "INF" and "NAN" are nullopt.
std::optional<std::string> ParseNumberText(std::string_view piece);

// A number as the nearest double, read as ParseNumberText reads it and, under
// a decimal separator other than ".", also in the server's own form with "."
// (as a portable file writes it): under "," both "-2,5E-7" and "-2.5E-7" give
// -2.5E-7, and "1.234" gives 1.234. Every text FloatText writes (up to 17
// digits, subnormals down to 4.9E-324 included), under this locale or the
// portable forms, reads back as the very double it came from. A number too
// near zero even for the smallest subnormal reads as zero of its sign.
// nullopt for a number above the double's range and for a text neither
// reading takes: hexadecimal ("0x10"), "INF", "NAN", anything but blanks and
// tabs around the number.
std::optional<double> ParseDoubleText(std::string_view piece);
