// Vocabulary of the wire client: transport kinds, server command codes, the
// session's result state, capability and column flag bits, and the read
// time-out that every transport falls back on.
#ifndef ROWSET_WIRE_UMYSQLCT_H_
#define ROWSET_WIRE_UMYSQLCT_H_

#include <cstdint>

namespace rowset {

enum TEnumVioType : uint8_t {
  VIO_CLOSED = 0,
  VIO_TYPE_TCPIP = 1,
  VIO_TYPE_SOCKET = 2,
  VIO_TYPE_NAMEDPIPE = 3,
  VIO_TYPE_SSL = 4,
};

// The value is the command byte sent on the wire.
enum TEnumServerCommand : uint8_t {
  COM_SLEEP = 0,
  COM_QUIT = 1,
  COM_INIT_DB = 2,
  COM_QUERY = 3,
  COM_FIELD_LIST = 4,
  COM_CREATE_DB = 5,
  COM_DROP_DB = 6,
  COM_REFRESH = 7,
  COM_SHUTDOWN = 8,
  COM_STATISTICS = 9,
  COM_PROCESS_INFO = 10,
  COM_CONNECT = 11,
  COM_PROCESS_KILL = 12,
  COM_DEBUG = 13,
  COM_PING = 14,
  COM_TIME = 15,
  COM_DELAYED_INSERT = 16,
  COM_CHANGE_USER = 17,
  COM_BINLOG_DUMP = 18,
  COM_TABLE_DUMP = 19,
  COM_CONNECT_OUT = 20,
  COM_RESET_CONNECTION = 31,  // servers speaking the 4.1 protocol (5.7, 10.2 on)
};

enum TMysql_Status : uint8_t {
  MYSQL_STATUS_READY = 0,
  MYSQL_STATUS_GET_RESULT = 1,  // field descriptions announced, not yet read
  MYSQL_STATUS_USE_RESULT = 2,  // an unbuffered result is being read
};

// Column type code as the server sends it in a field packet.
using enum_field_types = uint8_t;

// Capability bits (client flags at login and server flags of the greeting).
constexpr uint32_t CLIENT_LONG_PASSWORD = 1;
constexpr uint32_t CLIENT_FOUND_ROWS = 2;
constexpr uint32_t CLIENT_LONG_FLAG = 4;
constexpr uint32_t CLIENT_CONNECT_WITH_DB = 8;
constexpr uint32_t CLIENT_NO_SCHEMA = 16;
constexpr uint32_t CLIENT_COMPRESS = 32;
constexpr uint32_t CLIENT_ODBC = 64;
constexpr uint32_t CLIENT_LOCAL_FILES = 128;
constexpr uint32_t CLIENT_IGNORE_SPACE = 256;
constexpr uint32_t CLIENT_CHANGE_USER = 512;
constexpr uint32_t CLIENT_INTERACTIVE = 1024;
constexpr uint32_t CLIENT_SSL = 2048;
constexpr uint32_t CLIENT_IGNORE_SIGPIPE = 4096;
constexpr uint32_t CLIENT_TRANSACTIONS = 8192;
// Newer servers: the greeting carries a 20-byte challenge and the login may
// answer it with the secure (SHA1) scramble.
constexpr uint32_t CLIENT_SECURE_CONNECTION = 32768;
// The 4.1 protocol: the same bit as CLIENT_CHANGE_USER of old servers. With
// it the greeting, login, column descriptions, OK, end and error packets
// have their 4.1 forms.
constexpr uint32_t CLIENT_PROTOCOL_41 = 512;
// Several statements in one query (only when the caller asks for it).
constexpr uint32_t CLIENT_MULTI_STATEMENTS = 1u << 16;
// Several results to one statement (CALL of a procedure returning rows).
constexpr uint32_t CLIENT_MULTI_RESULTS = 1u << 17;
constexpr uint32_t CLIENT_PS_MULTI_RESULTS = 1u << 18;
// The greeting and login name the authentication plugin.
constexpr uint32_t CLIENT_PLUGIN_AUTH = 1u << 19;
constexpr uint32_t CLIENT_CONNECT_ATTRS = 1u << 20;
constexpr uint32_t CLIENT_PLUGIN_AUTH_LENENC_CLIENT_DATA = 1u << 21;
constexpr uint32_t CLIENT_SESSION_TRACK = 1u << 23;
constexpr uint32_t CLIENT_DEPRECATE_EOF = 1u << 24;
// Never sent: a caller's flag asking for the old (3.23) protocol even when
// the server offers 4.1.
constexpr uint32_t CLIENT_PROTOCOL_323 = 1u << 31;

// Column flag bits (`flags` of a field description).
constexpr uint32_t NOT_NULL_FLAG = 1;
constexpr uint32_t PRI_KEY_FLAG = 2;
constexpr uint32_t UNIQUE_KEY_FLAG = 4;
constexpr uint32_t MULTIPLE_KEY_FLAG = 8;
constexpr uint32_t BLOB_FLAG = 16;
constexpr uint32_t UNSIGNED_FLAG = 32;
constexpr uint32_t ZEROFILL_FLAG = 64;
constexpr uint32_t BINARY_FLAG = 128;
constexpr uint32_t ENUM_FLAG = 256;
constexpr uint32_t AUTO_INCREMENT_FLAG = 512;
constexpr uint32_t TIMESTAMP_FLAG = 1024;
constexpr uint32_t SET_FLAG = 2048;
constexpr uint32_t PART_KEY_FLAG = 16384;
constexpr uint32_t NUM_FLAG = 32768;
constexpr uint32_t GROUP_FLAG = 32768;
constexpr uint32_t UNIQUE_FLAG = 65536;

// Refresh option bits (argument of COM_REFRESH).
constexpr uint32_t REFRESH_GRANT = 1;
constexpr uint32_t REFRESH_LOG = 2;
constexpr uint32_t REFRESH_TABLES = 4;
constexpr uint32_t REFRESH_HOSTS = 8;
constexpr uint32_t REFRESH_STATUS = 16;
constexpr uint32_t REFRESH_THREADS = 32;
constexpr uint32_t REFRESH_SLAVE = 64;
constexpr uint32_t REFRESH_MASTER = 128;
constexpr uint32_t REFRESH_READ_LOCK = 16384;
constexpr uint32_t REFRESH_FAST = 32768;

// Server status bits.
constexpr uint32_t SERVER_STATUS_IN_TRANS = 1;
constexpr uint32_t SERVER_STATUS_AUTOCOMMIT = 2;
// Another result of the same statement follows this one.
constexpr uint32_t SERVER_MORE_RESULTS_EXISTS = 8;
// The session's sql_mode holds NO_BACKSLASH_ESCAPES: a backslash inside a
// quoted string is an ordinary character.
constexpr uint32_t SERVER_STATUS_NO_BACKSLASH_ESCAPES = 0x200;

constexpr const char* MYSQL_CLIENT_VERSION = "3.23.38";
constexpr uint32_t PROTOCOL_VERSION = 10;

// Client error numbers.
constexpr uint32_t CR_MIN_ERROR = 2000;
constexpr uint32_t CR_UNKNOWN_ERROR = 2000;
constexpr uint32_t CR_SOCKET_CREATE_ERROR = 2001;
constexpr uint32_t CR_CONNECTION_ERROR = 2002;
constexpr uint32_t CR_CONN_HOST_ERROR = 2003;
constexpr uint32_t CR_IPSOCK_ERROR = 2004;
constexpr uint32_t CR_UNKNOWN_HOST = 2005;
constexpr uint32_t CR_SERVER_GONE_ERROR = 2006;
constexpr uint32_t CR_VERSION_ERROR = 2007;
constexpr uint32_t CR_OUT_OF_MEMORY = 2008;
constexpr uint32_t CR_WRONG_HOST_INFO = 2009;
constexpr uint32_t CR_LOCALHOST_CONNECTION = 2010;
constexpr uint32_t CR_TCP_CONNECTION = 2011;
constexpr uint32_t CR_SERVER_HANDSHAKE_ERR = 2012;
constexpr uint32_t CR_SERVER_LOST = 2013;
constexpr uint32_t CR_COMMANDS_OUT_OF_SYNC = 2014;
constexpr uint32_t CR_NAMEDPIPE_CONNECTION = 2015;
constexpr uint32_t CR_NAMEDPIPEWAIT_ERROR = 2016;
constexpr uint32_t CR_NAMEDPIPEOPEN_ERROR = 2017;
constexpr uint32_t CR_NAMEDPIPESETSTATE_ERROR = 2018;
constexpr uint32_t CR_CANT_READ_CHARSET = 2019;
constexpr uint32_t CR_NET_PACKET_TOO_LARGE = 2020;
constexpr uint32_t CR_MAX_ERROR = 2020;
// An authentication plugin the server asks for is unknown to this client.
constexpr uint32_t CR_AUTH_PLUGIN_CANNOT_LOAD = 2059;
// Server number recorded by the packet layer for a packet that is too large.
constexpr uint32_t ER_NET_PACKET_TOO_LARGE = 1153;

// The connect time-out that new sessions start with (and a transport
// opened with time-out 0 takes). Answers to statements are not bound by it:
// a session's read time-out is its own (0, no limit, by default).
extern uint32_t NET_READ_TIMEOUT;

}  // namespace rowset

#endif  // ROWSET_WIRE_UMYSQLCT_H_
