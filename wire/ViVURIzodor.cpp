#include "wire/ViVURIzodor.h"

#include <cstring>
#include <memory>

#include "wire/uMysqlCT.h"
#include "wire/uMysqlHelpers.h"

namespace rowset {

TViVURIzodorClient::TViVURIzodorClient() {
  result_class = &TViVURIzodorResult::Create;
  auto_reconnect = false;
  fcompress = false;
}

std::unique_ptr<TMysqlResult> TViVURIzodorResult::Create(TMysqlClient* client,
                                                         TResultType type) {
  return std::make_unique<TViVURIzodorResult>(client, type);
}

namespace {

const char* OrEmpty(const char* text) { return text != nullptr ? text : ""; }

uint32_t ArgValue(const void* arg) {
  uint32_t value;
  memcpy(&value, arg, sizeof value);
  return value;
}

}  // namespace

ViVURIzodorHandle mysql_init(ViVURIzodorHandle) {
  // Ownership passes to the caller, who gives it back through mysql_close.
  return std::make_unique<TViVURIzodorClient>().release();
}

int mysql_options(ViVURIzodorHandle mysql, mysql_option option, const void* arg) {
  if (mysql == nullptr) return 0;
  switch (option) {
    case MYSQL_OPT_CONNECT_TIMEOUT:
      if (arg != nullptr) mysql->connect_timeout = ArgValue(arg);
      break;
    case MYSQL_OPT_COMPRESS:
      mysql->fcompress = true;
      break;
    case MYSQL_OPT_NAMED_PIPE:
      mysql->SetTrySock(true);
      break;
    case MYSQL_OPT_READ_TIMEOUT:
      // This session's own setting, never a process-wide one.
      if (arg != nullptr) {
        mysql->read_timeout = ArgValue(arg);
        if (mysql->GetConnected()) mysql->net.vio.timeout = mysql->read_timeout;
      }
      break;
    case MYSQL_OPT_WRITE_TIMEOUT:
      if (arg != nullptr) {
        mysql->write_timeout = ArgValue(arg);
        if (mysql->GetConnected()) mysql->net.vio.set_write_timeout(mysql->write_timeout);
      }
      break;
    case MYSQL_OPT_SSL_MODE:
      if (arg != nullptr) {
        const unsigned int mode = *static_cast<const unsigned int*>(arg);
        if (mode >= SSL_MODE_DISABLED && mode <= SSL_MODE_VERIFY_IDENTITY) {
          mysql->ssl.mode = static_cast<mysql_ssl_mode>(mode);
          mysql->ssl_mode_set = true;
        }
      }
      break;
    case MYSQL_OPT_SSL_KEY:
    case MYSQL_OPT_SSL_CERT:
    case MYSQL_OPT_SSL_CA:
    case MYSQL_OPT_SSL_CAPATH:
    case MYSQL_OPT_SSL_CIPHER: {
      std::string& field = option == MYSQL_OPT_SSL_KEY    ? mysql->ssl.key
                           : option == MYSQL_OPT_SSL_CERT ? mysql->ssl.cert
                           : option == MYSQL_OPT_SSL_CA   ? mysql->ssl.ca
                           : option == MYSQL_OPT_SSL_CAPATH ? mysql->ssl.capath
                                                            : mysql->ssl.cipher;
      field = arg != nullptr ? static_cast<const char*>(arg) : "";
      if (!field.empty() && !mysql->ssl_mode_set && mysql->ssl.mode < SSL_MODE_REQUIRED)
        mysql->ssl.mode = SSL_MODE_REQUIRED;
      break;
    }
    case MYSQL_OPT_SSL_VERIFY_SERVER_CERT:
      if (arg != nullptr) {
        if (*static_cast<const char*>(arg) != 0) mysql->ssl.mode = SSL_MODE_VERIFY_IDENTITY;
        else if (mysql->ssl.Verifies()) mysql->ssl.mode = SSL_MODE_REQUIRED;
      }
      break;
    case MYSQL_SERVER_PUBLIC_KEY:
      mysql->ssl.server_public_key = arg != nullptr ? static_cast<const char*>(arg) : "";
      break;
    case MYSQL_SET_CHARSET_NAME:
      // Used from the next connect on.
      mysql->charset_name = arg != nullptr ? static_cast<const char*>(arg) : "";
      break;
    default:
      break;
  }
  return 0;
}

int mysql_ssl_set(ViVURIzodorHandle mysql, const char* key, const char* cert, const char* ca,
                  const char* capath, const char* cipher) {
  if (mysql == nullptr) return 0;
  mysql_options(mysql, MYSQL_OPT_SSL_KEY, key);
  mysql_options(mysql, MYSQL_OPT_SSL_CERT, cert);
  mysql_options(mysql, MYSQL_OPT_SSL_CA, ca);
  mysql_options(mysql, MYSQL_OPT_SSL_CAPATH, capath);
  mysql_options(mysql, MYSQL_OPT_SSL_CIPHER, cipher);
  return 0;
}

const char* mysql_get_ssl_cipher(ViVURIzodorHandle mysql) {
  if (mysql == nullptr) return nullptr;
  mysql->cipher_text = mysql->GetSslCipher();
  return mysql->cipher_text.empty() ? nullptr : mysql->cipher_text.c_str();
}

const char* mysql_character_set_name(ViVURIzodorHandle mysql) {
  if (mysql == nullptr) return "";
  return mysql->charset_in_use.empty() ? "latin1" : mysql->charset_in_use.c_str();
}

unsigned int mysql_charset_number(ViVURIzodorHandle mysql) {
  return mysql == nullptr ? 0 : mysql->charset_nr;
}

int mysql_real_connect(ViVURIzodorHandle mysql, const char* host, const char* user,
                       const char* passwd, const char* db, unsigned int port,
                       const char* unix_socket, unsigned long client_flag) {
  if (mysql == nullptr) return 0;
  return mysql->connect(OrEmpty(host), OrEmpty(user), OrEmpty(passwd),
                        OrEmpty(db), port, OrEmpty(unix_socket),
                        mysql->try_sock, static_cast<uint32_t>(client_flag))
             ? 1
             : 0;
}

void mysql_close(ViVURIzodorHandle mysql) {
  std::unique_ptr<TViVURIzodorClient> owned(mysql);
}

unsigned int mysql_errno(ViVURIzodorHandle mysql) {
  return mysql == nullptr ? 1 : mysql->GetLastErrorNo();
}

const char* mysql_error(ViVURIzodorHandle mysql) {
  if (mysql == nullptr) return nullptr;
  mysql->error_text = mysql->GetLastError();
  return mysql->error_text.c_str();
}

const char* mysql_get_host_info(ViVURIzodorHandle) { return nullptr; }

const char* mysql_get_client_info() { return MYSQL_CLIENT_VERSION; }

const char* mysql_get_server_info(ViVURIzodorHandle mysql) {
  return mysql == nullptr ? nullptr : mysql->server_version.c_str();
}

unsigned int mysql_get_proto_info(ViVURIzodorHandle mysql) {
  return mysql == nullptr ? 0 : mysql->GetProtocol_version();
}

int mysql_ping(ViVURIzodorHandle mysql) {
  return mysql != nullptr && mysql->ping() ? 0 : 1;
}

unsigned long mysql_thread_id(ViVURIzodorHandle mysql) {
  return mysql == nullptr ? 0 : mysql->thread_id;
}

int mysql_kill(ViVURIzodorHandle mysql, unsigned long pid) {
  return mysql != nullptr && mysql->kill(static_cast<uint32_t>(pid)) ? 0 : 1;
}

int mysql_create_db(ViVURIzodorHandle mysql, const char* db) {
  return mysql != nullptr && mysql->create_db(OrEmpty(db)) ? 0 : 1;
}

int mysql_select_db(ViVURIzodorHandle mysql, const char* db) {
  return mysql != nullptr && mysql->select_db(OrEmpty(db)) ? 0 : 1;
}

int mysql_drop_db(ViVURIzodorHandle mysql, const char* db) {
  return mysql != nullptr && mysql->drop_db(OrEmpty(db)) ? 0 : 1;
}

int mysql_real_query(ViVURIzodorHandle mysql, const char* query, unsigned long length) {
  if (mysql == nullptr) return 1;
  if (query == nullptr) return mysql->realquery(std::string_view());
  return mysql->realquery(std::string_view(query, length));
}

ViVURIzodorResultHandle mysql_use_result(ViVURIzodorHandle mysql) {
  if (mysql == nullptr) return nullptr;
  std::unique_ptr<TMysqlResult> result = mysql->use_result();
  if (!result) return nullptr;
  auto* flat = static_cast<TViVURIzodorResult*>(result.release());
  flat->field_cursor = -1;
  return flat;  // the caller gives it back through mysql_free_result
}

void mysql_free_result(ViVURIzodorResultHandle result) {
  std::unique_ptr<TViVURIzodorResult> owned(result);
}

unsigned int mysql_num_fields(ViVURIzodorResultHandle result) {
  return result == nullptr ? 0 : result->field_count;
}

uint64_t mysql_num_rows(ViVURIzodorResultHandle result) {
  return result == nullptr ? 0 : result->row_count;
}

unsigned long* mysql_fetch_lengths(ViVURIzodorResultHandle result) {
  return result == nullptr ? nullptr : result->lengths.data();
}

TMysql_FieldDef* mysql_fetch_field(ViVURIzodorResultHandle result) {
  if (result == nullptr) return nullptr;
  if (result->field_cursor < static_cast<int32_t>(result->field_count))
    ++result->field_cursor;
  return result->FieldDef(result->field_cursor);
}

MYSQL_ROW mysql_fetch_row(ViVURIzodorResultHandle result) {
  if (result == nullptr || result->row_count == 0 || result->eof)
    return nullptr;
  // use_result has read the first row already and left bof set: the first
  // call hands that row out without reading.
  if (!result->bof) result->Next();
  result->bof = false;
  return result->eof ? nullptr : result->row;
}

unsigned long mysql_real_escape_string(ViVURIzodorHandle mysql, char* to, const char* from,
                                       unsigned long length) {
  if (to == nullptr) return 0;
  const uint32_t status = mysql != nullptr ? mysql->server_status : 0;
  std::string escaped =
      from == nullptr ? std::string() : EscapeFor(status, std::string_view(from, length));
  memcpy(to, escaped.data(), escaped.size());
  to[escaped.size()] = 0;
  return static_cast<unsigned long>(escaped.size());
}

uint64_t mysql_insert_id(ViVURIzodorHandle mysql) {
  return mysql == nullptr ? 0 : mysql->insert_id;
}

int mysql_refresh(ViVURIzodorHandle mysql, unsigned int options) {
  return mysql != nullptr && mysql->refresh(options) ? 0 : 1;
}

uint64_t mysql_affected_rows(ViVURIzodorHandle mysql) {
  return mysql == nullptr ? 0 : mysql->affected_rows;
}

const char* mysql_info(ViVURIzodorHandle mysql) {
  return mysql == nullptr || mysql->info.empty() ? nullptr : mysql->info.c_str();
}

}  // namespace rowset

namespace rowset {

const char* mysql_sqlstate(ViVURIzodorHandle mysql) {
  if (mysql == nullptr) return nullptr;
  if (mysql->GetLastErrorNo() == 0)
    mysql->sql_state_text = "00000";
  else if (!mysql->net.vio.sql_state.empty())
    mysql->sql_state_text = mysql->net.vio.sql_state;
  else
    mysql->sql_state_text = "HY000";
  return mysql->sql_state_text.c_str();
}

unsigned int mysql_warning_count(ViVURIzodorHandle mysql) {
  return mysql == nullptr ? 0 : mysql->warning_count;
}

bool mysql_more_results(ViVURIzodorHandle mysql) {
  return mysql != nullptr && mysql->more_results();
}

int mysql_next_result(ViVURIzodorHandle mysql) {
  return mysql == nullptr ? -1 : mysql->next_result();
}

int mysql_reset_connection(ViVURIzodorHandle mysql) {
  return mysql != nullptr && mysql->reset_connection() ? 0 : 1;
}

int mysql_change_user(ViVURIzodorHandle mysql, const char* user, const char* passwd,
                      const char* db) {
  if (mysql == nullptr) return 1;
  return mysql->change_user(OrEmpty(user), OrEmpty(passwd), OrEmpty(db)) ? 0 : 1;
}

}  // namespace rowset
