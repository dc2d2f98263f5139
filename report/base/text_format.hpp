#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

// Text helpers shared by the reporters and the commands.

// printf into a std::string of whatever length the result needs.
[[gnu::format(printf, 1, 2)]] std::string formatText(const char* format, ...);

// text with every control character and every byte that is not valid UTF-8 written as \xNN (a
// backslash as \\), so that a file name or a document's value can never break the line it is
// shown on or the terminal it is shown in.
std::string printable(std::string_view text);

// printable(text) as one cell of a Markdown table: each '|', which would end the cell, written
// as "\|" (printable already wrote each backslash as "\\").
std::string markdownCell(std::string_view text);

// A JSON value as text, indent as in nlohmann::json::dump (-1: one line). Bytes that are not
// valid UTF-8, from the user, the system or a file name, become U+FFFD instead of an exception.
std::string jsonText(const nlohmann::ordered_json& value, int indent = -1);
std::string jsonText(const nlohmann::json& value, int indent = -1);
