// JSON values: read by recursive descent over the text, one function a value kind; written
// the same way round.
//
// Thread rule: pure functions.
#include "net/json_value.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <system_error>

#include "link/json_text.h"

namespace {

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  std::optional<JsonValue> document() {
    JsonValue value;
    skipSpace();
    if (!readValue(value, 0)) return std::nullopt;
    skipSpace();
    if (at_ != text_.size()) return std::nullopt;  // something after the value
    return value;
  }

 private:
  bool atEnd() const { return at_ >= text_.size(); }
  char peek() const { return atEnd() ? '\0' : text_[at_]; }

  void skipSpace() {
    while (!atEnd() && (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r')) ++at_;
  }

  bool take(char c) {
    if (atEnd() || text_[at_] != c) return false;
    ++at_;
    return true;
  }

  bool takeWord(std::string_view word) {
    if (text_.substr(at_, word.size()) != word) return false;
    at_ += word.size();
    return true;
  }

  bool readValue(JsonValue& value, int depth) {
    switch (peek()) {
      case '{': return depth < kJsonDepthLimit && readObject(value, depth + 1);
      case '[': return depth < kJsonDepthLimit && readArray(value, depth + 1);
      case '"': value.kind = JsonValue::Kind::String; return readString(value.text);
      case 't':
        value.kind = JsonValue::Kind::Boolean;
        value.boolean = true;
        return takeWord("true");
      case 'f': value.kind = JsonValue::Kind::Boolean; return takeWord("false");
      case 'n': return takeWord("null");
      default: value.kind = JsonValue::Kind::Number; return readNumber(value.number);
    }
  }

  // The items of an object or an array, separated by commas, up to the closing bracket.
  template <typename ReadItem>
  bool readItems(char closing, ReadItem readItem) {
    ++at_;
    skipSpace();
    if (take(closing)) return true;
    for (;;) {
      skipSpace();
      if (!readItem()) return false;
      skipSpace();
      if (take(closing)) return true;
      if (!take(',')) return false;
    }
  }

  // { "name" : value , ... }
  bool readObject(JsonValue& value, int depth) {
    value.kind = JsonValue::Kind::Object;
    return readItems('}', [&] {
      std::string name;
      if (peek() != '"' || !readString(name)) return false;
      skipSpace();
      if (!take(':')) return false;
      skipSpace();
      JsonValue member;
      if (!readValue(member, depth)) return false;
      value.members.push_back({std::move(name), std::move(member)});
      return true;
    });
  }

  // [ value , ... ]
  bool readArray(JsonValue& value, int depth) {
    value.kind = JsonValue::Kind::Array;
    return readItems(']', [&] {
      JsonValue element;
      if (!readValue(element, depth)) return false;
      value.elements.push_back(std::move(element));
      return true;
    });
  }

  // Four hex digits of a \u escape.
  bool readHex4(std::uint32_t& unit) {
    if (text_.size() - at_ < 4) return false;
    const char* begin = text_.data() + at_;
    const auto [end, error] = std::from_chars(begin, begin + 4, unit, 16);
    if (error != std::errc() || end != begin + 4) return false;
    at_ += 4;
    return true;
  }

  static void appendUtf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
      out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (code >> 6)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (code >> 12)));
      out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (code >> 18)));
      out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
  }

  // \uXXXX, or a pair of them for a character beyond the first plane; a lone surrogate is no
  // character.
  bool readUnicodeEscape(std::string& out) {
    std::uint32_t unit = 0;
    if (!readHex4(unit)) return false;
    if (unit >= 0xDC00 && unit <= 0xDFFF) return false;
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      std::uint32_t low = 0;
      if (!takeWord("\\u") || !readHex4(low) || low < 0xDC00 || low > 0xDFFF) return false;
      unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
    }
    appendUtf8(out, unit);
    return true;
  }

  // "text": no control character unescaped.
  bool readString(std::string& out) {
    ++at_;
    for (;;) {
      if (atEnd()) return false;
      const char c = text_[at_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return false;
      if (c != '\\') {
        out.push_back(c);
        continue;
      }
      if (atEnd()) return false;
      switch (text_[at_++]) {
        case '"': out.push_back('"'); break;
        case '\\': out.push_back('\\'); break;
        case '/': out.push_back('/'); break;
        case 'b': out.push_back('\b'); break;
        case 'f': out.push_back('\f'); break;
        case 'n': out.push_back('\n'); break;
        case 'r': out.push_back('\r'); break;
        case 't': out.push_back('\t'); break;
        case 'u':
          if (!readUnicodeEscape(out)) return false;
          break;
        default: return false;
      }
    }
  }

  bool takeDigits() {
    const std::size_t begin = at_;
    while (peek() >= '0' && peek() <= '9') ++at_;
    return at_ > begin;
  }

  // -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?, converted as the C locale would.
  bool readNumber(double& number) {
    const std::size_t begin = at_;
    take('-');
    if (take('0')) {
      if (peek() >= '0' && peek() <= '9') return false;  // no leading zeros
    } else if (!takeDigits()) {
      return false;
    }
    if (take('.') && !takeDigits()) return false;
    if (take('e') || take('E')) {
      if (!take('+')) take('-');
      if (!takeDigits()) return false;
    }
    const char* first = text_.data() + begin;
    const auto [end, error] = std::from_chars(first, text_.data() + at_, number);
    return error == std::errc() && end == text_.data() + at_;
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

}  // namespace

const JsonValue* JsonValue::member(std::string_view name) const {
  for (const JsonMember& m : members) {
    if (m.name == name) return &m.value;
  }
  return nullptr;
}

std::string JsonValue::textOf(std::string_view name) const {
  const JsonValue* value = member(name);
  return value != nullptr && value->kind == Kind::String ? value->text : std::string();
}

std::optional<JsonValue> ReadJson(std::string_view text) { return Reader(text).document(); }

std::string WrittenJson(const JsonValue& value) {
  switch (value.kind) {
    case JsonValue::Kind::Null: return "null";
    case JsonValue::Kind::Boolean: return value.boolean ? "true" : "false";
    case JsonValue::Kind::Number: {
      if (!std::isfinite(value.number)) return "null";  // JSON has no infinity
      char digits[32];                                  // the longest shortest form of a double is 24 characters
      const auto [end, error] = std::to_chars(digits, digits + sizeof digits, value.number);
      return error == std::errc() ? std::string(digits, end) : "null";
    }
    case JsonValue::Kind::String: return JsonQuoted(value.text);
    case JsonValue::Kind::Array: {
      std::string out = "[";
      for (const JsonValue& element : value.elements) out += (out.size() > 1 ? "," : "") + WrittenJson(element);
      return out + "]";
    }
    case JsonValue::Kind::Object: {
      std::string out = "{";
      for (const JsonMember& m : value.members) {
        out += (out.size() > 1 ? "," : "") + JsonQuoted(m.name) + ":" + WrittenJson(m.value);
      }
      return out + "}";
    }
  }
  return "null";
}
