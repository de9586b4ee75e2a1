// Writing a text as a JSON string: gpsd's watch request names its device in one, and the
// command-line tool's --json output is made of them. One escaper, so both say the same of a
// quote, a backslash or a control character.
//
// Thread rule: pure.
#pragma once

#include <string>
#include <string_view>

// The text between double quotes: " and \ escaped, LF, CR and tab as \n, \r and \t, other
// control characters as \u00XX; every other byte as it is, so the text must be UTF-8 already.
std::string JsonQuoted(std::string_view utf8);
