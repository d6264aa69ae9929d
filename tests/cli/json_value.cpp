#include "tests/cli/json_value.h"

#include <cctype>
#include <cstdlib>
#include <stdexcept>

namespace ferrotick::testing {

namespace {

class Parser {
 public:
  explicit Parser(std::string_view text) : m_text(text) {}

  std::optional<JsonValue> Document() {
    std::optional<JsonValue> value = Value();
    SkipBlanks();
    if (!value || m_pos != m_text.size()) return std::nullopt;
    return value;
  }

 private:
  void SkipBlanks() {
    while (m_pos < m_text.size() &&
           (m_text[m_pos] == ' ' || m_text[m_pos] == '\t' ||
            m_text[m_pos] == '\n' || m_text[m_pos] == '\r')) {
      ++m_pos;
    }
  }

  bool Take(std::string_view word) {
    if (m_text.substr(m_pos, word.size()) != word) return false;
    m_pos += word.size();
    return true;
  }

  std::optional<JsonValue> Value() {
    if (++m_depth > 32) return std::nullopt;
    SkipBlanks();
    std::optional<JsonValue> value;
    if (m_pos >= m_text.size()) return std::nullopt;
    const char c = m_text[m_pos];
    if (c == '{') {
      value = Object();
    } else if (c == '[') {
      value = Array();
    } else if (c == '"') {
      if (std::optional<std::string> text = String()) value = JsonValue{*text};
    } else if (Take("true")) {
      value = JsonValue{true};
    } else if (Take("false")) {
      value = JsonValue{false};
    } else if (Take("null")) {
      value = JsonValue{nullptr};
    } else {
      value = NumberValue();
    }
    --m_depth;
    return value;
  }

  std::optional<JsonValue> Object() {
    auto object = std::make_shared<JsonObject>();
    ++m_pos;
    SkipBlanks();
    if (Take("}")) return JsonValue{object};
    for (;;) {
      SkipBlanks();
      std::optional<std::string> key = String();
      if (!key) return std::nullopt;
      SkipBlanks();
      if (!Take(":")) return std::nullopt;
      std::optional<JsonValue> member = Value();
      if (!member || object->count(*key)) return std::nullopt;
      (*object)[*key] = *member;
      SkipBlanks();
      if (Take("}")) return JsonValue{object};
      if (!Take(",")) return std::nullopt;
    }
  }

  std::optional<JsonValue> Array() {
    auto array = std::make_shared<JsonArray>();
    ++m_pos;
    SkipBlanks();
    if (Take("]")) return JsonValue{array};
    for (;;) {
      std::optional<JsonValue> item = Value();
      if (!item) return std::nullopt;
      array->push_back(*item);
      SkipBlanks();
      if (Take("]")) return JsonValue{array};
      if (!Take(",")) return std::nullopt;
    }
  }

  static void AppendUtf8(std::string& out, unsigned code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  std::optional<std::string> String() {
    if (!Take("\"")) return std::nullopt;
    std::string out;
    while (m_pos < m_text.size()) {
      const auto c = static_cast<unsigned char>(m_text[m_pos++]);
      if (c == '"') return out;
      if (c < 0x20) return std::nullopt;  // raw control characters
      if (c != '\\') {
        out += static_cast<char>(c);
        continue;
      }
      if (m_pos >= m_text.size()) return std::nullopt;
      const char e = m_text[m_pos++];
      switch (e) {
        case '"':
        case '\\':
        case '/':
          out += e;
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          if (m_pos + 4 > m_text.size()) return std::nullopt;
          unsigned code = 0;
          for (int i = 0; i < 4; ++i) {
            const char h = m_text[m_pos++];
            code <<= 4;
            if (h >= '0' && h <= '9') {
              code |= static_cast<unsigned>(h - '0');
            } else if (h >= 'a' && h <= 'f') {
              code |= static_cast<unsigned>(h - 'a' + 10);
            } else if (h >= 'A' && h <= 'F') {
              code |= static_cast<unsigned>(h - 'A' + 10);
            } else {
              return std::nullopt;
            }
          }
          AppendUtf8(out, code);
          break;
        }
        default:
          return std::nullopt;
      }
    }
    return std::nullopt;
  }

  std::optional<JsonValue> NumberValue() {
    const std::size_t start = m_pos;
    if (m_pos < m_text.size() && m_text[m_pos] == '-') ++m_pos;
    const std::size_t digits = m_pos;
    while (m_pos < m_text.size() &&
           std::isdigit(static_cast<unsigned char>(m_text[m_pos])))
      ++m_pos;
    if (m_pos == digits) return std::nullopt;
    if (m_text[digits] == '0' && m_pos - digits > 1) return std::nullopt;
    if (m_pos < m_text.size() && m_text[m_pos] == '.') {
      const std::size_t fraction = ++m_pos;
      while (m_pos < m_text.size() &&
             std::isdigit(static_cast<unsigned char>(m_text[m_pos])))
        ++m_pos;
      if (m_pos == fraction) return std::nullopt;
    }
    if (m_pos < m_text.size() &&
        (m_text[m_pos] == 'e' || m_text[m_pos] == 'E')) {
      ++m_pos;
      if (m_pos < m_text.size() &&
          (m_text[m_pos] == '+' || m_text[m_pos] == '-'))
        ++m_pos;
      const std::size_t exponent = m_pos;
      while (m_pos < m_text.size() &&
             std::isdigit(static_cast<unsigned char>(m_text[m_pos])))
        ++m_pos;
      if (m_pos == exponent) return std::nullopt;
    }
    const std::string number(m_text.substr(start, m_pos - start));
    return JsonValue{std::strtod(number.c_str(), nullptr)};
  }

  std::string_view m_text;
  std::size_t m_pos = 0;
  int m_depth = 0;
};

}  // namespace

bool JsonValue::IsObject() const {
  return std::holds_alternative<std::shared_ptr<JsonObject>>(value);
}

const JsonValue& JsonValue::operator[](const std::string& key) const {
  const auto& object = std::get<std::shared_ptr<JsonObject>>(value);
  const auto it = object->find(key);
  if (it == object->end()) throw std::out_of_range("no member " + key);
  return it->second;
}

bool JsonValue::Has(const std::string& key) const {
  return IsObject() &&
         std::get<std::shared_ptr<JsonObject>>(value)->count(key) > 0;
}

double JsonValue::Number() const { return std::get<double>(value); }

const std::string& JsonValue::String() const {
  return std::get<std::string>(value);
}

bool JsonValue::Bool() const { return std::get<bool>(value); }

std::optional<JsonValue> ParseJson(std::string_view text) {
  return Parser(text).Document();
}

std::optional<std::vector<JsonValue>> ParseJsonLines(std::string_view text) {
  std::vector<JsonValue> values;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos) return std::nullopt;  // cut short
    std::optional<JsonValue> value = ParseJson(text.substr(0, end));
    if (!value || !value->IsObject()) return std::nullopt;
    values.push_back(*value);
    text.remove_prefix(end + 1);
  }
  return values;
}

}  // namespace ferrotick::testing
