// The connection base: the order of the connect and disconnect steps, the
// clients told of each, and what an exception leaves undone.
#include "db/CustomConnection.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/Exception.h"

using namespace nemvo;

namespace {

std::vector<std::string> steps;

// A connection whose attach and detach only record themselves (or fail).
class TFakeConnection : public TCustomConnection {
 public:
  using TCustomConnection::TCustomConnection;
  bool ReadConnected() override { return fOpen; }
  bool failEstablish = false;
  bool failRelease = false;

 protected:
  void EstablishConnection() override {
    steps.push_back("Establish");
    if (failEstablish) throw Exception("no");
    fOpen = true;
  }
  void ReleaseConnection() override {
    steps.push_back("Release");
    if (failRelease) throw Exception("no");
    fOpen = false;
  }

 private:
  bool fOpen = false;
};

class TFakeDataSet : public TComponent, public IConnectionDataSet {
 public:
  using TComponent::TComponent;
  void ConnectChanged(TCustomConnection&, bool connecting) override {
    steps.push_back(std::string("DataSet ") + (connecting ? "open" : "close"));
  }
};

class CustomConnection : public ::testing::Test {
 protected:
  void SetUp() override {
    steps.clear();
    auto record = [](const char* name) { return [name](TComponent&) { steps.push_back(name); }; };
    conn.BeforeConnect = record("BeforeConnect");
    conn.AfterConnect = record("AfterConnect");
    conn.BeforeDisconnect = record("BeforeDisconnect");
    conn.AfterDisconnect = record("AfterDisconnect");
  }
  TFakeConnection conn;
};

using Steps = std::vector<std::string>;

}  // namespace

TEST_F(CustomConnection, StepsInOrderAndOnlyOnChange) {
  conn.SetConnected(false);
  EXPECT_TRUE(steps.empty());
  conn.SetConnected(true);
  conn.SetConnected(true);
  EXPECT_EQ((Steps{"BeforeConnect", "Establish", "AfterConnect"}), steps);
  steps.clear();
  conn.CloseConnection();
  conn.CloseConnection();
  EXPECT_EQ((Steps{"BeforeDisconnect", "Release", "AfterDisconnect"}), steps);
}

TEST_F(CustomConnection, FailedStepLeavesTheRestUndone) {
  conn.failEstablish = true;
  EXPECT_THROW(conn.OpenConnection(), Exception);
  EXPECT_EQ((Steps{"BeforeConnect", "Establish"}), steps);
  EXPECT_FALSE(conn.Connected());

  conn.failEstablish = false;
  conn.OpenConnection();
  steps.clear();
  conn.failRelease = true;
  EXPECT_THROW(conn.CloseConnection(), Exception);
  EXPECT_EQ((Steps{"BeforeDisconnect", "Release"}), steps);
  EXPECT_TRUE(conn.Connected());
}

TEST_F(CustomConnection, ClientsHearOfConnectAndDisconnect) {
  TComponent plain;
  auto dataSet = std::make_unique<TFakeDataSet>();
  auto callback = [](TComponent& client, TCustomConnection&, bool connecting) {
    steps.push_back(client.Name() + (connecting ? " open" : " close"));
  };
  plain.SetName("Plain");
  dataSet->SetName("Data");
  conn.AddClient(&plain, callback);
  conn.AddClient(dataSet.get(), callback);
  conn.AddClient(dataSet.get(), callback);  // once only
  EXPECT_EQ(2, conn.ClientCount());
  EXPECT_EQ(1, conn.DataSetCount());
  EXPECT_EQ(dataSet.get(), conn.DataSets(0));

  conn.SetConnected(true);
  EXPECT_EQ((Steps{"BeforeConnect", "Establish", "Plain open", "Data open", "DataSet open", "AfterConnect"}), steps);

  // A client that is freed leaves the list by itself.
  dataSet.reset();
  EXPECT_EQ(1, conn.ClientCount());
  EXPECT_EQ(0, conn.DataSetCount());
  steps.clear();
  conn.SetConnected(false);
  EXPECT_EQ((Steps{"BeforeDisconnect", "Plain close", "Release", "AfterDisconnect"}), steps);

  conn.RemoveClient(&plain);
  EXPECT_EQ(0, conn.ClientCount());
}

TEST_F(CustomConnection, ClientRemovedByAnotherClientsCallbackIsSkipped) {
  TComponent first, second;
  first.SetName("First");
  second.SetName("Second");
  conn.AddClient(&first, [&](TComponent&, TCustomConnection& c, bool) {
    steps.push_back("First");
    c.RemoveClient(&second);
  });
  conn.AddClient(&second, [](TComponent&, TCustomConnection&, bool) { steps.push_back("Second"); });
  conn.SetConnected(true);
  EXPECT_EQ((Steps{"BeforeConnect", "Establish", "First", "AfterConnect"}), steps);
}

TEST_F(CustomConnection, StoredConnectedWaitsForTheEndOfLoading) {
  conn.BeginLoading();
  conn.SetConnected(true);
  EXPECT_TRUE(steps.empty());
  conn.EndLoading();
  EXPECT_EQ((Steps{"BeforeConnect", "Establish", "AfterConnect"}), steps);
  EXPECT_TRUE(conn.Connected());
}
