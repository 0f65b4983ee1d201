#include "platform/datetime.h"

#include <charconv>
#include <chrono>
#include <cmath>

#include "platform/errors.h"

namespace bsync {
namespace {

constexpr std::int64_t kMsPerDay = 86400000;
// Days from 30.12.1899 to 01.01.1970.
constexpr std::int64_t kUnixEpochDays = 25569;

// Days since 01.01.1970 of a civil date (proleptic Gregorian calendar).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2));
}

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

std::int64_t ToMilliseconds(TDateTime value) {
  return static_cast<std::int64_t>(std::llround(value * static_cast<double>(kMsPerDay)));
}

void Put2(std::string& out, int v) {
  out += static_cast<char>('0' + v / 10 % 10);
  out += static_cast<char>('0' + v % 10);
}

[[noreturn]] void BadDate(std::string_view text) {
  throw EConvertError("'" + std::string(text) + "' is not a valid date and time");
}

[[noreturn]] void BadFloat(std::string_view text) {
  throw EConvertError("'" + std::string(text) + "' is not a valid floating point value");
}

// Reads 1 to max decimal digits at text[i].
bool ReadNumber(std::string_view text, size_t& i, int maxDigits, int& value) {
  const size_t start = i;
  value = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < size_t(maxDigits)) {
    value = value * 10 + (text[i] - '0');
    ++i;
  }
  return i > start && (i == text.size() || text[i] < '0' || text[i] > '9');
}

}  // namespace

TDateTime EncodeDateTime(const DateTimeParts& p) {
  if (p.month < 1 || p.month > 12 || p.day < 1 || p.day > DaysInMonth(p.year, p.month) ||
      p.hour < 0 || p.hour > 23 || p.minute < 0 || p.minute > 59 || p.second < 0 ||
      p.second > 59 || p.millisecond < 0 || p.millisecond > 999) {
    throw EConvertError("invalid date or time");
  }
  const std::int64_t days = DaysFromCivil(p.year, p.month, p.day) + kUnixEpochDays;
  const std::int64_t ms =
      ((p.hour * 60 + p.minute) * 60 + p.second) * std::int64_t{1000} + p.millisecond;
  return static_cast<double>(days) + static_cast<double>(ms) / static_cast<double>(kMsPerDay);
}

DateTimeParts DecodeDateTime(TDateTime value) {
  const std::int64_t total = ToMilliseconds(value);
  std::int64_t days = total / kMsPerDay;
  std::int64_t ms = total % kMsPerDay;
  if (ms < 0) {
    ms += kMsPerDay;
    --days;
  }
  DateTimeParts p;
  CivilFromDays(days - kUnixEpochDays, p.year, p.month, p.day);
  p.millisecond = static_cast<int>(ms % 1000);
  p.second = static_cast<int>(ms / 1000 % 60);
  p.minute = static_cast<int>(ms / 60000 % 60);
  p.hour = static_cast<int>(ms / 3600000);
  return p;
}

TDateTime UtcToLocal(std::int64_t seconds, std::int64_t nanoseconds) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  localtime_r(&t, &tm);
  DateTimeParts p;
  p.year = tm.tm_year + 1900;
  p.month = tm.tm_mon + 1;
  p.day = tm.tm_mday;
  p.hour = tm.tm_hour;
  p.minute = tm.tm_min;
  p.second = tm.tm_sec > 59 ? 59 : tm.tm_sec;  // a leap second is shown as :59
  p.millisecond = static_cast<int>(nanoseconds / 1000000);
  return EncodeDateTime(p);
}

std::timespec LocalToUtc(TDateTime local) {
  const DateTimeParts p = DecodeDateTime(local);
  std::tm tm{};
  tm.tm_year = p.year - 1900;
  tm.tm_mon = p.month - 1;
  tm.tm_mday = p.day;
  tm.tm_hour = p.hour;
  tm.tm_min = p.minute;
  tm.tm_sec = p.second;
  tm.tm_isdst = -1;  // let the time-zone rules of that date decide
  std::timespec ts{};
  ts.tv_sec = mktime(&tm);
  ts.tv_nsec = static_cast<long>(p.millisecond) * 1000000;
  return ts;
}

TDateTime NowLocal() {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(now).count();
  return UtcToLocal(ns / 1000000000, ns % 1000000000);
}

std::string DateTimeToStr(TDateTime value) {
  const DateTimeParts p = DecodeDateTime(value);
  std::string out;
  out.reserve(19);
  Put2(out, p.day);
  out += '.';
  Put2(out, p.month);
  out += '.';
  const int y = p.year;
  out += static_cast<char>('0' + y / 1000 % 10);
  out += static_cast<char>('0' + y / 100 % 10);
  Put2(out, y % 100);
  if (p.hour != 0 || p.minute != 0 || p.second != 0) {
    out += ' ';
    Put2(out, p.hour);
    out += ':';
    Put2(out, p.minute);
    out += ':';
    Put2(out, p.second);
  }
  return out;
}

TDateTime StrToDateTime(std::string_view text) {
  std::string_view t = text;
  while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
  while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
  DateTimeParts p;
  size_t i = 0;
  if (!ReadNumber(t, i, 2, p.day) || i >= t.size() || t[i++] != '.') BadDate(text);
  if (!ReadNumber(t, i, 2, p.month) || i >= t.size() || t[i++] != '.') BadDate(text);
  if (!ReadNumber(t, i, 4, p.year)) BadDate(text);
  if (i < t.size()) {
    if (t[i++] != ' ') BadDate(text);
    while (i < t.size() && t[i] == ' ') ++i;
    if (!ReadNumber(t, i, 2, p.hour) || i >= t.size() || t[i++] != ':') BadDate(text);
    if (!ReadNumber(t, i, 2, p.minute)) BadDate(text);
    if (i < t.size()) {
      if (t[i++] != ':' || !ReadNumber(t, i, 2, p.second) || i != t.size()) BadDate(text);
    }
  }
  try {
    return EncodeDateTime(p);
  } catch (const EConvertError&) {
    BadDate(text);
  }
}

std::string SizeToMbText(std::uint64_t bytes) {
  if (bytes == 0) return "0";
  // bytes / 2^20 is exact in decimal with 20 fraction digits: bytes * 5^20 / 10^20.
  using u128 = unsigned __int128;
  constexpr std::uint64_t kFive20 = 95367431640625ULL;
  const u128 scaled = static_cast<u128>(bytes) * kFive20;
  auto digits = [](u128 v) {
    std::string s;
    do {
      s.insert(s.begin(), static_cast<char>('0' + static_cast<int>(v % 10)));
      v /= 10;
    } while (v != 0);
    return s;
  };
  if (bytes <= 10) {
    // Below 0.00001: exponent form, all significant digits, e.g. "9,5367431640625E-7".
    std::string d = digits(scaled);
    const int exponent = static_cast<int>(d.size()) - 21;
    while (d.size() > 1 && d.back() == '0') d.pop_back();
    std::string out(1, d[0]);
    if (d.size() > 1) out += "," + d.substr(1);
    return out + "E" + std::to_string(exponent);
  }
  // Round to 15 decimals (half up), then keep 15 digits in all, counting the leading "0," and
  // the zeros after it for values below 1; later digits are dropped, not rounded.
  const u128 rounded = (scaled + 50000) / 100000;  // units of 10^-15
  constexpr u128 kUnit = 1000000000000000ULL;       // 10^15
  const std::string intPart = digits(rounded / kUnit);
  std::string frac = digits(rounded % kUnit);
  frac.insert(0, 15 - frac.size(), '0');
  const size_t room = intPart.size() >= 15 ? 0 : 15 - intPart.size();
  frac.resize(std::min(frac.size(), room));
  while (!frac.empty() && frac.back() == '0') frac.pop_back();
  return frac.empty() ? intPart : intPart + "," + frac;
}

double StrToFloat(std::string_view text) {
  std::string_view t = text;
  while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
  while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
  if (t.empty()) BadFloat(text);
  // Check the shape: [sign] digits [, digits] [E [sign] digits]
  std::string c;
  c.reserve(t.size());
  size_t i = 0;
  if (t[i] == '+' || t[i] == '-') c += t[i++];
  size_t mantissaDigits = 0;
  while (i < t.size() && t[i] >= '0' && t[i] <= '9') c += t[i++], ++mantissaDigits;
  if (i < t.size() && t[i] == ',') {
    c += '.';
    ++i;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') c += t[i++], ++mantissaDigits;
  }
  if (mantissaDigits == 0) BadFloat(text);
  if (i < t.size() && (t[i] == 'E' || t[i] == 'e')) {
    c += 'e';
    ++i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) c += t[i++];
    size_t expDigits = 0;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') c += t[i++], ++expDigits;
    if (expDigits == 0) BadFloat(text);
  }
  if (i != t.size()) BadFloat(text);
  // from_chars ignores the process locale, which a GUI toolkit may have changed.
  double value = 0;
  const char* begin = c.data() + (c[0] == '+' ? 1 : 0);
  const auto [end, ec] = std::from_chars(begin, c.data() + c.size(), value);
  if (ec == std::errc::invalid_argument || end != c.data() + c.size()) BadFloat(text);
  return value;
}

}  // namespace bsync
