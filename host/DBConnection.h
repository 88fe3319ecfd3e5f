// TCustomConnection: the base of connection components.
//
// Connected routes to the overridable DoConnect / DoDisconnect /
// GetConnected. Clients (datasets and other objects) register with a
// connect-event callback; the connection calls every callback after it has
// connected and before it disconnects, and sends each registered dataset a
// deConnectChange data event. A dataset closes itself in its callback when
// the connection goes down.
//
// While the component is being streamed in, setting Connected to true is
// only recorded; Loaded then connects (at design time a failure goes to the
// application's exception handler, at run time it propagates).
//
// Destruction: a concrete connection disconnects (Close) in its own
// destructor while DoDisconnect still exists, and detaches its clients. The
// base destructor only forgets the clients that are still registered; a
// client that keeps a pointer to the connection asks for FreeNotification.
#ifndef ROWSET_HOST_DBCONNECTION_H_
#define ROWSET_HOST_DBCONNECTION_H_

#include <functional>
#include <vector>

#include "host/Classes.h"
#include "host/DB.h"

namespace rowset {

using TConnectChangeEvent = std::function<void(TObject* Sender, bool Connecting)>;

class TCustomConnection : public TComponent {
 public:
  explicit TCustomConnection(TComponent* AOwner = nullptr);
  ~TCustomConnection() override;

  bool Connected() { return GetConnected(); }
  void Open() { SetConnected(true); }
  void Close() { SetConnected(false); }

  bool LoginPrompt() const { return login_prompt_; }
  void SetLoginPrompt(bool Value) { login_prompt_ = Value; }

  // The registered clients that are datasets, in registration order.
  TDataSet* DataSets(int Index) const;
  int DataSetCount() const { return static_cast<int>(datasets_.size()); }
  int ClientCount() const { return static_cast<int>(clients_.size()); }

  // Registers Client (again: its event is replaced). Event may be empty.
  virtual void RegisterClient(TObject* Client, TConnectChangeEvent Event = nullptr);
  virtual void UnRegisterClient(TObject* Client);
  // Calls each registered client's event with Connecting, then sends a
  // registered dataset deConnectChange. Clients that unregister (or
  // register others) during the calls are handled: each client still
  // registered is called once.
  void SendConnectEvent(bool Connecting);

  // With Value true: BeforeConnect, DoConnect, SendConnectEvent(true),
  // AfterConnect; with false: BeforeDisconnect, SendConnectEvent(false),
  // DoDisconnect, AfterDisconnect. Nothing when Value equals Connected.
  virtual void SetConnected(bool Value);
  virtual bool GetConnected() { return false; }

  TNotifyEvent BeforeConnect, AfterConnect, BeforeDisconnect, AfterDisconnect;

 protected:
  virtual void DoConnect() {}
  virtual void DoDisconnect() {}
  void Loaded() override;
  bool StreamedConnected() const { return streamed_connected_; }
  void SetStreamedConnected(bool Value) { streamed_connected_ = Value; }

 private:
  struct ClientEntry {
    TObject* object;
    TConnectChangeEvent event;
  };
  int IndexOfClient(const TObject* Object) const;

  bool login_prompt_ = false;
  bool streamed_connected_ = false;
  std::vector<ClientEntry> clients_;
  std::vector<TDataSet*> datasets_;
};

}  // namespace rowset

#endif  // ROWSET_HOST_DBCONNECTION_H_
