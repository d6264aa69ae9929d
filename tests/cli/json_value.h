// A strict JSON reader for checking what the command line prints.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace ferrotick::testing {

struct JsonValue;
using JsonObject = std::map<std::string, JsonValue>;
using JsonArray = std::vector<JsonValue>;

struct JsonValue {
  std::variant<std::nullptr_t, bool, double, std::string,
               std::shared_ptr<JsonArray>, std::shared_ptr<JsonObject>>
      value;

  bool IsObject() const;
  // The member `key` of an object; throws when absent or not an object.
  const JsonValue& operator[](const std::string& key) const;
  bool Has(const std::string& key) const;
  double Number() const;
  const std::string& String() const;
  bool Bool() const;
};

// The one value `text` holds, or nothing when it is not exactly valid JSON.
std::optional<JsonValue> ParseJson(std::string_view text);
// One object per line; nothing when any line is not a JSON object.
std::optional<std::vector<JsonValue>> ParseJsonLines(std::string_view text);

}  // namespace ferrotick::testing
