// A link and a runtime for the GEM equipment without sockets or an equipment: the link records
// what the equipment sends and lets the test answer; the runtime holds point values in a map.
#pragma once

#include <map>
#include <ostream>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "gem/equipment.h"

namespace vexlor::secs {
// Items print as SML in test failures.
inline void PrintTo(const Item& item, std::ostream* out) { *out << "\n" << to_sml(item); }
}  // namespace vexlor::secs

namespace gem_test {

using vexlor::gem::ConstantDef;
using vexlor::gem::Link;
using vexlor::gem::LinkView;
using vexlor::gem::VariableDef;
using vexlor::secs::Item;
using vexlor::secs::Message;

struct Sent {
  int stream = 0, function = 0;
  bool wbit = false;
  Item body;
  Link::Done done;
};

class FakeLink : public Link {
 public:
  bool send(int stream, int function, bool wbit, const Item& body, Done done) override {
    std::lock_guard<std::mutex> lock(mutex);
    if (!up) return false;
    sent.push_back({stream, function, wbit, body, std::move(done)});
    return true;
  }
  bool reply(const Message& primary, const Item& body) override {
    std::lock_guard<std::mutex> lock(mutex);
    replies.emplace_back(primary.header.stream() * 100 + primary.header.function() + 1, body);
    return true;
  }
  bool abort(const Message& primary) override {
    std::lock_guard<std::mutex> lock(mutex);
    aborts.push_back(primary.header.stream() * 100 + primary.header.function());
    return true;
  }
  bool send_s9(int function, const vexlor::secs::Header& about) override {
    std::lock_guard<std::mutex> lock(mutex);
    s9.emplace_back(function, about.stream() * 100 + about.function());
    return true;
  }

  // Answers sent message k (its done callback) with a reply of the given body.
  void answer(std::size_t k, const Item& body) {
    Done done;
    int stream = 0, function = 0;
    {
      std::lock_guard<std::mutex> lock(mutex);
      done = sent.at(k).done;
      stream = sent[k].stream;
      function = sent[k].function;
    }
    vexlor::secs::ReplyResult r;
    r.kind = vexlor::secs::ReplyResult::kReply;
    r.reply.header.byte2 = static_cast<uint8_t>(stream);
    r.reply.header.byte3 = static_cast<uint8_t>(function + 1);
    r.reply.has_body = true;
    r.reply.body = body;
    if (done) done(r);
  }
  void fail(std::size_t k, vexlor::secs::ReplyResult::Kind kind) {
    Done done;
    {
      std::lock_guard<std::mutex> lock(mutex);
      done = sent.at(k).done;
    }
    vexlor::secs::ReplyResult r;
    r.kind = kind;
    if (done) done(r);
  }
  std::size_t count() {
    std::lock_guard<std::mutex> lock(mutex);
    return sent.size();
  }
  Sent at(std::size_t k) {
    std::lock_guard<std::mutex> lock(mutex);
    return sent.at(k);
  }
  std::pair<int, Item> last_reply() {
    std::lock_guard<std::mutex> lock(mutex);
    return replies.back();
  }

  std::mutex mutex;
  bool up = true;
  std::vector<Sent> sent;
  std::vector<std::pair<int, Item>> replies;  // (stream*100+function of the reply, body)
  std::vector<int> aborts;                    // stream*100+function of the aborted primary
  std::vector<std::pair<int, int>> s9;        // (S9 function, stream*100+function about)
};

class FakeRuntime : public vexlor::gem::Runtime {
 public:
  Item read(const VariableDef& v) override {
    std::lock_guard<std::mutex> lock(mutex);
    const auto it = points.find(v.point);
    if (it == points.end()) return Item::list();
    if (v.point_kind == 2) return Item::ascii(it->second);
    return Item::i4(std::stoll(it->second));
  }
  bool read_constant(const ConstantDef& c, double* value) override {
    std::lock_guard<std::mutex> lock(mutex);
    const auto it = points.find(c.point);
    if (it == points.end()) return false;
    *value = std::stod(it->second);
    return true;
  }
  bool write_constant(const ConstantDef& c, double value) override {
    std::lock_guard<std::mutex> lock(mutex);
    if (points.count(c.point) == 0) return false;
    points[c.point] = std::to_string(static_cast<long long>(value));
    return true;
  }
  int run(const std::string& routine, const std::string& args) override {
    std::lock_guard<std::mutex> lock(mutex);
    runs.emplace_back(routine, args);
    return routine == "NO_SUCH" ? 3 : 4;
  }
  int show_message(int tid, const std::string& text) override {
    std::lock_guard<std::mutex> lock(mutex);
    messages.emplace_back(tid, text);
    return terminal ? 0 : 2;
  }
  void link_state(const LinkView& v) override {
    std::lock_guard<std::mutex> lock(mutex);
    view = v;
    ++views;
  }
  void set(const std::string& point, const std::string& value) {
    std::lock_guard<std::mutex> lock(mutex);
    points[point] = value;
  }
  std::string get(const std::string& point) {
    std::lock_guard<std::mutex> lock(mutex);
    return points[point];
  }
  LinkView last_view() {
    std::lock_guard<std::mutex> lock(mutex);
    return view;
  }

  std::mutex mutex;
  std::map<std::string, std::string> points;
  std::vector<std::pair<std::string, std::string>> runs;
  std::vector<std::pair<int, std::string>> messages;
  bool terminal = true;
  LinkView view;
  int views = 0;
};

// A host's primary message with W-bit.
inline Message primary(int stream, int function, Item body = Item::list(), bool has_body = true) {
  Message m;
  m.header.byte2 = static_cast<uint8_t>(0x80 | stream);
  m.header.byte3 = static_cast<uint8_t>(function);
  m.has_body = has_body;
  m.body = std::move(body);
  return m;
}

}  // namespace gem_test
