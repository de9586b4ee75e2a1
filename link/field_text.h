// Keeping the texts of received fields. Most of what a receiver sends repeats from one second
// to the next (a satellite's number, elevation and azimuth, the DOPs, the altitude), and the
// texts are short: comparing one in place costs less than replacing it, so a text is only
// rewritten when it changed.
//
// Thread rule: pure functions over the arguments.
#pragma once

#include <string>
#include <string_view>

// Two texts read the same. Compared a byte at a time: the texts are a few bytes long, too
// short to be worth a call to memcmp.
inline bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

// text = value; a text that already reads so is left untouched.
inline void SetText(std::string& text, std::string_view value) {
  if (!SameText(text, value)) text.assign(value);
}
