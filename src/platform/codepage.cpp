#include "platform/codepage.h"

#include <array>
#include <cstdint>

namespace bsync {
namespace {

// Code points of the bytes 0x80..0x9F; 0 marks the five unassigned bytes, which map to
// U+0080..U+009F of the same value.
constexpr std::array<char32_t, 32> kHigh = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char32_t ByteToCodePoint(unsigned char b) {
  if (b >= 0x80 && b <= 0x9F && kHigh[b - 0x80] != 0) return kHigh[b - 0x80];
  return b;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Decodes one UTF-8 sequence at text[i]; returns false on malformed input.
bool DecodeUtf8(std::string_view text, size_t& i, char32_t& c) {
  const auto b0 = static_cast<unsigned char>(text[i]);
  int len;
  if (b0 < 0x80) {
    c = b0;
    len = 1;
  } else if ((b0 & 0xE0) == 0xC0) {
    c = b0 & 0x1F;
    len = 2;
  } else if ((b0 & 0xF0) == 0xE0) {
    c = b0 & 0x0F;
    len = 3;
  } else if ((b0 & 0xF8) == 0xF0) {
    c = b0 & 0x07;
    len = 4;
  } else {
    return false;
  }
  if (i + len > text.size()) return false;
  for (int k = 1; k < len; ++k) {
    const auto b = static_cast<unsigned char>(text[i + k]);
    if ((b & 0xC0) != 0x80) return false;
    c = (c << 6) | (b & 0x3F);
  }
  static constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
  if (c < kMin[len] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
  i += len;
  return true;
}

// The Windows-1252 byte of a code point, or -1.
int CodePointToByte(char32_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<int>(c);
  for (int k = 0; k < 32; ++k) {
    if (kHigh[k] == c || (kHigh[k] == 0 && c == char32_t(0x80 + k))) return 0x80 + k;
  }
  return -1;
}

template <bool Lossy>
std::optional<std::string> Encode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    char32_t c;
    if (!DecodeUtf8(text, i, c)) {
      if (!Lossy) return std::nullopt;
      out += '?';
      ++i;
      continue;
    }
    const int b = CodePointToByte(c);
    if (b < 0) {
      if (!Lossy) return std::nullopt;
      out += '?';
    } else {
      out += static_cast<char>(b);
    }
  }
  return out;
}

}  // namespace

std::string Cp1252ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const auto b = static_cast<unsigned char>(ch);
    if (b < 0x80)
      out += ch;
    else
      AppendUtf8(out, ByteToCodePoint(b));
  }
  return out;
}

std::optional<std::string> Utf8ToCp1252(std::string_view text) {
  // Plain ASCII, by far the common case, needs no conversion.
  bool ascii = true;
  for (const char ch : text) {
    if (static_cast<unsigned char>(ch) >= 0x80) {
      ascii = false;
      break;
    }
  }
  if (ascii) return std::string(text);
  return Encode<false>(text);
}

std::string Utf8ToCp1252Lossy(std::string_view text) { return *Encode<true>(text); }

}  // namespace bsync
