// vexlor-modbus-sim: a small Modbus TCP device on libmodbus's server side, for the demo and
// the driver tests. It serves all four tables (65536 entries each) to any number of clients
// on 127.0.0.1.
//
//   vexlor-modbus-sim [--port N] [--set TABLE:ADDRESS=VALUE]... [--refuse TABLE:ADDRESS]...
//                     [--delay-ms N] [--counts FILE] [--garble-after N]
//
// TABLE is co, di, hr or ir; a --set VALUE is the raw bit or 16-bit register. A request that
// touches a refused entry is answered with the exception "illegal data address". --delay-ms
// delays every answer. --counts keeps FILE holding "requests READS WRITES" after each request.
// --garble-after N answers the first N requests properly and every later one wrongly, in
// turn: a wrong transaction ID, a wrong function code, a wrong byte count, half an answer,
// and random bytes. Each wrong answer carries other values than the
// device holds (every register 0xBAD0, every bit 1), so a client that took one would show it.
// Port 0 (the default) takes a free port; the port is printed on the first line of stdout.
#include <arpa/inet.h>
#include <modbus/modbus.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <random>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <utility>

namespace {

int table_of(const std::string& name) {
  if (name == "co") return 0;
  if (name == "di") return 1;
  if (name == "hr") return 2;
  if (name == "ir") return 3;
  return -1;
}

bool parse_entry(const std::string& text, int* table, int* address, long* value) {
  const auto colon = text.find(':');
  if (colon == std::string::npos) return false;
  *table = table_of(text.substr(0, colon));
  const auto eq = text.find('=', colon);
  const std::string addr = text.substr(colon + 1, eq == std::string::npos ? std::string::npos : eq - colon - 1);
  char* end = nullptr;
  *address = static_cast<int>(std::strtol(addr.c_str(), &end, 10));
  if (*table < 0 || end == addr.c_str() || *end || *address < 0 || *address > 65535) return false;
  if (value != nullptr) {
    if (eq == std::string::npos) return false;
    *value = std::strtol(text.c_str() + eq + 1, &end, 0);
    if (*end) return false;
  }
  return true;
}

// The table and address range a request touches; false for function codes without one.
bool touches(const uint8_t* req, int header, int* table, int* first, int* count) {
  const int fc = req[header];
  const int addr = req[header + 1] << 8 | req[header + 2];
  const int n = req[header + 3] << 8 | req[header + 4];
  switch (fc) {
    case 1: case 15: *table = 0; *count = fc == 1 || fc == 15 ? n : 1; break;
    case 5: *table = 0; *count = 1; break;
    case 2: *table = 1; *count = n; break;
    case 3: case 16: *table = 2; *count = n; break;
    case 6: case 22: *table = 2; *count = 1; break;
    case 4: *table = 3; *count = n; break;
    default: return false;
  }
  *first = addr;
  return true;
}

// The answer `map` gives to `query`, made by libmodbus into a socket pair and taken back.
int answer_bytes(modbus_t* ctx, int client, const uint8_t* query, int length,
                 modbus_mapping_t* map, uint8_t* out) {
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) return -1;
  modbus_set_socket(ctx, pair[0]);
  modbus_reply(ctx, query, length, map);
  modbus_set_socket(ctx, client);
  const ssize_t n = recv(pair[1], out, MODBUS_TCP_MAX_ADU_LENGTH, MSG_DONTWAIT);
  close(pair[0]);
  close(pair[1]);
  return static_cast<int>(n);
}

// Spoils a proper answer (MBAP header of 7 bytes, then the PDU) in the way `kind` names.
int spoil(uint8_t* rsp, int n, unsigned kind, std::mt19937& random) {
  switch (kind % 5) {
    case 0: rsp[1] = static_cast<uint8_t>(rsp[1] + 1); return n;  // transaction ID
    case 1: rsp[7] = static_cast<uint8_t>(rsp[7] == 3 ? 4 : 3); return n;  // function code
    case 2:                                                         // byte count
      if (n > 8) rsp[8] = static_cast<uint8_t>(rsp[8] + 2);
      return n;
    case 3: return n / 2;  // half an answer
    default:
      for (int i = 0; i < n; ++i) rsp[i] = static_cast<uint8_t>(random());
      return n;
  }
}

}  // namespace

int main(int argc, char** argv) {
  int port = 0, delay_ms = 0;
  long garble_after = -1;
  std::string counts_file;
  std::set<std::pair<int, int>> refused;
  modbus_mapping_t* map = modbus_mapping_new(65536, 65536, 65536, 65536);
  if (map == nullptr) return 1;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool more = i + 1 < argc;
    int table = 0, address = 0;
    long value = 0;
    if (a == "--port" && more) {
      port = std::atoi(argv[++i]);
    } else if (a == "--delay-ms" && more) {
      delay_ms = std::atoi(argv[++i]);
    } else if (a == "--garble-after" && more) {
      garble_after = std::atol(argv[++i]);
    } else if (a == "--counts" && more) {
      counts_file = argv[++i];
    } else if (a == "--set" && more && parse_entry(argv[++i], &table, &address, &value)) {
      if (table == 0) map->tab_bits[address] = value ? 1 : 0;
      if (table == 1) map->tab_input_bits[address] = value ? 1 : 0;
      if (table == 2) map->tab_registers[address] = static_cast<uint16_t>(value);
      if (table == 3) map->tab_input_registers[address] = static_cast<uint16_t>(value);
    } else if (a == "--refuse" && more && parse_entry(argv[++i], &table, &address, nullptr)) {
      refused.insert({table, address});
    } else {
      std::fprintf(stderr, "vexlor-modbus-sim: bad argument \"%s\"\n", a.c_str());
      return 2;
    }
  }
  modbus_mapping_t* wrong = modbus_mapping_new(65536, 65536, 65536, 65536);
  if (wrong == nullptr) return 1;
  for (int i = 0; i < 65536; ++i) {
    wrong->tab_bits[i] = wrong->tab_input_bits[i] = 1;
    wrong->tab_registers[i] = wrong->tab_input_registers[i] = 0xBAD0;
  }
  std::mt19937 random(7);
  unsigned garbled = 0;
  modbus_t* ctx = modbus_new_tcp("127.0.0.1", port);
  const int server = modbus_tcp_listen(ctx, 16);
  if (server < 0) {
    std::fprintf(stderr, "vexlor-modbus-sim: cannot listen: %s\n", modbus_strerror(errno));
    return 1;
  }
  sockaddr_in bound{};
  socklen_t len = sizeof bound;
  getsockname(server, reinterpret_cast<sockaddr*>(&bound), &len);
  std::printf("port %d\n", ntohs(bound.sin_port));
  std::fflush(stdout);

  unsigned long requests = 0, reads = 0, writes = 0;
  fd_set all;
  FD_ZERO(&all);
  FD_SET(server, &all);
  int highest = server;
  uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
  const int header = modbus_get_header_length(ctx);
  for (;;) {
    fd_set ready = all;
    if (select(highest + 1, &ready, nullptr, nullptr, nullptr) < 0) {
      if (errno == EINTR) continue;
      return 1;
    }
    for (int fd = 0; fd <= highest; ++fd) {
      if (!FD_ISSET(fd, &ready)) continue;
      if (fd == server) {
        const int client = accept(server, nullptr, nullptr);
        if (client >= 0) {
          FD_SET(client, &all);
          highest = std::max(highest, client);
        }
        continue;
      }
      modbus_set_socket(ctx, fd);
      const int rc = modbus_receive(ctx, query);
      if (rc <= 0) {
        if (rc < 0) {
          close(fd);
          FD_CLR(fd, &all);
        }
        continue;
      }
      ++requests;
      const int fc = query[header];
      if (fc >= 1 && fc <= 4) ++reads;
      if (fc == 5 || fc == 6 || fc == 15 || fc == 16 || fc == 22) ++writes;
      if (delay_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
      int table = 0, first = 0, count = 0;
      bool refuse = false;
      if (touches(query, header, &table, &first, &count)) {
        for (const auto& r : refused) {
          refuse = refuse || (r.first == table && r.second >= first && r.second < first + count);
        }
      }
      if (garble_after >= 0 && static_cast<long>(requests) > garble_after) {
        uint8_t rsp[MODBUS_TCP_MAX_ADU_LENGTH];
        const int n = answer_bytes(ctx, fd, query, rc, wrong, rsp);
        if (n > 0) send(fd, rsp, static_cast<size_t>(spoil(rsp, n, garbled++, random)), MSG_NOSIGNAL);
      } else if (refuse) {
        modbus_reply_exception(ctx, query, MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS);
      } else {
        modbus_reply(ctx, query, rc, map);
      }
      if (!counts_file.empty()) {
        const std::string tmp = counts_file + ".tmp";
        if (FILE* f = std::fopen(tmp.c_str(), "w")) {
          std::fprintf(f, "%lu %lu %lu\n", requests, reads, writes);
          std::fclose(f);
          std::rename(tmp.c_str(), counts_file.c_str());
        }
      }
    }
  }
}
