// Runs a query on a worker thread, on a connection of its own, and receives
// the result on the main thread as a posted message; the main thread pumps
// messages meanwhile (a real program would keep its user interface going).
//   worker_thread HOST PORT USER PASSWORD [SQL]
#include <cstdio>
#include <exception>
#include <memory>
#include <string>

#include <rowset/rowset.h>

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: worker_thread HOST PORT USER PASSWORD [SQL]\n");
    return 2;
  }
  try {
    rowset::TMySQLServer server;
    server.SetHost(argv[1]);
    server.SetPort(static_cast<uint16_t>(std::stoi(argv[2])));
    server.SetUserName(argv[3]);
    server.SetPassword(argv[4]);
    server.Connect();

    // A receiver on the main thread: the worker posts the opened dataset (or
    // the text of its error) here. Both payloads belong to the receiver.
    const uint32_t kAnswer = rowset::WM_USER + 500;
    std::unique_ptr<rowset::TMySQLDataset> result;
    std::string error;
    rowset::HWND receiver = rowset::AllocateHWnd([&](rowset::TMessage& m) {
      if (m.Msg == kAnswer) result = rowset::TakeMySQLThreadDataset(m.LParam);
      if (m.Msg == rowset::WM_MYSQL_THREAD_EXCEPTION) error = rowset::TakeMySQLThreadText(m.LParam);
    });

    const std::string sql = argc > 5 ? argv[5] : "select version()";
    rowset::ThreadSQLAnswer(&server, sql, receiver, kAnswer, 0);
    // Pump until the worker has ended (its messages are then all here).
    rowset::Application.ProcessMessagesUntil([] { return rowset::MySQLThreadCount() == 0; },
                                             rowset::INFINITE);
    rowset::Application.ProcessMessages();
    rowset::DeallocateHWnd(receiver);

    if (!result) {
      std::fprintf(stderr, "worker_thread: %s\n", error.c_str());
      return 1;
    }
    for (result->First(); !result->Eof(); result->Next()) {
      for (int i = 0; i < result->FieldCount(); ++i) {
        rowset::TField* field = result->Fields()[i];
        std::printf("%s%s", i ? " | " : "", field->IsNull() ? "NULL" : field->AsString().c_str());
      }
      std::printf("\n");
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "worker_thread: %s\n", e.what());
    return 1;
  }
  return 0;
}
