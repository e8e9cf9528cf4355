// `vexlor host`: the host event journal, the link, its message trace and the mapping table
// (host.cpp).
#pragma once

#include <CLI/CLI.hpp>
#include <string>

#include "console.h"

namespace vexlor_console {

struct HostQuery {
  std::string token, since, until;
  int last = 0;  // only the last N rows (0: all)
  bool follow = false;
};

struct HostCommand {
  CLI::App* host = nullptr;
  CLI::App* link = nullptr;
  CLI::App* ids = nullptr;
  CLI::App* trace = nullptr;
  HostQuery query;
};

// Registers `host` (and `host link`) on the console's command line.
void add_host_command(CLI::App& app, HostCommand* command);
// Runs it once parsed.
int run_host_command(const Options& o, const HostCommand& command);

int run_host_events(const Options& o, const HostQuery& q);
int run_host_link(const Options& o);
int run_host_ids(const Options& o);
int run_host_trace(const Options& o);

}  // namespace vexlor_console
