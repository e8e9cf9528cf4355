// tools/common/json_writer.h
// A small JSON writer for the tools' output and the panel's API: compact, strings escaped
// (quotes, backslashes, control characters; bytes that are not valid UTF-8 become U+FFFD so the
// document stays valid).
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>
namespace vexlor_tools {
class JsonWriter {
 public:
  // html_safe: '<' is written as \u003c too, so that a text never closes a <script> when the
  // document is embedded in a page.
  explicit JsonWriter(bool html_safe = false) : html_safe_(html_safe) {}
  JsonWriter& begin_object();
  JsonWriter& end_object();
  JsonWriter& begin_array();
  JsonWriter& end_array();
  JsonWriter& key(std::string_view name);
  JsonWriter& value(std::string_view text);
  JsonWriter& value(const char* text) { return value(std::string_view(text ? text : "")); }
  JsonWriter& value(const std::string& text) { return value(std::string_view(text)); }
  JsonWriter& value(int64_t number);
  JsonWriter& value(int number) { return value(static_cast<int64_t>(number)); }
  JsonWriter& value(double number);
  JsonWriter& value(bool flag);
  JsonWriter& null();
  JsonWriter& raw(std::string_view json);  // an already written JSON value
  // Shorthand for key(name).value(v).
  template <typename T>
  JsonWriter& field(std::string_view name, const T& v) {
    key(name);
    return value(v);
  }
  const std::string& text() const { return out_; }

 private:
  void separate();
  std::string out_;
  std::vector<bool> first_;  // per open container: nothing written yet
  bool after_key_ = false;
  bool html_safe_ = false;
};
}  // namespace vexlor_tools
