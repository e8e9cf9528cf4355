// The GEM equipment's link on an HSMS session.
#pragma once

#include "gem/link.h"
#include "secs/session.h"

namespace vexlor::gem {

// The link on an HSMS session.
class SessionLink : public Link {
 public:
  explicit SessionLink(secs::Session& session) : session_(session) {}
  bool send(int stream, int function, bool wbit, const secs::Item& body, Done done) override {
    return session_.send(stream, function, wbit, body, std::move(done));
  }
  bool reply(const secs::Message& primary, const secs::Item& body) override {
    return session_.reply(primary, body);
  }
  bool abort(const secs::Message& primary) override { return session_.abort(primary); }
  bool send_s9(int function, const secs::Header& about) override {
    return session_.send_s9(function, about);
  }

 private:
  secs::Session& session_;
};

}  // namespace vexlor::gem
