// vexlor-panel: the operator's main form as a web page. It starts as the main-form routine
// (function slot N, with its start lock, so a second main form is refused), receives the
// routines' MESSAGE, EVENT and RECORD commands, and serves the page and its JSON API over HTTP:
// the alarm list with a button per recovery choice, the message window, live module points,
// the routine table and the alarm history. Live data reaches the page as server-sent events.
//
// Safety: it listens on 127.0.0.1 unless told otherwise, and another address needs an access
// token; every API request then carries it. Writes need the equipment's user level (--write-level,
// --engineer-level) and are journaled with who asked. A refused request changes nothing.
//
// Exit status: 0 after SIGINT/SIGTERM or the main form's exit request, 1 when it cannot start
// (no database, another main form, the address is taken), 2 for bad usage.
#include <httplib.h>
#include <vexlor/main_form.h>
#include <vexlor/vexlor.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <fstream>
#include <iostream>

#include "panel.h"

namespace vexlor_panel {
namespace {

volatile std::sig_atomic_t g_stop = 0;
extern "C" void on_stop_signal(int) { g_stop = 1; }

int fail(const std::string& message, int status = 1) {
  std::cerr << "vexlor-panel: " << message << "\n";
  return status;
}

std::string sse(const char* event, const std::string& data) {
  return std::string("event: ") + event + "\ndata: " + data + "\n\n";
}

// What the page shows live, shared between the poller, the main form's serving threads and
// the event streams of the connected pages.
class Hub {
 public:
  static constexpr std::size_t kMessages = 500;
  static constexpr int kStreams = 32;
  bool echo = false;  // also print each command on stdout, one line each

  // A routine's command to the main form; false for commands the main form does not take.
  bool add_command(const vexlor::MainFormCommand& c) {
    if (c.command == "EXIT") {
      std::lock_guard<std::mutex> lock(mutex_);
      exit_requested_ = true;
      changed_.notify_all();
      return true;
    }
    if (c.command != "MESSAGE" && c.command != "EVENT" && c.command != "RECORD" &&
        c.command != "SHOW" && c.command != "HIDE") {
      return false;
    }
    Json j;
    std::lock_guard<std::mutex> lock(mutex_);
    j.begin_object()
        .field("seq", static_cast<int64_t>(++sequence_))
        .field("time", vexlor_tools::local_time_text(true));
    j.field("command", c.command).field("sender", c.sender).field("text", c.text);
    std::vector<std::string> fields;
    if (c.command == "RECORD" && vexlor_tools::record_fields(c.text, &fields)) {
      j.key("fields").begin_array();
      for (const std::string& f : fields) j.value(f);
      j.end_array();
    }
    j.end_object();
    if (echo) {
      const std::string time = vexlor_tools::local_time_text(true);
      std::printf("%s  %-7s  [%s]  %s\n", time.c_str(), c.command.c_str(), c.sender.c_str(),
                  c.text.c_str());
      std::fflush(stdout);
    }
    messages_.push_back({sequence_, j.text()});
    if (messages_.size() > kMessages) messages_.pop_front();
    changed_.notify_all();
    return true;
  }

  std::string messages_json() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string out = "[";
    for (const auto& m : messages_) out += (out.size() > 1 ? "," : "") + m.second;
    return out + "]";
  }

  void publish(std::string state, std::map<std::string, std::string> points) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state != state_ || points != points_) {
      state_ = std::move(state);
      points_ = std::move(points);
      changed_.notify_all();
    }
  }

  // The modules some page is watching, and how many pages are connected.
  std::vector<std::string> watched(int* streams) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> modules;
    for (const auto& w : watchers_) {
      if (w.second > 0 && !w.first.empty()) modules.push_back(w.first);
    }
    *streams = streams_;
    return modules;
  }

  struct Stream {
    std::string module;
    std::string state, points;
    uint64_t seen = 0;
  };

  bool open_stream(const std::string& module) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_ || streams_ >= kStreams) return false;
    ++streams_;
    ++watchers_[module];
    return true;
  }
  void close_stream(const std::string& module) {
    std::lock_guard<std::mutex> lock(mutex_);
    --streams_;
    --watchers_[module];
  }

  // Waits up to `wait` for news for this stream and appends them to `out` as events; false
  // when the panel is stopping.
  bool next(Stream* s, std::string* out, std::chrono::milliseconds wait) {
    std::unique_lock<std::mutex> lock(mutex_);
    auto news = [&] {
      if (stopping_ || state_ != s->state || sequence_ > s->seen) return true;
      auto p = points_.find(s->module);
      return p != points_.end() && p->second != s->points;
    };
    changed_.wait_for(lock, wait, news);
    if (stopping_) return false;
    if (state_ != s->state) {
      s->state = state_;
      *out += sse("state", state_);
    }
    auto p = points_.find(s->module);
    if (p != points_.end() && p->second != s->points) {
      s->points = p->second;
      *out += sse("points", "{\"module\":" + Json().value(s->module).text() +
                                ",\"points\":" + p->second + "}");
    }
    for (const auto& m : messages_) {
      if (m.first > s->seen) *out += sse("message", m.second);
    }
    s->seen = sequence_;
    return true;
  }

  void stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    changed_.notify_all();
  }
  bool exit_requested() {
    std::lock_guard<std::mutex> lock(mutex_);
    return exit_requested_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::pair<uint64_t, std::string>> messages_;
  uint64_t sequence_ = 0;
  std::string state_;
  std::map<std::string, std::string> points_;
  std::map<std::string, int> watchers_;
  int streams_ = 0;
  bool stopping_ = false;
  bool exit_requested_ = false;
};

bool is_loopback(const std::string& address) {
  return address == "localhost" || address == "::1" || address.rfind("127.", 0) == 0;
}

bool same_text(const std::string& a, const std::string& b) {
  // Compared in full whatever the first difference, so timing tells nothing about the token.
  unsigned char diff = a.size() == b.size() ? 0 : 1;
  for (std::size_t i = 0; i < a.size(); ++i) {
    diff |= static_cast<unsigned char>(a[i] ^ (i < b.size() ? b[i] : 0));
  }
  return diff == 0;
}

void send(httplib::Response& res, const Reply& reply) {
  res.status = reply.status;
  res.set_content(reply.body, "application/json; charset=utf-8");
}

struct Settings {
  std::string address = "127.0.0.1";
  int port = 8470;
  std::string token;
  Policy policy;
  bool echo = false;
};

class Panel {
 public:
  Panel(const Settings& s, Equipment* equipment, Hub* hub)
      : settings_(s), equipment_(equipment), hub_(hub) {}

  bool bind(std::string* error) {
    server_.new_task_queue = [] { return new httplib::ThreadPool(Hub::kStreams + 16); };
    server_.set_payload_max_length(64 * 1024);
    server_.set_default_headers({{"Cache-Control", "no-store"},
                                 {"X-Content-Type-Options", "nosniff"},
                                 {"X-Frame-Options", "DENY"}});
    routes();
    port_ = settings_.port == 0
                ? server_.bind_to_any_port(settings_.address)
                : (server_.bind_to_port(settings_.address, settings_.port) ? settings_.port : -1);
    if (port_ <= 0) {
      *error = "cannot listen on " + settings_.address + " port " + std::to_string(settings_.port) +
               " (taken, or not an address of this machine)";
      return false;
    }
    return true;
  }
  int port() const { return port_; }
  void serve() { server_.listen_after_bind(); }
  void stop() { server_.stop(); }

 private:
  // Every API request: the Host a page on this machine uses (no DNS rebinding), the token when
  // one is set, and for writes a JSON body from this page's own origin.
  bool admitted(const httplib::Request& req, httplib::Response& res) {
    const std::string host = req.get_header_value("Host");
    if (is_loopback(settings_.address)) {
      const std::string p = ":" + std::to_string(port_);
      if (host != "127.0.0.1" + p && host != "localhost" + p && host != "[::1]" + p) {
        send(res, error_reply(403, "unexpected Host " + in_quotes(host)));
        return false;
      }
    }
    if (!settings_.token.empty()) {
      std::string given = req.get_param_value("token");
      const std::string auth = req.get_header_value("Authorization");
      if (auth.rfind("Bearer ", 0) == 0) given = auth.substr(7);
      if (!same_text(given, settings_.token)) {
        send(res, error_reply(401, given.empty() ? "access token required" : "wrong access token"));
        return false;
      }
    }
    if (req.method == "POST") {
      const std::string origin = req.get_header_value("Origin");
      if (!origin.empty() && origin != "http://" + host) {
        send(res, error_reply(403, "request from another site (" + origin + ")"));
        return false;
      }
      if (req.get_header_value("Content-Type").rfind("application/json", 0) != 0) {
        send(res, error_reply(415, "the body must be JSON (Content-Type: application/json)"));
        return false;
      }
    }
    return true;
  }

  // The request body as a flat JSON object, or a 400 answer.
  bool body(const httplib::Request& req, httplib::Response& res,
            std::map<std::string, std::string>* fields) {
    if (!parse_flat_object(req.body, fields)) {
      send(res, error_reply(400, "the body must be a JSON object of texts"));
      return false;
    }
    return true;
  }

  std::string state_json() {
    return "{\"equipment\":" + equipment_->status_json() +
           ",\"alarms\":" + equipment_->alarms_json() +
           ",\"functions\":" + equipment_->functions_json() +
           ",\"modules\":" + equipment_->modules_json() +
           ",\"overview\":" + equipment_->overview_json() + "}";
  }

  void routes() {
    for (std::size_t i = 0; i < kAssetCount; ++i) {
      const Asset& a = kAssets[i];
      server_.Get(a.path, [&a](const httplib::Request&, httplib::Response& res) {
        res.set_header("Content-Security-Policy",
                       "default-src 'self'; img-src 'self' data:; frame-ancestors 'none'");
        res.set_content(reinterpret_cast<const char*>(a.data), a.size, a.type);
      });
    }
    server_.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
      if (req.path.rfind("/api/", 0) != 0) return httplib::Server::HandlerResponse::Unhandled;
      return admitted(req, res) ? httplib::Server::HandlerResponse::Unhandled
                                : httplib::Server::HandlerResponse::Handled;
    });
    server_.Get("/api/state", [this](const httplib::Request&, httplib::Response& res) {
      send(res, Reply{200, state_json()});
    });
    server_.Get("/api/messages", [this](const httplib::Request&, httplib::Response& res) {
      send(res, Reply{200, hub_->messages_json()});
    });
    server_.Get("/api/points", [this](const httplib::Request& req, httplib::Response& res) {
      const std::string module = req.get_param_value("module");
      const std::string points = equipment_->points_json(module);
      send(res, points.empty() ? error_reply(404, "no module " + in_quotes(module))
                               : Reply{200, points});
    });
    server_.Get("/api/history", [this](const httplib::Request& req, httplib::Response& res) {
      send(res, equipment_->history(req.get_param_value("since"), req.get_param_value("until")));
    });
    server_.Get("/api/events", [this](const httplib::Request& req, httplib::Response& res) {
      const std::string module = req.get_param_value("module");
      if (module.size() > 63 || !hub_->open_stream(module)) {
        send(res, error_reply(503, "too many live pages"));
        return;
      }
      auto stream = std::make_shared<Hub::Stream>();
      stream->module = module;
      res.set_chunked_content_provider(
          "text/event-stream",
          [this, stream](std::size_t, httplib::DataSink& sink) {
            std::string out;
            if (!hub_->next(stream.get(), &out, std::chrono::seconds(10))) {
              sink.done();
              return true;
            }
            if (out.empty()) out = ": still here\n\n";  // finds pages that went away
            return sink.write(out.data(), out.size());
          },
          [this, module](bool) { hub_->close_stream(module); });
    });
    server_.Post(R"(/api/alarms/([^/]+)/answer)",
                 [this](const httplib::Request& req, httplib::Response& res) {
                   std::map<std::string, std::string> f;
                   if (!body(req, res, &f)) return;
                   send(res, equipment_->answer(req.matches[1], f["choice"], req.remote_addr));
                 });
    server_.Post(R"(/api/points/([^/]+))",
                 [this](const httplib::Request& req, httplib::Response& res) {
                   std::map<std::string, std::string> f;
                   if (!body(req, res, &f)) return;
                   if (f.count("value") == 0) {
                     send(res, error_reply(400, "the body needs a \"value\""));
                     return;
                   }
                   send(res, equipment_->write_point(req.matches[1], f["value"], req.remote_addr));
                 });
    server_.Post(R"(/api/functions/([^/]+)/(run|abort|reset))",
                 [this](const httplib::Request& req, httplib::Response& res) {
                   std::map<std::string, std::string> f;
                   if (!body(req, res, &f)) return;
                   send(res, equipment_->function_action(req.matches[1], req.matches[2], f["param"],
                                                         req.remote_addr));
                 });
    auto unknown = [](const httplib::Request& req, httplib::Response& res) {
      send(res, error_reply(404, "no such request: " + req.method + " " + req.path));
    };
    server_.Get(".*", unknown);
    server_.Post(".*", unknown);
  }

  const Settings& settings_;
  Equipment* equipment_;
  Hub* hub_;
  httplib::Server server_;
  int port_ = -1;
};

bool read_token_file(const std::string& path, std::string* token) {
  std::ifstream in(path);
  if (!in) return false;
  std::getline(in, *token);
  while (!token->empty() && (token->back() == '\r' || token->back() == ' ')) token->pop_back();
  return true;
}

int run(const Settings& s) {
  std::string name, failure;
  if (!vexlor_tools::attach_main_form("VEXLOR_PANEL", &name, &failure)) return fail(failure);
  Hub hub;
  hub.echo = s.echo;
  vexlor::MainFormServer main_form;
  std::string error;
  bool busy = false;
  if (!main_form.start([&hub](const vexlor::MainFormCommand& c) { return hub.add_command(c); },
                       &error, &busy)) {
    Vexlor::VHub_Release();
    if (busy) {
      return fail("the GUI endpoint of instance " + in_quotes(instance_name()) +
                  " is served by another process (a vexlor-manager without --no-gui?)");
    }
    return fail("cannot serve the GUI endpoint: " + error);
  }
  Equipment equipment(s.policy);
  Panel panel(s, &equipment, &hub);
  if (!panel.bind(&error)) {
    main_form.stop();
    Vexlor::VHub_Release();
    return fail(error);
  }
  // Running from here on: the routines' GUI calls now send to this panel.
  Vexlor::VFunction_Set_Exit_Flag(false);
  Vexlor::VFunction_Set_Run_Status(Vexlor::SYS_RUNNING);
  g_stop = 0;
  std::signal(SIGINT, on_stop_signal);
  std::signal(SIGTERM, on_stop_signal);
  std::signal(SIGPIPE, SIG_IGN);
  std::thread http([&panel] { panel.serve(); });
  const std::string host =
      s.address.find(':') != std::string::npos ? "[" + s.address + "]" : s.address;
  std::cout << "vexlor-panel: main form " << in_quotes(name) << " of instance "
            << in_quotes(instance_name()) << " at http://" << host << ":" << panel.port() << "/"
            << std::endl;

  // Poll the equipment for the pages; ask the manager about the routines' processes now and
  // then (each request is a line in its record).
  auto last_probe = std::chrono::steady_clock::now() - std::chrono::hours(1);
  while (!g_stop && !hub.exit_requested() && !Vexlor::VFunction_Get_Exit_Flag()) {
    int streams = 0;
    const std::vector<std::string> modules = hub.watched(&streams);
    // Every 2 s while a page watches or the manager is away, else every 10 s.
    const auto now = std::chrono::steady_clock::now();
    const bool often = streams > 0 || !equipment.online();
    if (now - last_probe >= std::chrono::seconds(often ? 2 : 10)) {
      equipment.probe_manager();
      last_probe = now;
    }
    if (streams > 0) {
      std::map<std::string, std::string> points;
      for (const std::string& m : modules) points[m] = equipment.points_json(m);
      hub.publish("{\"equipment\":" + equipment.status_json() + ",\"alarms\":" +
                      equipment.alarms_json() + ",\"functions\":" + equipment.functions_json() +
                      ",\"overview\":" + equipment.overview_json() + "}",
                  std::move(points));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
  }
  // Not running any more, so routines stop sending; waits of run requests end on the exit flag.
  Vexlor::VFunction_Set_Exit_Flag(true);
  Vexlor::VFunction_Set_Run_Status(Vexlor::SYS_KILLED);
  hub.stop();
  panel.stop();
  http.join();
  equipment.stop();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  main_form.stop();
  Vexlor::VHub_Release();
  return 0;
}

}  // namespace
}  // namespace vexlor_panel

int main(int argc, char** argv) {
  using namespace vexlor_panel;
  CLI::App app{"The operator's main form of a Vexlor equipment instance as a web page.",
               "vexlor-panel"};
  Settings s;
  std::string instance, token_file;
  app.add_option("--instance", instance,
                 "instance to serve (default: $VEXLOR_INSTANCE, else \"default\")");
  app.add_option("--listen", s.address, "address to listen on (default 127.0.0.1)");
  app.add_option("--port", s.port, "TCP port (default 8470; 0 picks a free one)")
      ->check(CLI::Range(0, 65535));
  app.add_option("--token-file", token_file,
                 "file whose first line is the access token (else $VEXLOR_PANEL_TOKEN)");
  app.add_option("--write-level", s.policy.write_level,
                 "user level needed to write points and answer alarms (default 2)")
      ->check(CLI::Range(0, 10));
  app.add_option("--engineer-level", s.policy.engineer_level,
                 "user level needed to run, abort and reset routines (default 5)")
      ->check(CLI::Range(0, 10));
  app.add_flag("--echo", s.echo, "also print each command the main form gets on stdout");
  CLI11_PARSE(app, argc, argv);

  if (!instance.empty()) setenv("VEXLOR_INSTANCE", instance.c_str(), 1);
  if (!token_file.empty()) {
    if (!read_token_file(token_file, &s.token)) return fail("cannot read " + token_file, 2);
  } else if (const char* t = std::getenv("VEXLOR_PANEL_TOKEN"); t != nullptr) {
    s.token = t;
  }
  if (!s.token.empty() && s.token.size() < 16) {
    return fail("the access token must have at least 16 characters", 2);
  }
  if (!is_loopback(s.address) && s.token.empty()) {
    return fail("listening on " + s.address +
                    " needs an access token (--token-file or $VEXLOR_PANEL_TOKEN)",
                2);
  }
  return run(s);
}
