#include "db/CustomConnection.h"

#include <algorithm>

namespace nemvo {

TCustomConnection::TCustomConnection(TComponent* owner) : TComponent(owner) {}

TCustomConnection::~TCustomConnection() {
  for (const Client& c : fClients) RemoveFreeNotification(c.component);
}

void TCustomConnection::AddClient(TComponent* client, TConnectChangeEvent event) {
  if (!client) return;
  for (Client& c : fClients)
    if (c.component == client) {
      c.event = std::move(event);
      return;
    }
  fClients.push_back(Client{client, std::move(event), dynamic_cast<IConnectionDataSet*>(client)});
  FreeNotification(client);
}

void TCustomConnection::RemoveClient(TComponent* client) {
  auto it = std::find_if(fClients.begin(), fClients.end(), [&](const Client& c) { return c.component == client; });
  if (it == fClients.end()) return;
  fClients.erase(it);
  RemoveFreeNotification(client);
}

TComponent* TCustomConnection::ReadDataSet(int index) {
  int n = 0;
  for (const Client& c : fClients)
    if (c.dataSet && n++ == index) return c.component;
  return nullptr;
}

int TCustomConnection::ReadDataSetCount() {
  return int(std::count_if(fClients.begin(), fClients.end(), [](const Client& c) { return c.dataSet != nullptr; }));
}

void TCustomConnection::NotifyClients(bool connecting) {
  // A callback may remove clients; walk a copy and skip those that left.
  std::vector<Client> clients = fClients;
  for (const Client& c : clients) {
    bool still = std::any_of(fClients.begin(), fClients.end(),
                             [&](const Client& x) { return x.component == c.component; });
    if (!still) continue;
    if (c.event) c.event(*c.component, *this, connecting);
    if (c.dataSet) c.dataSet->ConnectChanged(*this, connecting);
  }
}

void TCustomConnection::WriteConnected(bool value) {
  if (IsLoading() && value) {
    fStreamedConnected = true;
    return;
  }
  if (value == ReadConnected()) return;
  if (value) {
    FireEvent(BeforeConnect);
    EstablishConnection();
    NotifyClients(true);
    FireEvent(AfterConnect);
  } else {
    FireEvent(BeforeDisconnect);
    NotifyClients(false);
    ReleaseConnection();
    FireEvent(AfterDisconnect);
  }
}

void TCustomConnection::Loaded() {
  TComponent::Loaded();
  if (fStreamedConnected) {
    fStreamedConnected = false;
    WriteConnected(true);
  }
}

void TCustomConnection::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == opRemove) {
    auto it = std::find_if(fClients.begin(), fClients.end(), [&](const Client& c) { return c.component == component; });
    if (it != fClients.end()) fClients.erase(it);
  }
}

}  // namespace nemvo
