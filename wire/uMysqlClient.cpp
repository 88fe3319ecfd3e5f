#include "wire/uMysqlClient.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "wire/uMysqlAuth.h"
#include "wire/uMysqlErrors.h"
#include "wire/uMysqlHelpers.h"
#include "wire/uMysqlNewPassword.h"

namespace rowset {

namespace {

constexpr size_t kMaxUser = 32;
constexpr size_t kMaxDatabase = 64;
constexpr size_t kFileBlock = 0xF000;
constexpr uint32_t kAlwaysFlags = 0x2085;  // LONGPASSWORD LONGFLAG LOCALFILES TRANSACTIONS
// Never asked for by the old login: the 4.1 packet formats (512) and SSL,
// nor anything beyond the 16 bits it has room for.
constexpr uint32_t kNeverFlags = CLIENT_CHANGE_USER | CLIENT_SSL | 0xFFFF0000u;
// Asked for by the 4.1 login where the server has them.
constexpr uint32_t kFlags41 = CLIENT_PROTOCOL_41 | CLIENT_SECURE_CONNECTION |
                              CLIENT_PLUGIN_AUTH | CLIENT_LONG_FLAG |
                              CLIENT_TRANSACTIONS | CLIENT_MULTI_RESULTS |
                              CLIENT_PS_MULTI_RESULTS;
// Of the upper bits only these are ever sent (multiple statements only when
// the caller asks).
constexpr uint32_t kUpperFlags41 = CLIENT_MULTI_STATEMENTS | CLIENT_MULTI_RESULTS |
                                   CLIENT_PS_MULTI_RESULTS | CLIENT_PLUGIN_AUTH;
// The largest packet this client takes, as the 4.1 login announces it.
constexpr uint32_t kMaxPacket41 = 0x40000000;
constexpr uint8_t kMoreData = 1;
constexpr uint8_t kSwitchRequest = 254;
// A command holds at most this many bytes (command byte included), sent as
// packets of 0xFFFFFF bytes and a shorter last one.
constexpr size_t kMaxCommandPayload = kMaxLogicalPacket;

uint16_t Load2(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Load4(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) |
         (uint32_t{p[3]} << 24);
}
void Append4(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// The pre-4.1 answer of `password` to `challenge` (up to 8 characters, up to
// its first zero byte); empty for an empty password.
std::string OldScramble(const std::string& password, std::string_view challenge) {
  std::string message(challenge.substr(0, SCRAMBLE_LENGTH_323));
  message = message.substr(0, strnlen(message.c_str(), message.size()));
  std::unique_ptr<char[]> s = mysql_scramble(password.c_str(), message.c_str());
  return s ? std::string(s.get()) : std::string();
}

using Guard = std::unique_lock<std::recursive_mutex>;
Guard Lock(const std::unique_ptr<std::recursive_mutex>& m) {
  return m ? Guard(*m) : Guard();
}

}  // namespace

namespace {

// The quoted string at `i` of `statement` (after blanks), unescaped as the
// server reads it; false when there is none.
bool QuotedText(std::string_view statement, size_t i, bool no_backslash_escapes,
                std::string& text) {
  while (i < statement.size() && std::isspace(static_cast<unsigned char>(statement[i]))) ++i;
  if (i >= statement.size() || (statement[i] != '\'' && statement[i] != '"')) return false;
  const char quote = statement[i++];
  text.clear();
  while (i < statement.size()) {
    char c = statement[i++];
    if (c == quote) {
      if (i < statement.size() && statement[i] == quote) {
        text += quote;
        ++i;
        continue;
      }
      return true;
    }
    if (c == '\\' && !no_backslash_escapes && i < statement.size()) {
      char e = statement[i++];
      switch (e) {
        case '0': text += '\0'; break;
        case 'n': text += '\n'; break;
        case 'r': text += '\r'; break;
        case 't': text += '\t'; break;
        case 'b': text += '\b'; break;
        case 'Z': text += '\x1a'; break;
        default: text += e;
      }
      continue;
    }
    text += c;
  }
  return false;
}

}  // namespace

bool LoadDataLocalFile(std::string_view statement, bool no_backslash_escapes,
                       std::string& file) {
  file.clear();
  if (!IsLoadDataLocal(statement)) return false;
  // The file name is the quoted string after the word INFILE.
  size_t i = 0;
  while (i < statement.size()) {
    while (i < statement.size() && !std::isalpha(static_cast<unsigned char>(statement[i]))) ++i;
    size_t start = i;
    while (i < statement.size() && std::isalpha(static_cast<unsigned char>(statement[i]))) ++i;
    std::string word(statement.substr(start, i - start));
    for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (word == "infile") return QuotedText(statement, i, no_backslash_escapes, file);
  }
  return false;
}

bool IsLoadDataLocal(std::string_view statement) {
  // Words of the statement, lower-cased, up to the one after LOCAL.
  std::vector<std::string> words;
  size_t i = 0;
  while (words.size() < 4 && i < statement.size()) {
    while (i < statement.size() && std::isspace(static_cast<unsigned char>(statement[i]))) ++i;
    std::string w;
    while (i < statement.size() && std::isalpha(static_cast<unsigned char>(statement[i])) ) {
      w += static_cast<char>(std::tolower(static_cast<unsigned char>(statement[i])));
      ++i;
    }
    if (w.empty()) break;
    if (w == "low" || w == "priority") {  // LOW_PRIORITY
      if (i < statement.size() && statement[i] == '_') ++i;
      if (w == "low") continue;
      w = "low_priority";
    }
    words.push_back(w);
  }
  if (words.size() < 3 || words[0] != "load" || words[1] != "data") return false;
  if (words[2] == "local") return true;
  return (words[2] == "low_priority" || words[2] == "concurrent") &&
         words.size() >= 4 && words[3] == "local";
}

TMysqlClient::TMysqlClient()
    : connect_timeout(NET_READ_TIMEOUT),
      // Whether other threads will use the session cannot be known here, so
      // every session has its lock.
      lock(std::make_unique<std::recursive_mutex>()) {}

TMysqlClient::~TMysqlClient() {
  close();
}

void TMysqlClient::reset_session_state() {
  scramble_buff.clear();
  challenge_.clear();
  auth_plugin.clear();
  warning_count = 0;
  login_charset_nr_ = 0;
  thread_id = 0;
  affected_rows = 0;
  insert_id = 0;
  status = MYSQL_STATUS_READY;
  server_version.clear();
  server_capabilities = 0;
  server_status = SERVER_STATUS_AUTOCOMMIT;
  server_language = 0;
  extra_info = 0;
  info.clear();
}

bool TMysqlClient::connect() {
  return connect(host, user, passwd, db, port, unix_socket, try_sock, client_flag);
}

bool TMysqlClient::connect(std::string host_, std::string user_,
                           std::string password, std::string database,
                           uint32_t port_, std::string pipe_name,
                           bool try_socket, uint32_t client_flags) {
  Guard guard = Lock(lock);
  if (GetConnected()) return true;
  if (host_.empty() && host.empty()) return false;
  if (!host_.empty()) host = host_;
  user = user_;
  passwd = password;
  db = database;
  port = port_;
  unix_socket = pipe_name;
  client_flag = client_flags;
  try_sock = try_socket;

  if (named_pipe) {
    net.net_open(VIO_TYPE_NAMEDPIPE, host, unix_socket, port, connect_timeout, try_sock);
    if (net.VioType() == VIO_TYPE_NAMEDPIPE) {
      host = ".";
      unix_socket = "MySQL";
    } else if (net.VioType() == VIO_TYPE_TCPIP) {
      named_pipe = false;
      unix_socket.clear();
    }
  } else {
    net.net_open(VIO_TYPE_TCPIP, host, unix_socket, port, connect_timeout, true);
    unix_socket.clear();
  }
  if (!GetConnected()) return false;

  // The greeting. Every field is checked against the payload's length.
  uint32_t length = net.net_safe_read();
  if (length == packet_error) {
    net.net_close();
    return false;
  }
  const uint8_t* p = net.read_ptr();
  net.protocol_version = p[0];
  if (p[0] != 10 && p[0] != 9) {
    set_error(CR_VERSION_ERROR,
              FormatClientError(CR_VERSION_ERROR, int{p[0]}, int{PROTOCOL_VERSION}));
    net.net_close();
    return false;
  }
  auto handshake_error = [this] {
    set_error(CR_SERVER_HANDSHAKE_ERR, ClientErrorText(CR_SERVER_HANDSHAKE_ERR));
    net.net_close();
    return false;
  };
  const uint8_t* end_of_version =
      static_cast<const uint8_t*>(std::memchr(p + 1, 0, length - 1));
  if (end_of_version == nullptr) return handshake_error();
  const size_t n = static_cast<size_t>(end_of_version - p);
  if (length < n + 13) return handshake_error();
  server_version.assign(reinterpret_cast<const char*>(p + 1), n - 1);
  thread_id = Load4(p + n + 1);
  const char* challenge = reinterpret_cast<const char*>(p + n + 5);
  scramble_buff.assign(challenge, strnlen(challenge, SCRAMBLE_LENGTH_323));
  challenge_ = scramble_buff;
  server_capabilities = 0;
  if (length >= n + 16) server_capabilities = Load2(p + n + 14);
  if (length >= n + 32) {
    server_language = p[n + 16];
    server_status = Load2(p + n + 17);
    server_capabilities |= uint32_t{Load2(p + n + 19)} << 16;
  }
  // Newer servers carry the rest of a 20-byte challenge after 13 more bytes.
  const bool secure = HasSECURECONNECTION(server_capabilities) &&
                      scramble_buff.size() == SCRAMBLE_LENGTH_323 &&
                      length >= n + 32 + (SCRAMBLE_LENGTH - SCRAMBLE_LENGTH_323);
  if (secure)
    challenge_.append(reinterpret_cast<const char*>(p + n + 32),
                      SCRAMBLE_LENGTH - SCRAMBLE_LENGTH_323);
  const bool use41 = secure && HasPROTOCOL41(server_capabilities) &&
                     (client_flag & CLIENT_PROTOCOL_323) == 0 && !old_protocol;
  auth_plugin = "mysql_native_password";
  if (use41 && HasPLUGINAUTH(server_capabilities)) {
    // The second part of the challenge takes max(13, announced - 8) bytes
    // (its last one a zero); the plugin's name follows, zero-terminated
    // (some servers leave the zero out at the end of the packet).
    const size_t part2 = std::max<size_t>(13, p[n + 21] > 8 ? p[n + 21] - 8 : 0);
    const size_t at = n + 32 + part2;
    if (at < length) {
      const char* name = reinterpret_cast<const char*>(p + at);
      std::string named(name, strnlen(name, length - at));
      if (!named.empty()) auth_plugin = named;
    }
  }

  uint32_t flags;
  if (use41) {
    flags = (client_flag | kAlwaysFlags | kFlags41) & ~(CLIENT_SSL | CLIENT_PROTOCOL_323);
    flags &= server_capabilities | 0xFFFF;
    flags &= kUpperFlags41 | 0xFFFF;
  } else {
    flags = (client_flag | kAlwaysFlags) & ~kNeverFlags;
  }
  if (!db.empty()) flags |= CLIENT_CONNECT_WITH_DB;
  flags = SetCOMPRESS(flags, HasCOMPRESS(server_capabilities) &&
                                 (fcompress || HasCOMPRESS(client_flag)));
  flags = SetSECURECONNECTION(flags, secure);
  sent_flags_ = flags;

  // TLS: asked for with the 4.1 login's head and CLIENT_SSL, then the login
  // goes on inside the encrypted stream. Nothing of the password leaves
  // before the mode's demands are met.
  const bool tls_offered = use41 && (server_capabilities & CLIENT_SSL) != 0;
  if (ssl.mode >= SSL_MODE_REQUIRED && !tls_offered) {
    set_error(CR_SSL_CONNECTION_ERROR,
              use41 ? "SSL connection error: TLS is required, but the server does not support it"
                    : "SSL connection error: TLS is required, but the server does not support "
                      "it in the 4.1 protocol this client needs for it");
    net.net_close();
    return false;
  }
  if (ssl.Wanted() && tls_offered) {
    sent_flags_ |= CLIENT_SSL;
    const std::string head = login_head41();
    if (net.my_net_write(head.data(), head.size()) != 0 || net.net_flush() != 0) {
      set_error(CR_SERVER_LOST, ClientErrorText(CR_SERVER_LOST));
      net.net_close();
      return false;
    }
    // Host names are checked as the caller gave them; the local socket has
    // none but localhost.
    if (net.net_start_tls(ssl, named_pipe ? std::string("localhost") : host) != 0) {
      net.net_close();
      return false;
    }
  }

  login_plugin_.reset();
  if (use41) {
    std::unique_ptr<TAuthPlugin> plugin = CreateAuthPlugin(auth_plugin, auth_params());
    std::string error;
    plugin_answer_.clear();
    if (!plugin) {
      // Answer as a native-password account would; the server then asks
      // for a plugin this client knows, or refuses.
      auth_plugin = "mysql_native_password";
      plugin = CreateAuthPlugin(auth_plugin, auth_params());
    }
    if (!plugin->Answer(challenge_, plugin_answer_, error)) return handshake_error();
    // The same plugin object goes on with the server's further requests.
    login_plugin_ = std::move(plugin);
    net.protocol41 = true;
    if (!send_login41()) {
      net.net_close();
      return false;
    }
  } else if (!send_login()) {
    net.net_close();
    return false;
  }
  if (!mysql_autenticate()) {
    net.net_close();
    return false;
  }
  net.setcompress(HasCOMPRESS(sent_flags_));
  status = MYSQL_STATUS_READY;
  if (!db.empty() && !HasCONNECTWITHDB(server_capabilities)) {
    if (!select_db(db)) {
      net.net_close();
      return false;
    }
  }
  if (!set_character_set()) {
    net.net_close();
    return false;
  }
  // The connect time-out bounded connecting and the login; answers to
  // statements wait as long as the session's read time-out says (0: no limit).
  net.vio.timeout = read_timeout;
  if (write_timeout != 0) net.vio.set_write_timeout(write_timeout);
  return true;
}

std::string TMysqlClient::password_answer(const std::string& password) const {
  if (HasSECURECONNECTION(sent_flags_)) {
    std::string answer = mysql_scramble_native(password, challenge_);
    return std::string(1, static_cast<char>(answer.size())) + answer;
  }
  return OldScramble(password, scramble_buff) + std::string(1, '\0');
}

bool TMysqlClient::send_login() {
  std::string packet;
  packet += static_cast<char>(sent_flags_ & 0xFF);
  packet += static_cast<char>((sent_flags_ >> 8) & 0xFF);
  packet.append(3, '\0');  // maximum packet size
  packet += user.substr(0, kMaxUser);
  packet += '\0';
  packet += password_answer(passwd);
  if (!db.empty() && HasCONNECTWITHDB(server_capabilities))
    packet += db.substr(0, kMaxDatabase);
  packet += '\0';
  return net.my_net_write(packet.data(), packet.size()) == 0 && net.net_flush() == 0;
}

namespace {

// major * 10000 + minor * 100 + patch of a version text ("5.5.5-10.11.6-
// MariaDB" is 50505).
uint32_t VersionNumber(const std::string& Version) {
  uint32_t parts[3] = {0, 0, 0};
  size_t i = 0;
  for (int k = 0; k < 3; ++k) {
    while (i < Version.size() && Version[i] >= '0' && Version[i] <= '9')
      parts[k] = parts[k] * 10 + static_cast<uint32_t>(Version[i++] - '0');
    if (i >= Version.size() || Version[i] != '.') break;
    ++i;
  }
  return parts[0] * 10000 + parts[1] * 100 + parts[2];
}

// The default collation number of a character set; 0 when not known here.
uint32_t CharsetNumber(const std::string& Name) {
  static const struct {
    const char* name;
    uint32_t nr;
  } kCharsets[] = {{"big5", 1},    {"latin1", 8},   {"latin2", 9},   {"ascii", 11},
                   {"ujis", 12},   {"sjis", 13},    {"hebrew", 16},  {"tis620", 18},
                   {"euckr", 19},  {"gb2312", 24},  {"greek", 25},   {"cp1250", 26},
                   {"gbk", 28},    {"latin5", 30},  {"utf8", 33},    {"utf8mb3", 33},
                   {"ucs2", 35},   {"cp866", 36},   {"latin7", 41},  {"utf8mb4", 45},
                   {"cp1251", 51}, {"utf16", 54},   {"cp1256", 57},  {"cp1257", 59},
                   {"utf32", 60},  {"binary", 63},  {"cp932", 95}};
  std::string lower;
  for (char c : Name) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  for (const auto& c : kCharsets)
    if (lower == c.name) return c.nr;
  return 0;
}

}  // namespace

TAuthParams TMysqlClient::auth_params() const {
  TAuthParams params;
  params.user = user;
  params.password = passwd;
  params.secure_transport = net.vio.vio_tls() || net.VioType() == VIO_TYPE_NAMEDPIPE;
  params.server_public_key_file = ssl.server_public_key;
  return params;
}

std::string TMysqlClient::login_head41() {
  std::string packet;
  Append4(packet, sent_flags_);
  Append4(packet, kMaxPacket41);
  std::string name = charset_name;
  if (name.empty()) name = VersionNumber(server_version) >= 50503 ? "utf8mb4" : "utf8";
  const uint32_t number = CharsetNumber(name);
  login_charset_nr_ = number != 0 && number < 256 ? number : 33;
  packet += static_cast<char>(login_charset_nr_);
  packet.append(23, '\0');
  return packet;
}

bool TMysqlClient::send_login41() {
  std::string packet = login_head41();
  packet += user.substr(0, kMaxUser);
  packet += '\0';
  packet += static_cast<char>(plugin_answer_.size());
  packet += plugin_answer_;
  if (HasCONNECTWITHDB(sent_flags_) && HasCONNECTWITHDB(server_capabilities)) {
    packet += db.substr(0, kMaxDatabase);
    packet += '\0';
  }
  if (HasPLUGINAUTH(sent_flags_)) {
    packet += auth_plugin;
    packet += '\0';
  }
  return net.my_net_write(packet.data(), packet.size()) == 0 && net.net_flush() == 0;
}

bool TMysqlClient::set_character_set() {
  charset_in_use.clear();
  charset_nr = 0;
  const uint32_t version = VersionNumber(server_version);
  if (version < 40100) return true;  // no character sets per connection
  std::string name = charset_name;
  if (name.empty()) name = version >= 50503 ? "utf8mb4" : "utf8";
  // A name is letters, digits and "_" only, so it cannot carry SQL.
  const bool valid = name.find_first_not_of("abcdefghijklmnopqrstuvwxyz"
                                            "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_") ==
                     std::string::npos;
  const std::string statement = "SET NAMES " + name;
  if (!valid || simple_command(COM_QUERY, statement.data(), statement.size(), false, false) != 0) {
    if (GetConnected())
      set_error(CR_CANT_READ_CHARSET, FormatClientError(CR_CANT_READ_CHARSET, name.c_str(),
                                                        "compiled_in"));
    return false;
  }
  charset_in_use = name;
  charset_nr = CharsetNumber(name);
  return true;
}

bool TMysqlClient::mysql_autenticate() {
  if (protocol41()) return authenticate41();
  uint32_t length = net.net_safe_read();
  if (length == packet_error) return false;
  const uint8_t* p = net.read_ptr();
  if (p[0] != kSwitchRequest) return true;

  // The server asks for another answer to the password.
  auto handshake_error = [this] {
    set_error(CR_SERVER_HANDSHAKE_ERR, ClientErrorText(CR_SERVER_HANDSHAKE_ERR));
    net.net_close();
    return false;
  };
  std::string answer;
  if (length == 1) {
    answer = OldScramble(passwd, scramble_buff) + std::string(1, '\0');
  } else {
    const char* name = reinterpret_cast<const char*>(p + 1);
    size_t name_length = strnlen(name, length - 1);
    if (name_length == length - 1) return handshake_error();  // no zero byte
    std::string plugin(name, name_length);
    std::string_view challenge(name + name_length + 1, length - 2 - name_length);
    if (plugin == "mysql_old_password") {
      if (challenge.size() < SCRAMBLE_LENGTH_323) return handshake_error();
      answer = OldScramble(passwd, challenge) + std::string(1, '\0');
    } else if (plugin == "mysql_native_password") {
      if (challenge.size() < SCRAMBLE_LENGTH) return handshake_error();
      answer = mysql_scramble_native(passwd, challenge.substr(0, SCRAMBLE_LENGTH));
    } else {
      return handshake_error();
    }
  }
  if (net.my_net_write(answer.data(), answer.size()) != 0 || net.net_flush() != 0) {
    set_error(CR_SERVER_LOST, ClientErrorText(CR_SERVER_LOST));
    net.net_close();
    return false;
  }
  length = net.net_safe_read();
  if (length == packet_error) return false;
  if (net.read_ptr()[0] == kSwitchRequest) return handshake_error();
  return true;
}

bool TMysqlClient::authenticate41() {
  auto fail = [this](uint32_t number, const std::string& text) {
    set_error(number, text);
    net.net_close();
    return false;
  };
  auto handshake_error = [&] {
    return fail(CR_SERVER_HANDSHAKE_ERR, ClientErrorText(CR_SERVER_HANDSHAKE_ERR));
  };
  const TAuthParams params = auth_params();
  // The login's plugin keeps what its answer used (caching_sha2_password's
  // nonce); a change of user starts a fresh one.
  std::unique_ptr<TAuthPlugin> plugin = std::move(login_plugin_);
  if (!plugin) plugin = CreateAuthPlugin(auth_plugin, params);
  bool switched = false;
  // A plugin's exchange is a few packets; a server that goes on for ever
  // is broken.
  for (int round = 0; round < 32; ++round) {
    const uint32_t length = net.net_safe_read();
    if (length == packet_error) return false;
    const uint8_t* p = net.read_ptr();
    std::string answer;
    if (p[0] == 0) {
      read_ok_packet(p, length);
      return true;
    }
    if (p[0] == kSwitchRequest) {
      // Only one switch per login.
      if (switched) return handshake_error();
      switched = true;
      std::string name = "mysql_old_password";
      std::string_view challenge = std::string_view(scramble_buff);
      if (length > 1) {
        const char* text = reinterpret_cast<const char*>(p + 1);
        const size_t name_length = strnlen(text, length - 1);
        if (name_length == length - 1) return handshake_error();  // no zero byte
        name.assign(text, name_length);
        challenge = std::string_view(text + name_length + 1, length - 2 - name_length);
        // The 8- and 20-byte challenges come zero-terminated; longer ones
        // (client_ed25519's 32 bytes) are taken as they are, since their
        // last byte may well be a zero.
        if ((challenge.size() == SCRAMBLE_LENGTH + 1 ||
             challenge.size() == SCRAMBLE_LENGTH_323 + 1) &&
            challenge.back() == '\0')
          challenge.remove_suffix(1);
      }
      plugin = CreateAuthPlugin(name, params);
      if (!plugin) return fail(CR_AUTH_PLUGIN_CANNOT_LOAD, UnknownAuthPluginText(name));
      auth_plugin = name;
      std::string error;
      if (!plugin->Answer(challenge, answer, error))
        return fail(CR_SERVER_HANDSHAKE_ERR, error);
      // A change of user later answers the challenge the server holds now.
      if (challenge.size() >= SCRAMBLE_LENGTH) challenge_.assign(challenge.substr(0, SCRAMBLE_LENGTH));
    } else if (p[0] == kMoreData) {
      if (!plugin) return handshake_error();
      bool send = false;
      std::string error;
      if (!plugin->MoreData(std::string_view(reinterpret_cast<const char*>(p + 1), length - 1),
                            answer, send, error))
        return fail(CR_SERVER_HANDSHAKE_ERR, error);
      if (!send) continue;
    } else {
      return handshake_error();
    }
    if (net.my_net_write(answer.data(), answer.size()) != 0 || net.net_flush() != 0)
      return fail(CR_SERVER_LOST, ClientErrorText(CR_SERVER_LOST));
  }
  return handshake_error();
}

bool TMysqlClient::reconnect() {
  if (auto_reconnect && (server_status & SERVER_STATUS_IN_TRANS) == 0) return connect();
  server_status &= ~SERVER_STATUS_IN_TRANS;
  return false;
}

void TMysqlClient::close() {
  Guard guard = Lock(lock);
  reset_session_state();
  if (GetConnected()) {
    free_old_query();
    status = MYSQL_STATUS_READY;
    // The quit must not hide the error that led to the close.
    const uint32_t error_number = GetLastErrorNo();
    const std::string error_text = GetLastError();
    const bool reconnect_was = auto_reconnect;
    auto_reconnect = false;
    simple_command(COM_QUIT, nullptr, 0, true, false);
    net.net_close();
    auto_reconnect = reconnect_was;
    set_error(error_number, error_text);
  }
  detach_result();
}

int TMysqlClient::simple_command(TEnumServerCommand command, const void* argument,
                                 size_t length, bool skip_check, bool retry) {
  if (!GetConnected()) {
    // The error that ended the connection is history now; a failed reconnect
    // records its own, and no attempt at all reads as "gone away".
    set_error(0, std::string());
    if (!reconnect()) {
      if (GetLastErrorNo() == 0)
        set_error(CR_SERVER_GONE_ERROR, ClientErrorText(CR_SERVER_GONE_ERROR));
      return -1;
    }
  }
  if (status != MYSQL_STATUS_READY || more_results()) {
    // Results of the last statement are still to be read (next_result).
    set_error(CR_COMMANDS_OUT_OF_SYNC, ClientErrorText(CR_COMMANDS_OUT_OF_SYNC));
    return -1;
  }
  set_error(0, std::string());
  info.clear();
  affected_rows = 0;
  insert_id = 0;
  local_load_file_.clear();
  local_load_sent_ =
      command == COM_QUERY && argument != nullptr &&
      LoadDataLocalFile(std::string_view(static_cast<const char*>(argument), length),
                        (server_status & SERVER_STATUS_NO_BACKSLASH_ESCAPES) != 0,
                        local_load_file_);
  if (length + 1 > kMaxCommandPayload) {
    // Refused before a byte is sent: the connection and its session state
    // (variables, temporary tables, locks, the transaction) stay as they are.
    local_load_sent_ = false;
    set_error(CR_NET_PACKET_TOO_LARGE, ClientErrorText(CR_NET_PACKET_TOO_LARGE));
    return -1;
  }
  net.net_clear();
  if (net.net_write_command(command, argument, length) != 0) {
    net.net_close();
    free_old_query();
    set_error(0, std::string());
    if (!reconnect() ||
        (net.net_clear(), net.net_write_command(command, argument, length) != 0)) {
      set_error(CR_SERVER_GONE_ERROR, ClientErrorText(CR_SERVER_GONE_ERROR));
      return -1;
    }
  }
  if (skip_check) return 0;
  answer_length_ = net.net_safe_read();
  if (answer_length_ != packet_error) return 0;
  if (GetLastErrorNo() == CR_SERVER_LOST) {
    // An open transaction died with the connection: keep saying so, so that
    // the retry below does not silently reconnect and go on without it.
    const uint32_t in_transaction = server_status & SERVER_STATUS_IN_TRANS;
    close();
    server_status |= in_transaction;
  }
  if (retry) {
    // When no reconnect is attempted, the error that ended the connection
    // tells more than "gone away".
    const uint32_t number = GetLastErrorNo();
    const std::string text = GetLastError();
    int rc = simple_command(command, argument, length, skip_check, false);
    if (rc != 0 && !GetConnected() && GetLastErrorNo() == CR_SERVER_GONE_ERROR)
      set_error(number, text);
    return rc;
  }
  return -1;
}

int TMysqlClient::next_result() {
  Guard guard = Lock(lock);
  if (!more_results()) return -1;
  if (status != MYSQL_STATUS_READY) {
    set_error(CR_COMMANDS_OUT_OF_SYNC, ClientErrorText(CR_COMMANDS_OUT_OF_SYNC));
    return 1;
  }
  set_error(0, std::string());
  info.clear();
  affected_rows = 0;
  insert_id = 0;
  return read_query_result() == 0 ? 0 : 1;
}

int TMysqlClient::realquery(std::string_view statement) {
  if (statement.empty()) return 0;
  if (auto_reconnect && !ping()) return 1;
  if (simple_command(COM_QUERY, statement.data(), statement.size(), true,
                     auto_reconnect) != 0)
    return 1;
  return read_query_result();
}

namespace {
bool NameCommand(TMysqlClient& c, TEnumServerCommand command, const std::string& name) {
  if (name.empty()) return false;
  return c.simple_command(command, name.data(), name.size(), false, c.auto_reconnect) == 0;
}
}  // namespace

bool TMysqlClient::select_db(const std::string& name) {
  Guard guard = Lock(lock);
  if (!NameCommand(*this, COM_INIT_DB, name)) return false;
  db = name;
  return true;
}

bool TMysqlClient::create_db(const std::string& name) {
  Guard guard = Lock(lock);
  return NameCommand(*this, COM_CREATE_DB, name);
}

bool TMysqlClient::drop_db(const std::string& name) {
  Guard guard = Lock(lock);
  return NameCommand(*this, COM_DROP_DB, name);
}

bool TMysqlClient::ping() {
  Guard guard = Lock(lock);
  return simple_command(COM_PING, nullptr, 0, false, auto_reconnect) == 0;
}

bool TMysqlClient::kill(uint32_t process_id) {
  Guard guard = Lock(lock);
  std::string argument;
  Append4(argument, process_id);
  return simple_command(COM_PROCESS_KILL, argument.data(), 4, false, auto_reconnect) == 0;
}

bool TMysqlClient::refresh(uint32_t options) {
  Guard guard = Lock(lock);
  std::string argument;
  Append4(argument, options);
  return simple_command(COM_REFRESH, argument.data(), 4, false, auto_reconnect) == 0;
}

bool TMysqlClient::shutdown() {
  Guard guard = Lock(lock);
  bool ok = simple_command(COM_SHUTDOWN, nullptr, 0, false, auto_reconnect) == 0;
  close();
  return ok;
}

bool TMysqlClient::dump_debug_info() {
  Guard guard = Lock(lock);
  return simple_command(COM_DEBUG, nullptr, 0, false, auto_reconnect) == 0;
}

std::string TMysqlClient::stat() {
  Guard guard = Lock(lock);
  if (simple_command(COM_STATISTICS, nullptr, 0, false, auto_reconnect) != 0) return {};
  const char* text = reinterpret_cast<const char*>(net.read_ptr());
  if (text[0] == '\0') {
    set_error(CR_WRONG_HOST_INFO, ClientErrorText(CR_WRONG_HOST_INFO));
    return {};
  }
  return std::string(text);
}

std::unique_ptr<TMysqlResult> TMysqlClient::query(std::string_view statement, bool store,
                                                 bool& completed) {
  completed = false;
  Guard guard = Lock(lock);
  std::unique_ptr<TMysqlResult> result;
  if (realquery(statement) == 0) {
    if (store) {
      result = store_result();
      net.net_pack();
    } else {
      result = use_result();
    }
  }
  completed = true;
  return result;
}

std::unique_ptr<TMysqlResult> TMysqlClient::list_processes() {
  Guard guard = Lock(lock);
  if (simple_command(COM_PROCESS_INFO, nullptr, 0, false, auto_reconnect) != 0) return nullptr;
  free_old_query();
  // The column count, a length-coded number within the answer.
  const uint8_t* p = net.read_ptr();
  const uint32_t length = answer_length_;
  uint64_t count = 0;
  if (p[0] < 251) {
    count = p[0];
  } else if (p[0] == 252 && length >= 3) {
    count = Load2(p + 1);
  } else {
    malformed_answer();
    return nullptr;
  }
  if (count == 0) return nullptr;
  bool incomplete = true;
  std::unique_ptr<TMYSQL_DATA> columns = read_rows(nullptr, protocol41() ? 7 : 5, incomplete);
  if (!columns) return nullptr;
  fields = unpack_fields(std::move(columns), static_cast<uint32_t>(count),
                         HasLONGFLAG(server_capabilities));
  if (!fields) return nullptr;
  field_count = static_cast<uint32_t>(count);
  status = MYSQL_STATUS_GET_RESULT;
  return store_result();
}

bool TMysqlClient::reset_connection() {
  Guard guard = Lock(lock);
  if (simple_command(COM_RESET_CONNECTION, nullptr, 0, false, false) != 0) return false;
  read_ok_packet(net.read_ptr(), answer_length_);
  // The server goes back to the character set of the login packet; when
  // that was not the one in use, name it again.
  if (!charset_in_use.empty() && CharsetNumber(charset_in_use) != login_charset_nr_) {
    const std::string name = charset_in_use;
    const std::string kept = charset_name;
    charset_name = name;
    const bool ok = set_character_set();
    charset_name = kept;
    return ok;
  }
  return true;
}

bool TMysqlClient::change_user(const std::string& new_user, const std::string& new_password,
                               const std::string& new_database) {
  Guard guard = Lock(lock);
  std::string argument = new_user.substr(0, kMaxUser);
  argument += '\0';
  std::string old_plugin = auth_plugin;
  if (protocol41()) {
    // The 4.1 form: the native answer with its length, the database, the
    // character set number and the plugin's name. The server asks for
    // another plugin through a switch when the account has one.
    auth_plugin = "mysql_native_password";
    std::string answer = mysql_scramble_native(new_password, challenge_);
    argument += static_cast<char>(answer.size());
    argument += answer;
    argument += new_database.substr(0, kMaxDatabase);
    argument += '\0';
    uint32_t number = CharsetNumber(charset_in_use);
    if (number == 0) number = 33;
    argument += static_cast<char>(number & 0xFF);
    argument += static_cast<char>((number >> 8) & 0xFF);
    if (HasPLUGINAUTH(sent_flags_)) {
      argument += auth_plugin;
      argument += '\0';
    }
  } else {
    argument += password_answer(new_password);
    argument += new_database.substr(0, kMaxDatabase);
    argument += '\0';
  }
  if (simple_command(COM_CHANGE_USER, argument.data(), argument.size(), true,
                     auto_reconnect) != 0)
    return false;
  std::string old_user = user, old_password = passwd, old_db = db;
  user = new_user;
  passwd = new_password;
  db = new_database;
  if (mysql_autenticate()) return true;
  user = old_user;
  passwd = old_password;
  db = old_db;
  auth_plugin = old_plugin;
  return false;
}

int TMysqlClient::send_file_to_server(const std::string& file_name) {
  auto send_end = [this] {
    return net.my_net_write("", 0) == 0 && net.net_flush() == 0;
  };
  char text[512];
  if (!local_load_sent_ || file_name != local_load_file_) {
    // A server may ask for any file; only a LOAD DATA LOCAL statement this
    // session just sent may make it read one, only the file that statement
    // names, and only once.
    local_load_sent_ = false;
    send_end();
    std::snprintf(text, sizeof text, "File '%s' not requested by LOAD DATA LOCAL",
                  file_name.c_str());
    set_error(0, text);
    return -1;
  }
  local_load_sent_ = false;
  auto record = [this, &text](uint32_t number, const char* format, const std::string& name,
                              int code) {
    std::snprintf(text, sizeof text, format, name.c_str(), code);
    set_error(number, text);
  };
  int fd = ::open(file_name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    int code = errno;
    send_end();
    record(0, "File '%s' not found (Errcode: %d)", file_name, code);
    return -1;
  }
  std::vector<char> block(kFileBlock);
  for (;;) {
    ssize_t n = ::read(fd, block.data(), block.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int code = errno;
      ::close(fd);
      send_end();
      record(2, "Error reading file '%s' (Errcode: %d)", file_name, code);
      return -1;
    }
    if (n == 0) break;
    if (net.my_net_write(block.data(), static_cast<size_t>(n)) != 0) {
      ::close(fd);
      set_error(CR_SERVER_LOST, ClientErrorText(CR_SERVER_LOST));
      return -1;
    }
  }
  ::close(fd);
  if (!send_end()) {
    set_error(CR_SERVER_LOST, ClientErrorText(CR_SERVER_LOST));
    return -1;
  }
  return 0;
}

namespace {
bool Refresh(TMysqlClient* client, uint32_t option) {
  return client != nullptr && client->refresh(option);
}
}  // namespace

bool REF_GRANT(TMysqlClient* c) { return Refresh(c, REFRESH_GRANT); }
bool REF_LOG(TMysqlClient* c) { return Refresh(c, REFRESH_LOG); }
bool REF_TABLES(TMysqlClient* c) { return Refresh(c, REFRESH_TABLES); }
bool REF_HOSTS(TMysqlClient* c) { return Refresh(c, REFRESH_HOSTS); }
bool REF_STATUS(TMysqlClient* c) { return Refresh(c, REFRESH_STATUS); }
bool REF_THREADS(TMysqlClient* c) { return Refresh(c, REFRESH_THREADS); }
bool REF_SLAVE(TMysqlClient* c) { return Refresh(c, REFRESH_SLAVE); }
bool REF_MASTER(TMysqlClient* c) { return Refresh(c, REFRESH_MASTER); }
bool REF_READ_LOCK(TMysqlClient* c) { return Refresh(c, REFRESH_READ_LOCK); }
bool REF_FAST(TMysqlClient* c) { return Refresh(c, REFRESH_FAST); }

void TMysqlClient::SetHost(const std::string& value) {
  bool changed = value != host;
  host = value;
  if (changed && GetConnected()) close();
}

void TMysqlClient::SetUser(const std::string& value) {
  bool changed = value != user;
  user = value;
  if (changed && GetConnected()) close();
}

void TMysqlClient::SetPasswd(const std::string& value) {
  bool changed = value != passwd;
  passwd = value;
  if (changed && GetConnected()) close();
}

void TMysqlClient::SetPort(uint32_t value) {
  bool changed = value != port;
  port = value;
  if (changed && GetConnected()) close();
}

void TMysqlClient::SetClientFlag(uint32_t value) {
  bool changed = value != client_flag;
  client_flag = value;
  if (changed && GetConnected()) close();
}

void TMysqlClient::SetNamedPipe(bool value) {
  bool changed = value != named_pipe;
  named_pipe = value;
  if (changed && GetConnected()) close();
}

void TMysqlClient::setfcompress(bool value) {
  bool changed = value != fcompress;
  fcompress = value;
  if (changed && GetConnected()) close();
}

void TMysqlClient::SetUnixSocket(const std::string& value) {
  bool changed = value != unix_socket;
  unix_socket = value;
  if (changed && named_pipe && GetConnected()) close();
}

void TMysqlClient::SetDb(const std::string& value) {
  db = value;
  if (GetConnected()) select_db(value);
}

}  // namespace rowset
