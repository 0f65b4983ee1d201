// Date-time values and their text forms. A TDateTime counts days since 30.12.1899 with the time
// of day as fraction (one second is 1/86400). Local file times are local time.
//
// The text forms are fixed and the same on every machine, because the clients of one account
// compare each other's list entries: short date "dd.mm.yyyy", long time "hh:nn:ss" (24 hours),
// decimal separator ",".
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace bsync {

using TDateTime = double;

constexpr double kOneSecond = 1.0 / 86400.0;

struct DateTimeParts {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
};

// Throws EConvertError for a date or time that does not exist.
TDateTime EncodeDateTime(const DateTimeParts& p);
// Rounds to the nearest millisecond.
DateTimeParts DecodeDateTime(TDateTime value);

// File-system time (UTC seconds and nanoseconds since 1970) to local time, with the time-zone
// rules in force on that date, daylight saving time included. Milliseconds are kept.
TDateTime UtcToLocal(std::int64_t seconds, std::int64_t nanoseconds);
// Local time to file-system time, with the rules in force on that date.
std::timespec LocalToUtc(TDateTime local);
// The present local time, with milliseconds.
TDateTime NowLocal();

// "24.12.2011 17:05:09"; the date alone when the time of day is 00:00:00. Fractions of a second
// are not written.
std::string DateTimeToStr(TDateTime value);
// Parses "d.m.yyyy", optionally followed by " h:n" or " h:n:s". Throws EConvertError.
TDateTime StrToDateTime(std::string_view text);

// A byte count as megabytes in the general floating-point text form of list entries:
// 24576 -> "0,0234375", 1048576 -> "1", 0 -> "0", 1 -> "9,5367431640625E-7".
std::string SizeToMbText(std::uint64_t bytes);
// Parses a decimal number with "," as separator and an optional exponent. Throws EConvertError.
double StrToFloat(std::string_view text);

}  // namespace bsync
