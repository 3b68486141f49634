#pragma once
// What every connection component has: the Connected property with its four
// events, the login-prompt switch, and the clients that want to hear when the
// connection opens or closes.
#include <functional>
#include <vector>

#include "base/Component.h"

namespace nemvo {

class TCustomConnection;

// Told when its connection opens (true) or closes (false).
using TConnectChangeEvent = std::function<void(TComponent& client, TCustomConnection& connection, bool connecting)>;

// A client that shows data from the connection. Besides its own callback it
// hears of every connect and disconnect, so it can open or close with it.
class IConnectionDataSet {
 public:
  virtual void ConnectChanged(TCustomConnection& connection, bool connecting) = 0;

 protected:
  ~IConnectionDataSet() = default;
};

class TCustomConnection : public TComponent {
  NEMVO_COMPONENT(TCustomConnection, TComponent)

 public:
  // An event told only who fired it.
  using TNotifyEvent = std::function<void(TComponent& sender)>;

  explicit TCustomConnection(TComponent* owner = nullptr);
  ~TCustomConnection() override;

  bool Connected() { return ReadConnected(); }
  void SetConnected(bool value) { WriteConnected(value); }
  void OpenConnection() { WriteConnected(true); }
  void CloseConnection() { WriteConnected(false); }

  bool LoginPrompt() const { return fLoginPrompt; }
  void SetLoginPrompt(bool value) { fLoginPrompt = value; }

  TNotifyEvent BeforeConnect;
  TNotifyEvent AfterConnect;
  TNotifyEvent BeforeDisconnect;
  TNotifyEvent AfterDisconnect;

  // Registers `client` (once; a second call replaces its callback). A client
  // leaves the list by RemoveClient or when it is freed.
  virtual void AddClient(TComponent* client, TConnectChangeEvent event);
  virtual void RemoveClient(TComponent* client);
  int ClientCount() const { return int(fClients.size()); }
  int DataSetCount() { return ReadDataSetCount(); }
  TComponent* DataSets(int index) { return ReadDataSet(index); }

  // Opens (true) or closes (false) the connection. While the component's
  // stored definition is being applied, true is only remembered and carried
  // out at the end of loading. Setting the state it already has does nothing.
  virtual void WriteConnected(bool value);
  virtual bool ReadConnected() { return false; }

 protected:
  virtual void EstablishConnection() {}
  virtual void ReleaseConnection() {}
  virtual TComponent* ReadDataSet(int index);
  virtual int ReadDataSetCount();

  void NotifyClients(bool connecting);
  void Loaded() override;
  void Notification(TComponent* component, TOperation operation) override;

  bool StreamedConnected() const { return fStreamedConnected; }
  void SetStreamedConnected(bool value) { fStreamedConnected = value; }
  void FireEvent(const TNotifyEvent& event) {
    if (event) event(*this);
  }

 private:
  struct Client {
    TComponent* component;  // not owned; leaves the list when freed
    TConnectChangeEvent event;
    IConnectionDataSet* dataSet;  // the same component seen as a data set, or null
  };
  std::vector<Client> fClients;
  bool fLoginPrompt = true;
  bool fStreamedConnected = false;
};

}  // namespace nemvo
