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

// How the whole of a text reads as a double, by std::from_chars's rules
// (no leading '+' or blanks, no hex): a number, one no double holds (its
// magnitude beyond the largest, or rounding to zero though not zero), or
// no number at all.
enum class DoubleText { number, out_of_range, not_a_number };
DoubleText read_double(std::string_view text, double &value);
// The same by a check of the text and strtod, for libraries without
// std::from_chars for double (read_double uses it there; tests hold the two
// to each other where both exist).
DoubleText read_double_portably(std::string_view text, double &value);

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
