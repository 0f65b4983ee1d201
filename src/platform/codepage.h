// List entries, list files, FTP path bytes and the settings file are Windows-1252 text, the code
// page of the other clients of an account; names on disk and dialog texts are UTF-8.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace bsync {

// Every byte maps to one character (the five unassigned bytes map to the C1 controls of the
// same value, as Windows does), so this never fails.
std::string Cp1252ToUtf8(std::string_view text);

// Empty when the text is not valid UTF-8 or holds a character Windows-1252 cannot represent.
std::optional<std::string> Utf8ToCp1252(std::string_view text);

// As Utf8ToCp1252, but an unrepresentable character becomes "?".
std::string Utf8ToCp1252Lossy(std::string_view text);

}  // namespace bsync
