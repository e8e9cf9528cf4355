// The GEM equipment on what a host may send: every stream/function it answers (and some it does
// not) with a well-formed body built from the input (any formats, lengths, values and nesting),
// in whatever communication and control state the earlier inputs left it. Between messages it
// reports the events and alarms the host may have set up and lets its timers run (traces), so
// the definitions the host made are read back. Nothing may crash or hang.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "gem/equipment.h"

namespace g = vexlor::gem;
namespace s = vexlor::secs;

namespace {

// Reads the input a byte at a time; zeros once it runs out.
struct Bytes {
  const uint8_t* data;
  std::size_t size, at = 0;
  uint8_t next() { return at < size ? data[at++] : 0; }
  uint32_t next32() {
    uint32_t v = 0;
    for (int k = 0; k < 4; ++k) v = (v << 8) | next();
    return v;
  }
  bool empty() const { return at >= size; }
};

// A number the equipment may know: small, a known ID's neighbourhood, or anything.
uint64_t number(Bytes& in) {
  switch (in.next() % 4) {
    case 0: return in.next() % 16;
    case 1: return 1000u * (in.next() % 30) + in.next() % 40;  // CEIDs, DVIDs
    case 2: return 2000u + in.next32() % 2000;                 // SVIDs, settings
    default: return in.next32();
  }
}

s::Item item(Bytes& in, int depth) {
  const uint8_t kind = in.next();
  const std::size_t count = in.next() % 6;
  switch (depth < 4 ? kind % 12 : 1 + kind % 11) {
    case 0: {
      std::vector<s::Item> items;
      for (std::size_t k = 0; k < count && !in.empty(); ++k) items.push_back(item(in, depth + 1));
      return s::Item::list(std::move(items));
    }
    case 1: {
      std::string text;
      const std::size_t n = in.next() % 48;
      for (std::size_t k = 0; k < n; ++k) text += static_cast<char>(in.next());
      return s::Item::ascii(text);
    }
    case 2: {
      std::vector<uint8_t> bytes;  // also none at all, as in an empty ALED or ACK
      for (std::size_t k = 0; k < count; ++k) bytes.push_back(static_cast<uint8_t>(number(in)));
      return s::Item::binary(std::move(bytes));
    }
    case 3: return s::Item::boolean((in.next() & 1) != 0);
    case 4: return s::Item::u1(number(in) & 0xFF);
    case 5: return s::Item::u2(number(in) & 0xFFFF);
    case 6: return s::Item::u4(number(in) & 0xFFFFFFFFu);
    case 7: return s::Item::u8(number(in));
    case 8: return s::Item::i1(static_cast<int8_t>(number(in)));
    case 9: return s::Item::i4(static_cast<int32_t>(number(in)));
    case 10: return s::Item::f8(static_cast<double>(static_cast<int32_t>(number(in))) / 7.0);
    default: {
      std::vector<s::Item> items;  // a list of one format, as a vector of IDs is sent
      for (std::size_t k = 0; k < count; ++k) items.push_back(s::Item::u4(number(in) & 0xFFFFFFFFu));
      return s::Item::list(std::move(items));
    }
  }
}

class QuietLink : public g::Link {
 public:
  bool send(int, int, bool, const s::Item& body, Done) override {
    (void)s::encode(body);
    return true;
  }
  bool reply(const s::Message&, const s::Item& body) override {
    (void)s::encode(body);
    return true;
  }
  bool abort(const s::Message&) override { return true; }
  bool send_s9(int, const s::Header&) override { return true; }
};

class QuietRuntime : public g::Runtime {
 public:
  s::Item read(const g::VariableDef& v) override {
    if (v.point_kind == 2) return s::Item::ascii("TEXT");
    return s::Item::i4(static_cast<int32_t>(v.vid));
  }
  bool read_constant(const g::ConstantDef&, double* value) override {
    *value = 1;
    return true;
  }
  bool write_constant(const g::ConstantDef&, double) override { return true; }
  int run(const std::string&, const std::string&) override { return 4; }
  int show_message(int, const std::string&) override { return 0; }
  void link_state(const g::LinkView&) override {}
};

struct Equipment {
  QuietLink link;
  QuietRuntime runtime;
  g::GemEquipment gem;
  g::GemEquipment::Clock::time_point now = g::GemEquipment::Clock::now();

  static g::Mapping mapping() {
    g::Mapping m;
    m.events = g::standard_events();
    m.variables = g::standard_variables();
    m.constants = g::standard_constants();
    m.alarms = {{800, "System alarm"}, {1001, "Chamber pressure high"}};
    m.commands = {g::run_command(), {"PPSELECT", "PM1_PROCESS", {"PPID", "LOT"}, "{PPID};{LOT}"}};
    return m;
  }
  Equipment() : gem(mapping(), runtime, nullptr, g::GemSettings{}) {
    std::string error;
    if (!gem.start(&error, false)) __builtin_trap();
    gem.set_link(&link);
  }
};

Equipment& equipment() {
  static Equipment e;
  return e;
}

constexpr int kFunctions[][2] = {
    {1, 1},  {1, 3},  {1, 11}, {1, 13}, {1, 15}, {1, 17}, {2, 13}, {2, 15}, {2, 17}, {2, 23},
    {2, 29}, {2, 31}, {2, 33}, {2, 35}, {2, 37}, {2, 41}, {5, 3},  {5, 5},  {6, 15}, {6, 23},
    {10, 3}, {1, 99}, {7, 1},  {6, 11}, {2, 0},
};
constexpr std::size_t kCount = sizeof kFunctions / sizeof kFunctions[0];

s::Message primary(int stream, int function, s::Item body, bool has_body) {
  s::Message m = s::data_message(0, stream, function, true, std::move(body), has_body);
  m.header.system = 1;
  return m;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  Equipment& e = equipment();
  Bytes in{data, size};
  while (!in.empty()) {
    const uint8_t op = in.next();
    switch (op % 8) {
      case 0:  // the link comes and goes; communication and control come back
        e.gem.on_selected((op & 0x10) != 0);
        e.gem.on_primary(primary(1, 13, s::Item::list(), true));
        e.gem.on_primary(primary(1, 17, s::Item::list(), true));
        break;
      case 1:  // the operator's requests
        e.gem.request(op & 0x10 ? "REQUEST_REMOTE" : op & 0x20 ? "REQUEST_LOCAL" : "REQUEST_OFFLINE");
        break;
      case 2: {  // what the equipment reports
        const auto& events = e.gem.mapping().events;
        if (!events.empty()) e.gem.deliver(e.gem.prepare_event(events[in.next() % events.size()].name));
        e.gem.deliver(e.gem.prepare_alarm(in.next() % 2 ? 800 : in.next32(), (op & 0x10) != 0, "x"));
        break;
      }
      case 3:  // time passes: trace samples, S1F13 retries
        e.now += std::chrono::milliseconds(10 * (1 + in.next()));
        e.gem.tick(e.now);
        break;
      default: {  // a host's primary with a well-formed body (or none)
        const auto& sf = kFunctions[in.next() % kCount];
        const bool has_body = (op & 0x80) == 0;
        e.gem.on_primary(primary(sf[0], sf[1], has_body ? item(in, 0) : s::Item(), has_body));
        break;
      }
    }
  }
  (void)e.gem.status();
  (void)e.gem.definitions();
  return 0;
}
