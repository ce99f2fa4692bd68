// Numbers as text: exact round trips for the files the commands write, and
// strict parsing for the files and options they read.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qir {

// A form that reads back to the same double (%.15g to %.17g), with Inf, -Inf
// and NaN spelled so that MATLAB and Octave `load` accept them.
std::string format_number(double value);

// The whole of `text` (surrounding blanks allowed) as a double; nothing when
// any other character is present or the text is empty.
std::optional<double> parse_number(std::string_view text);

// "1 node", "3 nodes", "2 classes": a count with its noun in the right
// number (the plural is the noun with an 's' unless given).
std::string count_of(std::size_t count, const std::string &noun, const std::string &plural = "");

// Removes blanks, tabs and carriage returns at both ends.
std::string_view trim(std::string_view text);

// Names (of features and classes) are UTF-8 text, so that every front end
// shows them alike: the offset of the first byte that does not belong to
// valid UTF-8, or npos.
std::size_t first_invalid_utf8(std::string_view text);

// `text` for a message: every byte that is not valid UTF-8 written as \xHH,
// so that a message quoting a file's bytes is itself valid text.
std::string shown_text(std::string_view text);

}  // namespace qir
