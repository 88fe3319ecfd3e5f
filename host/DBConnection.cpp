#include "host/DBConnection.h"

#include <algorithm>

namespace rowset {

TCustomConnection::TCustomConnection(TComponent* AOwner) : TComponent(AOwner) {}

TCustomConnection::~TCustomConnection() {
  Destroying();
  // The concrete connection has disconnected and detached its clients; the
  // rest are only forgotten (their hooks may already be gone).
  clients_.clear();
  datasets_.clear();
}

TDataSet* TCustomConnection::DataSets(int Index) const {
  if (Index < 0 || Index >= DataSetCount())
    throw EListError("List index out of bounds (" + std::to_string(Index) + ")");
  return datasets_[static_cast<size_t>(Index)];
}

int TCustomConnection::IndexOfClient(const TObject* Object) const {
  for (size_t i = 0; i < clients_.size(); ++i)
    if (clients_[i].object == Object) return static_cast<int>(i);
  return -1;
}

void TCustomConnection::RegisterClient(TObject* Client, TConnectChangeEvent Event) {
  if (Client == nullptr) return;
  int i = IndexOfClient(Client);
  if (i >= 0) {
    clients_[static_cast<size_t>(i)].event = std::move(Event);
    return;
  }
  clients_.push_back(ClientEntry{Client, std::move(Event)});
  if (auto* ds = dynamic_cast<TDataSet*>(Client)) datasets_.push_back(ds);
}

void TCustomConnection::UnRegisterClient(TObject* Client) {
  int i = IndexOfClient(Client);
  if (i < 0) return;
  clients_.erase(clients_.begin() + i);
  datasets_.erase(std::remove(datasets_.begin(), datasets_.end(), Client), datasets_.end());
}

void TCustomConnection::SendConnectEvent(bool Connecting) {
  // Work on a snapshot: a client may unregister itself (or others) when it
  // closes. Each client still registered when its turn comes is called.
  std::vector<TObject*> snapshot;
  snapshot.reserve(clients_.size());
  for (const ClientEntry& c : clients_) snapshot.push_back(c.object);
  for (TObject* object : snapshot) {
    int i = IndexOfClient(object);
    if (i < 0) continue;
    TConnectChangeEvent event = clients_[static_cast<size_t>(i)].event;
    if (event) event(this, Connecting);
    if (IndexOfClient(object) < 0) continue;
    if (auto* ds = dynamic_cast<TDataSet*>(object)) ds->DataEvent(deConnectChange, Connecting ? 1 : 0);
  }
}

void TCustomConnection::SetConnected(bool Value) {
  if (ComponentState().Contains(csReading) && Value) {
    streamed_connected_ = true;
    return;
  }
  if (Value == GetConnected()) return;
  if (Value) {
    if (BeforeConnect) BeforeConnect(this);
    DoConnect();
    SendConnectEvent(true);
    if (AfterConnect) AfterConnect(this);
  } else {
    if (BeforeDisconnect) BeforeDisconnect(this);
    SendConnectEvent(false);
    DoDisconnect();
    if (AfterDisconnect) AfterDisconnect(this);
  }
}

void TCustomConnection::Loaded() {
  TComponent::Loaded();
  bool streamed = streamed_connected_;
  streamed_connected_ = false;
  try {
    if (streamed) SetConnected(true);
  } catch (...) {
    if (ComponentState().Contains(csDesigning))
      ApplicationHandleException(this);
    else
      throw;
  }
}

}  // namespace rowset
