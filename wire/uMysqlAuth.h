// Authentication plugins of the 4.1 login: how the client answers the
// server's challenge for the plugin the server names (in its greeting or in
// a request to switch plugins), and what it sends when the server asks the
// plugin for more (a packet starting with 0x01).
//
// The login loop in the session reads the server's packets and hands each
// plugin step to the object CreateAuthPlugin made; adding a plugin means one
// more class and one more name in CreateAuthPlugin. A name no plugin here
// knows ends the login with CR_AUTH_PLUGIN_CANNOT_LOAD and a text naming it.
#ifndef ROWSET_WIRE_UMYSQLAUTH_H_
#define ROWSET_WIRE_UMYSQLAUTH_H_

#include <memory>
#include <string>
#include <string_view>

namespace rowset {

// What a plugin may know of the session it answers for.
struct TAuthParams {
  std::string user;
  std::string password;
  // The transport is encrypted or local (TLS, Unix socket), so a plugin may
  // send the password itself.
  bool secure_transport = false;
};

class TAuthPlugin {
 public:
  virtual ~TAuthPlugin() = default;
  // The answer to the server's challenge (the bytes after the plugin name,
  // a trailing zero byte removed). False when the challenge cannot be
  // answered (too short); `error` then says why.
  virtual bool Answer(std::string_view challenge, std::string& answer,
                      std::string& error) = 0;
  // The server's "more data" packet (without its 0x01 byte). `send` tells
  // whether `answer` goes to the server; false with `error` when the plugin
  // cannot go on. The plugins here take no more data.
  virtual bool MoreData(std::string_view data, std::string& answer, bool& send,
                        std::string& error);
};

// The plugin named `name`; nullptr when none here knows it.
std::unique_ptr<TAuthPlugin> CreateAuthPlugin(const std::string& name,
                                              const TAuthParams& params);

// The text of the error for a plugin nobody knows.
std::string UnknownAuthPluginText(const std::string& name);

}  // namespace rowset

#endif  // ROWSET_WIRE_UMYSQLAUTH_H_
