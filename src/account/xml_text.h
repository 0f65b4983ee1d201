// Text helpers of the account-service client: escaping request values, decoding entities in an
// answer, and finding struct members in an answer by plain string search.
#pragma once

#include <string>
#include <string_view>

namespace bsync {

// Replaces "&", "<" and ">" by their entities, so that any value can travel inside an element.
std::string XmlEscape(std::string_view text);

// Decodes "&amp;", "&apos;", "&lt;", "&gt;", "&quot;" and decimal references "&#N;" with N from
// 0 to 255 written without leading zeros, in one pass: the text produced by one reference is never
// read again, so "&amp;lt;" becomes "&lt;". A reference of 128 to 255 becomes that character in
// UTF-8 (the text is UTF-8 here). Everything else is left as it is.
std::string DecodeEntities(std::string_view text);

// The value of the first member named name (case-sensitive) in an XML-RPC answer: the text
// between the value's type element and its closing tag. The member must be written compactly,
// "<member><name>NAME</name><value><TYPE>VALUE</TYPE>"; otherwise, and when the closing tag is
// missing, the result is empty.
std::string FindMember(std::string_view body, std::string_view name);

// Removes every character of code 0 to 32 from both ends.
std::string TrimControls(std::string_view text);

// The first max characters of a UTF-8 text (a byte that does not start a UTF-8 sequence counts
// as one character), never cutting inside a character.
std::string CutToChars(std::string_view text, std::size_t max);

}  // namespace bsync
