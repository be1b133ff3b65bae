#pragma once
// Cells as text for people and as JSON for programs, each by its own stored type: a float as
// the shortest text that reads back as the same single-precision value, a 64-bit integer
// exactly, a text as it is (so "007" stays "007"), and a missing value as nothing (null).
#include <cstddef>
#include <string>
#include <string_view>

class FloatString;

namespace kelto::cli {

// The shortest decimal text that reads back as exactly `value`.
std::string ShortestFloat(float value);

// `text` with every byte that is not part of a well-formed UTF-8 sequence replaced by U+FFFD,
// so that what is printed is always valid UTF-8 (and so valid JSON).
std::string ValidUtf8(std::string_view text);

// A JSON string literal for `text`: quotes, backslashes and control characters escaped,
// everything else kept as (well-formed) UTF-8.
void AppendJsonString(std::string& out, std::string_view text);

// The cell as a JSON value: number, integer, string or null.
void AppendJsonCell(std::string& out, const FloatString& cell);

// The cell for a table shown to people: missing is empty, line breaks become "\n".
std::string DisplayCell(const FloatString& cell);

// Characters (code points) in a UTF-8 text: the width a terminal gives it, near enough.
std::size_t DisplayWidth(std::string_view text);
// `text` cut to at most `width` characters, the last one an ellipsis when something was cut.
std::string CutToWidth(const std::string& text, std::size_t width);

}  // namespace kelto::cli
