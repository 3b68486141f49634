#include "web/WebActionItem.h"

#include <gtest/gtest.h>

#include "cgi/CGIResponse.h"
#include "cgi/WebException.h"
#include "web/CustomContentProducer.h"
#include "web/Mask.h"
#include "web/TestRequest.h"
#include "web/WebModule.h"

namespace nemvo {
namespace {

using testing::TTestRequest;

class TNamedProducer : public TCustomContentProducer {
  NEMVO_COMPONENT(TNamedProducer, TCustomContentProducer)
 public:
  explicit TNamedProducer(TComponent* owner) : TCustomContentProducer(owner) {}
  std::string ProduceContent() override { return "from " + Name(); }
};

// Offers the content-producing interface without being a content producer.
class TPlainContent : public TComponent, public IProduceContent {
  NEMVO_COMPONENT(TPlainContent, TComponent)
 public:
  explicit TPlainContent(TComponent* owner) : TComponent(owner) {}
  std::string ProduceContent() override { return "plain content"; }
  std::string ProduceFromStream(TStream&) override { return {}; }
  std::string ProduceFromString(const std::string&) override { return {}; }
};

class WebActionItemTest : public ::testing::Test {
 protected:
  std::unique_ptr<TWebModule> module{CreateDataModule<TWebModule>()};
  TWebActionItems& actions = module->Actions();

  // A producer named Page1 and a component that only offers the producing
  // interface, both on the module, and two new actions.
  struct Placed {
    TNamedProducer* producer;
    TPlainContent* content;
    TWebActionItem& a;
    TWebActionItem& b;
  };
  Placed PlaceProducers() {
    auto* producer = CreateOwned<TNamedProducer>(module.get());
    producer->SetName("Page1");
    auto* content = CreateOwned<TPlainContent>(module.get());
    TWebActionItem& a = actions.Add();
    TWebActionItem& b = actions.Add();
    return {producer, content, a, b};
  }
};

TEST_F(WebActionItemTest, PathInfoIsKeptInNormalForm) {
  struct Case {
    std::string before, set, stored;
  };
  const Case cases[] = {
      {"", "main", "/main"},
      {"", "\\admin\\main", "/admin/main"},
      {"", "/main", "/main"},
      {"/main", "/MAIN", "/main"},           // a change of case alone is not stored
      {"/caf\xE9", "/CAF\xC9", "/caf\xE9"},  // also beyond A to Z
      {"/main", "/other", "/other"},
      {"/main", "", ""},
      {"", "admin/", "/admin/"},
  };
  for (const auto& c : cases) {
    TWebActionItem& action = actions.Add();
    action.SetPathInfo(c.before);
    action.SetPathInfo(c.set);
    EXPECT_EQ(action.PathInfo(), c.stored) << "setting '" << c.set << "' over '" << c.before << "'";
  }
}

TEST_F(WebActionItemTest, ProducerGivesThePathWhenNoneIsStored) {
  auto* producer = CreateOwned<TNamedProducer>(module.get());
  producer->SetName("Page1");
  TWebActionItem& action = actions.Add();
  action.SetProducer(producer);
  EXPECT_EQ(action.PathInfo(), "/Page1");
  action.SetPathInfo("Page1");  // its own path: nothing stored
  EXPECT_EQ(action.StoredPathInfo(), "");
  action.SetPathInfo("/page1");  // letter case counts here
  EXPECT_EQ(action.StoredPathInfo(), "/page1");
  EXPECT_EQ(action.PathInfo(), "/page1");
}

TEST_F(WebActionItemTest, NewActionsTakeTheFirstFreeNumber) {
  TWebActionItem& first = actions.Add();
  TWebActionItem& second = actions.Add();
  EXPECT_EQ(first.Name(), "WebActionItem1");
  EXPECT_EQ(second.Name(), "WebActionItem2");
  first.SetName("main");
  EXPECT_EQ(actions.Add().Name(), "WebActionItem1");
  actions.Items(2).SetName("WEBACTIONITEM3");  // now main, WebActionItem2, WEBACTIONITEM3
  EXPECT_EQ(actions.Add().Name(), "WebActionItem1");
  EXPECT_EQ(actions.Insert(0).Name(), "WebActionItem4");
  EXPECT_EQ(actions.Items(0).Name(), "WebActionItem4");
}

TEST_F(WebActionItemTest, NamesAreUniqueByRegionalCaseRules) {
  TWebActionItem& main = actions.Add();
  main.SetName("main");
  main.SetName("Main");
  EXPECT_EQ(main.Name(), "main");
  TWebActionItem& other = actions.Add();
  EXPECT_THROW(
      try { other.SetName("MAIN"); } catch (const EWebException& e) {
        EXPECT_EQ(e.Message(), "Duplicate action name");
        throw;
      },
      EWebException);
  EXPECT_EQ(other.Name(), "WebActionItem1");
  main.SetName("caf\xE9");
  EXPECT_THROW(other.SetName("CAF\xC9"), EWebException);
  other.SetName("main");  // free again
  EXPECT_EQ(actions.FindItemByName("MAIN"), &other);
}

TEST_F(WebActionItemTest, OneDefaultActionPerCollection) {
  TWebActionItem& a = actions.Add();
  TWebActionItem& b = actions.Add();
  a.SetDefault(true);
  b.SetDefault(true);
  EXPECT_FALSE(a.Default());
  EXPECT_TRUE(b.Default());
  b.SetDefault(false);
  EXPECT_FALSE(a.Default() || b.Default());
}

TEST_F(WebActionItemTest, ProducersExcludeEachOtherAndAreDroppedWhenFreed) {
  auto [producer, content, a, b] = PlaceProducers();
  a.SetProducer(producer);
  b.SetProducer(producer);
  a.SetProducerContent(content);
  EXPECT_EQ(a.Producer(), nullptr);
  EXPECT_EQ(a.ProducerContent(), content);
  a.SetProducer(producer);
  EXPECT_EQ(a.ProducerContent(), nullptr);

  delete producer;
  EXPECT_EQ(a.Producer(), nullptr);
  EXPECT_EQ(b.Producer(), nullptr);
  EXPECT_EQ(b.PathInfo(), "");

  // A component that is not the module's own is watched too.
  auto outside = std::make_unique<TPlainContent>(nullptr);
  b.SetProducerContent(outside.get());
  outside.reset();
  EXPECT_EQ(b.ProducerContent(), nullptr);
}

// Moving a producer to another owner, or taking it off the module, does not
// free it: the actions keep it, and drop it when it is destroyed.
TEST_F(WebActionItemTest, ProducersThatMoveAreKeptUntilDestroyed) {
  for (bool toAnotherOwner : {true, false}) {
    auto [producer, content, a, b] = PlaceProducers();
    a.SetProducer(producer);
    b.SetProducerContent(content);
    auto other = std::make_unique<TComponent>(nullptr);
    std::unique_ptr<TComponent> taken[2];
    if (toAnotherOwner) {
      other->InsertComponent(producer);
      other->InsertComponent(content);
    } else {
      module->RemoveComponent(producer);
      module->RemoveComponent(content);
      taken[0].reset(producer);
      taken[1].reset(content);
    }
    EXPECT_EQ(a.Producer(), producer) << toAnotherOwner;
    EXPECT_EQ(b.ProducerContent(), content) << toAnotherOwner;
    TTestRequest request("GET", "/Page1");
    TCGIResponse response(request);
    EXPECT_TRUE(a.TryAction(request, response, false));
    EXPECT_EQ(response.Content(), "from Page1");

    other.reset();
    taken[0].reset();
    taken[1].reset();
    EXPECT_EQ(a.Producer(), nullptr) << toAnotherOwner;
    EXPECT_EQ(b.ProducerContent(), nullptr) << toAnotherOwner;
    actions.Clear();
  }
}

TEST_F(WebActionItemTest, AssignCopiesTheRoutingOnly) {
  auto* producer = CreateOwned<TNamedProducer>(module.get());
  producer->SetName("Page1");
  TWebActionItem& source = actions.Add();
  source.SetName("source");
  source.SetProducer(producer);
  source.SetMethodType(mtPost);
  source.SetEnabled(false);
  source.SetDefault(true);
  source.SetOnAction([](TObject*, TWebRequest&, TWebResponse&, bool&) {});
  TWebActionItem& copy = actions.Add();
  copy.Assign(source);
  EXPECT_TRUE(copy.Default());
  EXPECT_FALSE(source.Default());  // still one default per collection
  EXPECT_EQ(copy.StoredPathInfo(), "/Page1");
  EXPECT_FALSE(copy.Enabled());
  EXPECT_EQ(copy.MethodType(), mtPost);
  EXPECT_EQ(copy.Name(), "WebActionItem1");
  EXPECT_EQ(copy.Producer(), nullptr);
  EXPECT_FALSE(copy.OnAction());
}

TEST_F(WebActionItemTest, MaskIsBuiltWhenFirstTestedAndRebuiltWhenThePathChanges) {
  TWebActionItem& action = actions.Add();
  action.SetPathInfo("/main");
  action.SetOnAction([](TObject*, TWebRequest&, TWebResponse&, bool&) {});
  EXPECT_EQ(action.PathMask(), nullptr);

  TTestRequest disabled("GET", "/main");
  TCGIResponse disabledResponse(disabled);
  action.SetEnabled(false);
  EXPECT_FALSE(action.TryAction(disabled, disabledResponse, false));
  EXPECT_EQ(action.PathMask(), nullptr);  // not reached the mask test
  action.SetEnabled(true);

  TTestRequest request("GET", "/MAIN");
  TCGIResponse response(request);
  EXPECT_TRUE(action.TryAction(request, response, false));
  const TMask* built = action.PathMask();
  ASSERT_NE(built, nullptr);
  EXPECT_EQ(action.MaskSource(), "/main");
  EXPECT_TRUE(action.TryAction(request, response, false));
  EXPECT_EQ(action.PathMask(), built);

  action.SetPathInfo("/other");
  EXPECT_FALSE(action.TryAction(request, response, false));
  EXPECT_EQ(action.MaskSource(), "/other");

  // A path that is no valid mask keeps the mask that was.
  action.SetPathInfo("/x[");
  EXPECT_THROW(action.TryAction(request, response, false), EMaskException);
  EXPECT_EQ(action.MaskSource(), "/other");
  EXPECT_NE(action.PathMask(), nullptr);
}

TEST_F(WebActionItemTest, TryActionProducesThenCallsTheHandler) {
  auto* producer = CreateOwned<TNamedProducer>(module.get());
  producer->SetName("Page1");
  auto* content = CreateOwned<TComponent>(module.get());  // offers no content
  TTestRequest request("POST", "/Page1");
  TCGIResponse response(request);

  TWebActionItem& action = actions.Add();
  EXPECT_FALSE(action.TryAction(request, response, true)) << "neither producer nor handler";
  action.SetProducer(producer);
  EXPECT_TRUE(action.TryAction(request, response, false));
  EXPECT_EQ(response.Content(), "from Page1");

  action.SetProducerContent(content);
  action.SetPathInfo("/Page1");
  response.SetContent("");
  EXPECT_FALSE(action.TryAction(request, response, false));
  auto* plain = CreateOwned<TPlainContent>(module.get());
  action.SetProducerContent(plain);
  EXPECT_TRUE(action.TryAction(request, response, false));
  EXPECT_EQ(response.Content(), "plain content");

  std::string seen;
  TObject* sender = nullptr;
  action.SetOnAction([&](TObject* s, TWebRequest&, TWebResponse& r, bool& handled) {
    sender = s;
    seen = r.Content();
    EXPECT_TRUE(handled);
    handled = false;
  });
  EXPECT_FALSE(action.TryAction(request, response, false));
  EXPECT_EQ(seen, "plain content");
  EXPECT_EQ(sender, &action);
}

TEST_F(WebActionItemTest, ActionsAreReorderedAndRemoved) {
  for (const char* n : {"a", "b", "c"}) actions.Add().SetName(n);
  actions.Move(0, 2);
  EXPECT_EQ(actions[0].Name() + actions[1].Name() + actions[2].Name(), "bca");
  EXPECT_EQ(actions[2].Index(), 2);
  actions.Delete(1);
  EXPECT_EQ(actions.Count(), 2);
  EXPECT_EQ(actions.FindItemByName("c"), nullptr);
  EXPECT_THROW(actions.Delete(5), std::out_of_range);
  actions.Clear();
  EXPECT_EQ(actions.Count(), 0);
}

}  // namespace
}  // namespace nemvo
