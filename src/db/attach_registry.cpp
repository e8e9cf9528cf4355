// Attachment records in the instance folder.
#include "db/attach_registry.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>

#include "os/instance.h"

namespace vexlor::detail {
namespace {

constexpr char kPrefix[] = "attached.";

std::string separator() {
#if defined(_WIN32)
  return "\\";
#else
  return "/";
#endif
}

}  // namespace

bool AttachRecord::open(const std::string& routine) {
  static std::atomic<unsigned> sequence{0};
  const std::string dir = os::instance_dir({}, true);
  if (dir.empty()) return false;
  const long pid = os::process_id();
  const std::string path = dir + separator() + kPrefix + std::to_string(pid) + "." +
                           std::to_string(sequence.fetch_add(1));
  return file_.create(path, std::to_string(pid) + "\n" + routine, nullptr);
}

std::vector<AttachedProcess> attached_processes(const std::string& instance_dir) {
  std::vector<AttachedProcess> out;
  for (const std::string& name : os::list_dir(instance_dir)) {
    if (name.compare(0, sizeof kPrefix - 1, kPrefix) != 0 || name.find(".new") != std::string::npos)
      continue;
    std::string content;
    if (os::probe_live_file(instance_dir + separator() + name, &content, true) !=
        os::Liveness::kAlive)
      continue;
    const std::size_t newline = content.find('\n');
    AttachedProcess p;
    p.pid = std::strtol(content.c_str(), nullptr, 10);
    p.routine = newline == std::string::npos ? std::string() : content.substr(newline + 1);
    out.push_back(std::move(p));
  }
  std::sort(out.begin(), out.end(), [](const AttachedProcess& a, const AttachedProcess& b) {
    return a.pid != b.pid ? a.pid < b.pid : a.routine < b.routine;
  });
  return out;
}

std::string describe(const std::vector<AttachedProcess>& processes) {
  std::string text;
  for (const AttachedProcess& p : processes) {
    if (!text.empty()) text += ", ";
    text += std::to_string(p.pid) + " (" + (p.routine.empty() ? "?" : p.routine) + ")";
  }
  return text;
}

}  // namespace vexlor::detail
