// vexlor-modbus-sim: a small Modbus TCP device on libmodbus's server side, for the demo and
// the driver tests. It serves all four tables (65536 entries each) to any number of clients
// on 127.0.0.1.
//
//   vexlor-modbus-sim [--port N] [--set TABLE:ADDRESS=VALUE]... [--refuse TABLE:ADDRESS]...
//                     [--delay-ms N] [--counts FILE]
//
// TABLE is co, di, hr or ir; a --set VALUE is the raw bit or 16-bit register. A request that
// touches a refused entry is answered with the exception "illegal data address". --delay-ms
// delays every answer. --counts keeps FILE holding "requests READS WRITES" after each request.
// Port 0 (the default) takes a free port; the port is printed on the first line of stdout.
#include <arpa/inet.h>
#include <modbus/modbus.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

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

}  // namespace

int main(int argc, char** argv) {
  int port = 0, delay_ms = 0;
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
      if (refuse) {
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
