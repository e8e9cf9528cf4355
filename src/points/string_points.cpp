// String points: raw access, access by name, formatted writes and the rolling message text.
// The fields and the value slot are expanded in point_fields.cpp; the mutex forms are in
// string_mutex.cpp.
#include "vexlor/string_points.h"

#include <cstdio>
#include <map>
#include <mutex>
#include <string>

#include "points/string_mutex.h"
#include "points/typed_point.h"

namespace vexlor::detail {
namespace {

using String = StringKind;

// The current text of a point: the read value refreshed by the shared-database layer when the
// point has an input driver, else the write value. "" when the refresh fails.
const char* current_text(int index, bool* ok) {
  bool read = false;
  const char* text = "";
  if (const PointRef<String> p = quiet_point<String>(index)) {
    if (!has_input_driver(p.record())) {
      read = true;
      text = p.slot().write_value;
    } else if (raw_read<String>(index, static_cast<char*>(nullptr))) {
      read = true;
      text = p.slot().read_value;
    }
  }
  if (ok != nullptr) *ok = read;
  return text;
}

// Per process and point: the number of the next message and the companion point.
struct MessageLog {
  int next = 0;
  int companion = Vexlor::VEXLOR_UNUSED_POINT;
};

std::mutex& message_mutex() {
  static std::mutex mutex;
  return mutex;
}

std::map<int, MessageLog>& message_logs() {
  static std::map<int, MessageLog> logs;
  return logs;
}

// The kept part of the point's text: whole oldest lines dropped until the message fits.
constexpr std::size_t kMessageRoom = 1004;

std::string_view kept_lines(std::string_view text, std::size_t message_length) {
  while (!text.empty() && text.size() + message_length >= kMessageRoom) {
    const std::size_t feed = text.find('\n');
    text = feed == std::string_view::npos ? std::string_view() : text.substr(feed + 1);
  }
  return text;
}

// Appends one numbered line to the point's rolling message text (see VString_Write_Message).
// The text is read, cut and stored again under the point's mutex, so messages of concurrent
// routines and threads never overwrite each other's lines.
void write_message(int index, const char* message, Site site) {
  const PointRef<String> p = checked_point<String>(index, site);
  if (!p) return;
  const std::string_view bare = message != nullptr ? message : "";
  int number = 0;
  int companion = Vexlor::VEXLOR_UNUSED_POINT;
  {
    std::lock_guard<std::mutex> lock(message_mutex());
    MessageLog& log = message_logs()[index];
    number = log.next;
    log.next = (log.next + 1) % 10000;
    companion = log.companion;
  }
  char line[kStringSize];
  std::snprintf(line, sizeof line, "%04d|%s|%.*s\n", number, Vexlor::VStr_Get_Time(),
                static_cast<int>(bare.size()), bare.data());
  Vexlor::VString_Write_Name(&companion, message != nullptr ? message : "", "%s0", p.record().name);
  {
    std::lock_guard<std::mutex> lock(message_mutex());
    message_logs()[index].companion = companion;
  }
  under_string_mutex(
      index,
      [&](Vexlor::VMMAP&) {
        const String::Slot& slot = p.slot();
        const std::string_view current =
            field_text(has_input_driver(p.record()) ? slot.read_value : slot.write_value);
        std::string text(kept_lines(current, bare.size()));
        text += line;
        store_value(p.slot().write_value, text.c_str());
        return true;
      },
      site);
}

}  // namespace
}  // namespace vexlor::detail

namespace Vexlor {

namespace d = vexlor::detail;
using d::String;

const char* VString_Read(int index) { return d::current_text(index, nullptr); }

const char* VString_Read(int index, bool* ok) { return d::current_text(index, ok); }

bool VString_Read(int index, char* text) {
  return text != nullptr && d::raw_read<String>(index, text);
}

const char* VString_Read(const char* name) { return VString_Read(name, nullptr, true); }

const char* VString_Read(const char* name, bool* ok, bool silent) {
  int32_t index = VEXLOR_ERROR_POINT;
  if (!d::resolve_point(IO_S, name, silent, &index)) {
    if (ok != nullptr) *ok = false;
    return "";
  }
  return d::current_text(index, ok);
}

bool VString_Write(int index, const char* text) { return d::raw_write<String>(index, text); }

bool VString_Write(const char* name, const char* text) {
  return d::write_by_name<String>(name, text);
}

bool VString_WriteF(int index, const char* format, ...) {
  VEXLOR_FORMAT_ARGS(text, d::kStringSize, format);
  return VString_Write(index, text);
}

bool VString_WriteF(const char* name, const char* format, ...) {
  VEXLOR_FORMAT_ARGS(text, d::kStringSize, format);
  return VString_Write(name, text);
}

bool VString_Read_Name(int* index, char* text, const char* format, ...) {
  bool resolved = false;
  VEXLOR_WITH_ARGS(resolved, format, d::resolve_cached(IO_S, index, format, args));
  return resolved && VString_Read(*index, text);
}

bool VString_Write_Name(int* index, const char* text, const char* format, ...) {
  bool resolved = false;
  VEXLOR_WITH_ARGS(resolved, format, d::resolve_cached(IO_S, index, format, args));
  return resolved && VString_Write(*index, text);
}

void VString_Write_MemF(int index, const char* format, ...) {
  VEXLOR_FORMAT_ARGS(text, d::kStringSize, format);
  d::set_slot<String>(index, &String::Slot::write_value, text, VEXLOR_SITE);
}

void VString_Write_Message(int index, const char* message) {
  d::write_message(index, message, VEXLOR_SITE);
}

void VString_Write_MessageF(int index, const char* format, ...) {
  VEXLOR_FORMAT_ARGS(message, d::kStringSize, format);
  d::write_message(index, message, VEXLOR_SITE);
}

}  // namespace Vexlor
