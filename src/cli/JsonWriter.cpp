#include "cli/JsonWriter.h"

namespace cli {

std::string JsonDump(const Json& value, int indent) {
  return value.dump(indent, ' ', false, Json::error_handler_t::replace);
}

Json TextOrNull(const std::optional<std::string>& text) { return text ? Json(*text) : Json(nullptr); }

void JsonWriter::Key(std::string_view key) {
  CloseList();
  out_ << (anyField_ ? ",\n  \"" : "{\n  \"") << key << "\": ";
  anyField_ = true;
}

JsonWriter& JsonWriter::Field(std::string_view key, const Json& value) {
  Key(key);
  // One level in: every line after the first moves two blanks right (a line break
  // inside a JSON text is written as \n, so each one here parts two lines).
  std::string text = JsonDump(value);
  for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 3)) text.insert(at + 1, "  ");
  out_ << text;
  return *this;
}

JsonWriter& JsonWriter::List(std::string_view key) {
  Key(key);
  out_ << '[';
  inList_ = true;
  anyItem_ = false;
  return *this;
}

JsonWriter& JsonWriter::Item(const Json& item) {
  out_ << (anyItem_ ? ",\n    " : "\n    ") << JsonDump(item, -1);
  anyItem_ = true;
  return *this;
}

void JsonWriter::CloseList() {
  if (!inList_) return;
  out_ << (anyItem_ ? "\n  ]" : "]");
  inList_ = false;
}

void JsonWriter::End() {
  CloseList();
  out_ << (anyField_ ? "\n}\n" : "{}\n");
}

}  // namespace cli
