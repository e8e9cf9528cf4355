// The panel's reader of request bodies, which are flat JSON objects ({"choice":"RETRY"},
// {"value":"12.5"}).

#include "panel.h"

namespace vexlor_panel {
namespace {

class Reader {
 public:
  explicit Reader(std::string_view text) : s_(text) {}

  void blanks() {
    while (i_ < s_.size() &&
           (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\n' || s_[i_] == '\r')) {
      ++i_;
    }
  }
  bool take(char c) {
    blanks();
    if (i_ < s_.size() && s_[i_] == c) {
      ++i_;
      return true;
    }
    return false;
  }
  bool at_end() {
    blanks();
    return i_ == s_.size();
  }
  char peek() {
    blanks();
    return i_ < s_.size() ? s_[i_] : '\0';
  }

  bool string(std::string* out) {
    if (!take('"')) return false;
    out->clear();
    while (i_ < s_.size()) {
      const char c = s_[i_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return false;
      if (c != '\\') {
        *out += c;
        continue;
      }
      if (i_ >= s_.size()) return false;
      const char e = s_[i_++];
      switch (e) {
        case '"':
        case '\\':
        case '/':
          *out += e;
          break;
        case 'n':
          *out += '\n';
          break;
        case 't':
          *out += '\t';
          break;
        case 'r':
          *out += '\r';
          break;
        case 'b':
          *out += '\b';
          break;
        case 'f':
          *out += '\f';
          break;
        case 'u': {
          unsigned code = 0;
          if (!hex4(&code)) return false;
          if (code >= 0xD800 && code < 0xDC00) {  // a surrogate pair
            unsigned low = 0;
            if (!(take('\\') && take('u') && hex4(&low)) || low < 0xDC00 || low > 0xDFFF) {
              return false;
            }
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          } else if (code >= 0xDC00 && code < 0xE000) {
            return false;
          }
          utf8(code, out);
          break;
        }
        default:
          return false;
      }
    }
    return false;
  }

  bool number(std::string* out) {
    blanks();
    const std::size_t start = i_;
    if (i_ < s_.size() && s_[i_] == '-') ++i_;
    bool digits = false;
    while (i_ < s_.size() && ((s_[i_] >= '0' && s_[i_] <= '9') || s_[i_] == '.' || s_[i_] == 'e' ||
                              s_[i_] == 'E' || s_[i_] == '+' || s_[i_] == '-')) {
      digits = digits || (s_[i_] >= '0' && s_[i_] <= '9');
      ++i_;
    }
    out->assign(s_.substr(start, i_ - start));
    return digits;
  }

 private:
  bool hex4(unsigned* code) {
    if (i_ + 4 > s_.size()) return false;
    *code = 0;
    for (int k = 0; k < 4; ++k) {
      const char h = s_[i_++];
      *code <<= 4;
      if (h >= '0' && h <= '9') {
        *code |= static_cast<unsigned>(h - '0');
      } else if (h >= 'a' && h <= 'f') {
        *code |= static_cast<unsigned>(h - 'a' + 10);
      } else if (h >= 'A' && h <= 'F') {
        *code |= static_cast<unsigned>(h - 'A' + 10);
      } else {
        return false;
      }
    }
    return true;
  }
  static void utf8(unsigned code, std::string* out) {
    if (code < 0x80) {
      *out += static_cast<char>(code);
    } else if (code < 0x800) {
      *out += static_cast<char>(0xC0 | (code >> 6));
      *out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      *out += static_cast<char>(0xE0 | (code >> 12));
      *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      *out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      *out += static_cast<char>(0xF0 | (code >> 18));
      *out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      *out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  std::string_view s_;
  std::size_t i_ = 0;
};

}  // namespace

bool parse_flat_object(std::string_view body, std::map<std::string, std::string>* out) {
  Reader r(body);
  out->clear();
  if (!r.take('{')) return false;
  if (r.take('}')) return r.at_end();
  for (;;) {
    std::string name, value;
    if (!r.string(&name) || !r.take(':')) return false;
    const char c = r.peek();
    if (c == '"' ? !r.string(&value)
                 : !((c == '-' || (c >= '0' && c <= '9')) && r.number(&value))) {
      return false;
    }
    (*out)[name] = value;
    if (r.take('}')) return r.at_end();
    if (!r.take(',')) return false;
  }
}

}  // namespace vexlor_panel
