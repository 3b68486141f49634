// The administration module from inside: what its stored definition makes,
// and what the login action does to its components on each way out, against
// the Firebird fixture's server (Server* tests). The answers themselves, byte
// for byte, are checked from outside by tests/main.
#include "admin/WM1.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "admin/MessagePage.h"
#include "cgi/CGIResponse.h"
#include "cgi/StubRequest.h"
#include "db/IBDatabase.h"
#include "support/ExpectedPages.h"
#include "support/FirebirdServer.h"
#include "support/ProgramConfig.h"
#include "support/TempDirectory.h"
#include "templates/PageProducer.h"
#include "web/DataModule.h"
#include "web/WebActionItem.h"

namespace nemvo {
namespace {

using testing::FirebirdServer;
using testing::ProgramConfig;

std::unique_ptr<TWM1> NewModule() { return std::unique_ptr<TWM1>(CreateDataModule<TWM1>()); }

// A form post to `path` with `body`.
std::unique_ptr<testing::TStubRequest> Post(const std::string& body, const std::string& path = "/main") {
  auto request = std::make_unique<testing::TStubRequest>(std::to_string(body.size()), body);
  request->SetField(rfMethod, "POST");
  request->SetField(rfPathInfo, path);
  request->SetField(rfContentType, "application/x-www-form-urlencoded");
  request->SetField(rfProtocolVersion, "HTTP/1.1");
  return request;
}

TEST(WM1, StoredDefinitionPlacesTheActionAndTheComponents) {
  auto module = NewModule();
  EXPECT_EQ(module->Name(), "WM1");
  ASSERT_EQ(module->Actions().Count(), 1);
  TWebActionItem& action = module->Actions().Items(0);
  EXPECT_EQ(action.Name(), "main");
  EXPECT_EQ(action.PathInfo(), "/main");
  EXPECT_EQ(action.MethodType(), mtAny);
  EXPECT_TRUE(action.Enabled());
  EXPECT_FALSE(action.Default());
  EXPECT_EQ(action.Producer(), nullptr);
  EXPECT_EQ(action.ProducerContent(), nullptr);
  EXPECT_TRUE(action.OnAction());
  EXPECT_FALSE(module->BeforeDispatch());
  EXPECT_FALSE(module->AfterDispatch());
  EXPECT_FALSE(module->OnException());

  ASSERT_EQ(module->ComponentCount(), 2);
  ASSERT_NE(module->DB1, nullptr);
  EXPECT_EQ(module->DB1, module->FindComponent("DB1"));
  EXPECT_FALSE(module->DB1->LoginPrompt());
  EXPECT_FALSE(module->DB1->Connected());
  EXPECT_EQ(module->DB1->DatabaseName(), "");
  EXPECT_EQ(module->DB1->Params().Count(), 0);
  EXPECT_EQ(module->DB1->DefaultTransaction(), nullptr);
  EXPECT_EQ(module->DB1->IdleTimer(), 0);
  EXPECT_FALSE(module->DB1->IsLoading());
  ASSERT_NE(module->PageProducer1, nullptr);
  EXPECT_EQ(module->PageProducer1->HTMLFile(), "");
  EXPECT_EQ(module->PageProducer1->HTMLDoc().Count(), 0);
  EXPECT_FALSE(module->PageProducer1->OnHTMLTag());
  EXPECT_TRUE(module->PageProducer1->StripParamQuotes());
}

TEST(WM1, FreedComponentsAreForgotten) {
  auto module = NewModule();
  delete module->PageProducer1;
  EXPECT_EQ(module->PageProducer1, nullptr);
  delete module->DB1;
  EXPECT_EQ(module->DB1, nullptr);
}

TEST(WM1, MessagePageIsTheSitesOwn) {
  auto module = NewModule();
  EXPECT_EQ(module->BuildMessagePage(LoginErrorTitle, LoginRejectedText, BackLink(), 0),
            testing::MessagePage(testing::kRejected));
}

// ---- Against the server -------------------------------------------------------

const std::string kTemplate = "<p><#Who a=1>Ol\xE1</p>\r\n";
const std::string kPage = "<p>Ol\xE1</p>\r\n";

class ServerWM1 : public ::testing::Test {
 protected:
  void SetUp() override {
    NEMVO_REQUIRE_FIREBIRD();
    NEMVO_REQUIRE_WRITABLE_CONFIG();
    fTemplate = fDir.Write("main.html", kTemplate);
    UseTemplate(fTemplate);
    fModule = NewModule();
    // What the response held when the connection was closed.
    fModule->DB1->AfterDisconnect = [this](TComponent&) { fAtDisconnect.push_back(fResponse->Content()); };
  }

  void UseTemplate(const std::string& path) {
    ProgramConfig::WriteSection("DBSuporte=" + FirebirdServer::Database() + "\nMainHTML=" + path + "\n");
  }

  // Runs the action as the dispatcher does, with Handled true.
  bool Login(const std::string& body) {
    fRequest = Post(body);
    fResponse = std::make_unique<TCGIResponse>(*fRequest);
    bool handled = true;
    fModule->WM1loginAction(&fModule->Actions().Items(0), *fRequest, *fResponse, handled);
    return handled;
  }

  void TearDown() override {
    // The module may still be connected: its close reports to the response.
    fModule.reset();
  }

  // The server's count once it is `expected` (the server may take a moment
  // to see a detach), or its last count after a few seconds; with -1 the
  // first count.
  static int SettledAttachments(int expected) {
    int n = -1;
    for (int i = 0; i < 50; ++i) {
      n = FirebirdServer::Attachments(FirebirdServer::DatabasePath());
      if (expected < 0 || n == expected) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return n;
  }

  std::vector<std::string> Params() const {
    std::vector<std::string> lines;
    for (int i = 0; i < fModule->DB1->Params().Count(); ++i) lines.push_back(fModule->DB1->Params()[i]);
    return lines;
  }

  testing::TempDirectory fDir;
  std::string fTemplate;
  std::unique_ptr<TWM1> fModule;
  std::unique_ptr<testing::TStubRequest> fRequest;
  std::unique_ptr<TCGIResponse> fResponse;
  std::vector<std::string> fAtDisconnect;
};

TEST_F(ServerWM1, AcceptedLoginAnswersWithTheMainPageAndLeavesTheCloseToTheModulesRelease) {
  const std::string user = FirebirdServer::User(), password = FirebirdServer::Password();
  const int before = SettledAttachments(-1);
  ASSERT_GE(before, 0) << "the server's attachments cannot be counted";
  EXPECT_TRUE(Login("u=" + user + "&p=" + password));
  EXPECT_EQ(fResponse->Content(), kPage);
  EXPECT_EQ(fResponse->StatusCode(), 200);
  EXPECT_EQ(fResponse->ContentType(), "text/html");
  // Open still: the host frees the module, which closes it, after the answer.
  EXPECT_TRUE(fModule->DB1->Connected());
  EXPECT_TRUE(fAtDisconnect.empty());
  EXPECT_EQ(FirebirdServer::Attachments(FirebirdServer::DatabasePath()), before + 1);
  EXPECT_EQ(fModule->DB1->DatabaseName(), FirebirdServer::Database());
  EXPECT_EQ(Params(), (std::vector<std::string>{"user_name=" + user, "password=" + password}));
  EXPECT_EQ(fModule->PageProducer1->HTMLFile(), fTemplate);

  // The same module serves a second request with what the file says then;
  // the first request's connection is closed before the second one's opens.
  const std::string other = fDir.Write("other.html", "<#x>second");
  UseTemplate(other);
  EXPECT_TRUE(Login("u=" + user + "&p=" + password));
  EXPECT_EQ(fResponse->Content(), "second");
  EXPECT_EQ(fAtDisconnect, std::vector<std::string>{""}) << "closed before the second page was made";
  EXPECT_TRUE(fModule->DB1->Connected());
  EXPECT_EQ(FirebirdServer::Attachments(FirebirdServer::DatabasePath()), before + 1);

  fModule.reset();
  EXPECT_EQ(fAtDisconnect, (std::vector<std::string>{"", "second"}));
  EXPECT_EQ(SettledAttachments(before), before);
}

TEST_F(ServerWM1, RejectedLoginAnswersWithTheMessagePage) {
  EXPECT_TRUE(Login("u=" + FirebirdServer::User() + "&p=wrong"));
  EXPECT_EQ(fResponse->Content(), testing::MessagePage(testing::kRejected));
  EXPECT_FALSE(fModule->DB1->Connected());
  EXPECT_TRUE(fAtDisconnect.empty()) << "never connected, so never disconnected";
  EXPECT_EQ(Params(), (std::vector<std::string>{"user_name=" + FirebirdServer::User(), "password=wrong"}));
  EXPECT_EQ(fModule->PageProducer1->HTMLFile(), "") << "the template is looked up only after a login";
}

TEST_F(ServerWM1, MissingTemplateClosesTheConnectionBeforeAnswering) {
  const std::string missing = fDir.PathOf("missing.html");
  UseTemplate(missing);
  EXPECT_TRUE(Login("u=" + FirebirdServer::User() + "&p=" + FirebirdServer::Password()));
  EXPECT_EQ(fAtDisconnect, std::vector<std::string>{""}) << "closed before the page was set";
  EXPECT_FALSE(fModule->DB1->Connected());
  EXPECT_EQ(fResponse->Content(),
            testing::MessagePage(testing::Escaped("Cannot open file \"" + missing + "\". No such file or directory")));
}

TEST_F(ServerWM1, ExceptionsOfOtherKindsPassOn) {
  fModule->PageProducer1->SetOnHTMLTag([](TObject*, TTag, const std::string&, TStringList&, std::string&) {
    throw std::runtime_error("not one of ours");
  });
  const int before = FirebirdServer::Attachments(FirebirdServer::DatabasePath());
  EXPECT_THROW(Login("u=" + FirebirdServer::User() + "&p=" + FirebirdServer::Password()), std::runtime_error);
  EXPECT_EQ(fResponse->Content(), "");
  // The action left the connection open; freeing the module closes it.
  EXPECT_TRUE(fModule->DB1->Connected());
  EXPECT_TRUE(fAtDisconnect.empty());
  fModule.reset();
  EXPECT_EQ(fAtDisconnect, std::vector<std::string>{""});
  ASSERT_GE(before, 0) << "the server's attachments cannot be counted";
  EXPECT_EQ(SettledAttachments(before), before);
}

TEST_F(ServerWM1, RoutingReachesTheActionOnlyAtMain) {
  fRequest = Post("u=" + FirebirdServer::User() + "&p=" + FirebirdServer::Password(), "/other");
  fResponse = std::make_unique<TCGIResponse>(*fRequest);
  EXPECT_FALSE(fModule->RouteRequest(*fRequest, *fResponse));
  EXPECT_EQ(fResponse->Content(), "");
  EXPECT_EQ(fModule->DB1->DatabaseName(), "") << "the action did not run";

  fRequest = Post("u=" + FirebirdServer::User() + "&p=" + FirebirdServer::Password(), "/MAIN");
  fResponse = std::make_unique<TCGIResponse>(*fRequest);
  EXPECT_TRUE(fModule->RouteRequest(*fRequest, *fResponse));
  EXPECT_EQ(fResponse->Content(), kPage);
}

}  // namespace
}  // namespace nemvo
