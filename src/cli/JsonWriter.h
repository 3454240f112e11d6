// The one writer of vezorizer-cli's --json documents, so that every command lays its
// document out alike: two blanks a level, "key": value, text that is not UTF-8 written
// as U+FFFD. An object's fields are written as they become known, so a long list
// (inspect's messages) is never held whole; such a list holds one compact item a line.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace cli {

using Json = nlohmann::ordered_json;

// value as every document writes it; indent -1 puts it on one line.
std::string JsonDump(const Json& value, int indent = 2);

// text, or null when there is none (a document's "error").
Json TextOrNull(const std::optional<std::string>& text);

class JsonWriter {
 public:
  explicit JsonWriter(std::ostream& out) : out_(out) {}
  // A value laid out as a whole document lays it out at this depth.
  JsonWriter& Field(std::string_view key, const Json& value);
  // A list whose items follow one by one, each on one line of its own.
  JsonWriter& List(std::string_view key);
  JsonWriter& Item(const Json& item);
  // Closes the object (and a list still open) and ends the line.
  void End();

 private:
  void Key(std::string_view key);
  void CloseList();
  std::ostream& out_;
  bool anyField_ = false;
  bool inList_ = false;
  bool anyItem_ = false;
};

}  // namespace cli
