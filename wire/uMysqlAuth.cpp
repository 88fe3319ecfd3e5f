#include "wire/uMysqlAuth.h"

#include <cstring>

#include "wire/uMysqlNewPassword.h"

namespace rowset {

namespace {

// mysql_native_password: the 20-byte SHA1 answer (empty for an empty
// password).
class TNativePassword : public TAuthPlugin {
 public:
  explicit TNativePassword(const TAuthParams& params) : password_(params.password) {}
  bool Answer(std::string_view challenge, std::string& answer, std::string& error) override {
    if (challenge.size() < SCRAMBLE_LENGTH) {
      error = "mysql_native_password: the server's challenge is too short";
      return false;
    }
    answer = mysql_scramble_native(password_, challenge.substr(0, SCRAMBLE_LENGTH));
    return true;
  }

 private:
  std::string password_;
};

// mysql_old_password: the pre-4.1 answer to the first 8 bytes of the
// challenge, zero-terminated.
class TOldPassword : public TAuthPlugin {
 public:
  explicit TOldPassword(const TAuthParams& params) : password_(params.password) {}
  bool Answer(std::string_view challenge, std::string& answer, std::string& error) override {
    if (challenge.size() < SCRAMBLE_LENGTH_323) {
      error = "mysql_old_password: the server's challenge is too short";
      return false;
    }
    std::string message(challenge.substr(0, SCRAMBLE_LENGTH_323));
    message.resize(strnlen(message.c_str(), message.size()));
    std::unique_ptr<char[]> s = mysql_scramble(password_.c_str(), message.c_str());
    answer = s ? std::string(s.get()) : std::string();
    answer += '\0';
    return true;
  }

 private:
  std::string password_;
};

}  // namespace

bool TAuthPlugin::MoreData(std::string_view, std::string&, bool& send, std::string& error) {
  send = false;
  error = "the authentication plugin takes no further data";
  return false;
}

std::unique_ptr<TAuthPlugin> CreateAuthPlugin(const std::string& name,
                                              const TAuthParams& params) {
  if (name == "mysql_native_password") return std::make_unique<TNativePassword>(params);
  if (name == "mysql_old_password") return std::make_unique<TOldPassword>(params);
  return nullptr;
}

std::string UnknownAuthPluginText(const std::string& name) {
  return "Authentication plugin '" + name.substr(0, 64) +
         "' cannot be loaded: not supported by this client";
}

}  // namespace rowset
