// The state of an instance as the operator's tools show it: database image header, manager
// endpoint and attachment records, read without attaching.
#include <sys/stat.h>
#include <vexlor/instance_state.h>

#include "db/attach_registry.h"
#include "db/db_image.h"
#include "os/instance.h"
#include "os/local_endpoint.h"
#include "os/shared_section.h"
#include "util/text.h"

namespace vexlor {
namespace {

// Modification time of a file in seconds since 1970; 0 when it is not there.
long long modified(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_mtime) : 0;
}

}  // namespace

InstanceState inspect_database() {
  InstanceState s;
  s.instance = os::instance_name();
  s.folder = os::instance_dir();
  os::SharedSection section;
  std::string why;
  if (os::section_open(detail::kDatabaseSection, &section, &why)) {
    if (detail::image_valid(section.address, section.size, &why)) {
      const auto* header = static_cast<const detail::DbHeader*>(section.address);
      s.database = "valid";
      s.source = std::string(detail::field_text(header->source));
      s.created = std::string(detail::field_text(header->created));
      s.size = header->total_size;
    } else {
      s.database = "invalid";
      s.database_problem = why;
    }
    os::section_unmap(&section);
  }
  return s;
}

InstanceState inspect_instance() {
  InstanceState s = inspect_database();
  std::string why;
  os::LocalStream probe;
  s.manager_serving = probe.connect(os::kManagerEndpoint, &why);
  probe.close();
  const long long endpoint_time = modified(os::endpoint_path(os::kManagerEndpoint));
  if (s.manager_serving) {
    s.manager_since = endpoint_time;
  } else {
    s.manager_endpoint_left = endpoint_time != 0;
  }
  if (!s.folder.empty()) s.manager_log_time = modified(s.folder + "/manager.log");

  if (!s.folder.empty()) {
    // A process that attached more than once under one name (the manager maps the database
    // for its sequencer and for its engine answers) is one process.
    for (const detail::AttachedProcess& p : detail::attached_processes(s.folder)) {
      if (!s.attached.empty() && s.attached.back().pid == p.pid &&
          s.attached.back().routine == p.routine) {
        continue;
      }
      s.attached.push_back({p.pid, p.routine});
    }
  }
  return s;
}

}  // namespace vexlor
