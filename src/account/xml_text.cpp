#include "account/xml_text.h"

#include <array>
#include <charconv>

namespace bsync {

std::string XmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default: out += c;
    }
  }
  return out;
}

namespace {

void AppendUtf8(std::string& out, unsigned code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// Length of the entity at the start of text and the code it stands for, or 0 when there is none.
std::size_t MatchEntity(std::string_view text, unsigned& code) {
  struct Named {
    std::string_view name;
    char value;
  };
  static constexpr std::array<Named, 5> kNamed{{{"&amp;", '&'},
                                                {"&apos;", '\''},
                                                {"&lt;", '<'},
                                                {"&gt;", '>'},
                                                {"&quot;", '"'}}};
  for (const auto& n : kNamed) {
    if (text.starts_with(n.name)) {
      code = static_cast<unsigned char>(n.value);
      return n.name.size();
    }
  }
  if (!text.starts_with("&#")) return 0;
  const std::size_t semi = text.find(';', 2);
  if (semi == std::string_view::npos || semi == 2 || semi > 5) return 0;
  const std::string_view digits = text.substr(2, semi - 2);
  if (digits.size() > 1 && digits[0] == '0') return 0;  // leading zeros are not decoded
  unsigned value = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (ec != std::errc() || end != digits.data() + digits.size() || value > 255) return 0;
  code = value;
  return semi + 1;
}

}  // namespace

std::string DecodeEntities(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] == '&') {
      unsigned code = 0;
      if (const std::size_t len = MatchEntity(text.substr(i), code)) {
        AppendUtf8(out, code);
        i += len;
        continue;
      }
    }
    out += text[i++];
  }
  return out;
}

std::string FindMember(std::string_view body, std::string_view name) {
  const std::string key = "<member><name>" + std::string(name) + "</name><value><";
  const std::size_t at = body.find(key);
  if (at == std::string_view::npos) return {};
  const std::string_view rest = body.substr(at + key.size());
  const std::size_t gt = rest.find('>');
  if (gt == std::string_view::npos) return {};
  const std::string closing = "</" + std::string(rest.substr(0, gt)) + ">";
  const std::size_t end = rest.find(closing);
  if (end == std::string_view::npos || end < gt + 1) return {};
  return std::string(rest.substr(gt + 1, end - gt - 1));
}

std::string TrimControls(std::string_view text) {
  auto isControl = [](char c) { return static_cast<unsigned char>(c) <= 32; };
  std::size_t b = 0, e = text.size();
  while (b < e && isControl(text[b])) ++b;
  while (e > b && isControl(text[e - 1])) --e;
  return std::string(text.substr(b, e - b));
}

std::string CutToChars(std::string_view text, std::size_t max) {
  std::size_t i = 0, chars = 0;
  while (i < text.size() && chars < max) {
    ++i;
    while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) ++i;
    ++chars;
  }
  return std::string(text.substr(0, i));
}

}  // namespace bsync
