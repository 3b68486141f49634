#include "base/Component.h"

#include <gtest/gtest.h>

#include "base/Exception.h"

namespace nemvo {
namespace {

class TProbe : public TComponent {
  NEMVO_COMPONENT(TProbe, TComponent)
 public:
  explicit TProbe(TComponent* owner) : TComponent(owner) {}
  ~TProbe() override { if (log) log->push_back(Name()); }
  std::vector<std::string>* log = nullptr;
  TComponent* referent = nullptr;

 protected:
  void Notification(TComponent* c, TOperation op) override {
    TComponent::Notification(c, op);
    if (op == opRemove && c == referent) referent = nullptr;
  }
};

TEST(Component, OwnerFreesChildrenLastCreatedFirst) {
  std::vector<std::string> log;
  {
    auto owner = std::make_unique<TComponent>();
    for (const char* n : {"A", "B", "C"}) {
      auto* p = CreateOwned<TProbe>(owner.get());
      p->SetName(n);
      p->log = &log;
    }
    EXPECT_EQ(owner->ComponentCount(), 3);
    EXPECT_EQ(owner->FindComponent("b")->Name(), "B");
  }
  EXPECT_EQ(log, (std::vector<std::string>{"C", "B", "A"}));
}

TEST(Component, SiblingLosesReferenceWhenReferentIsFreed) {
  TComponent owner;
  auto* a = CreateOwned<TProbe>(&owner);
  auto* b = CreateOwned<TProbe>(&owner);
  a->referent = b;
  delete b;
  EXPECT_EQ(a->referent, nullptr);
  EXPECT_EQ(owner.ComponentCount(), 1);

  TProbe outsider(nullptr);
  auto* c = CreateOwned<TProbe>(&owner);
  outsider.referent = c;
  outsider.FreeNotification(c);
  delete c;
  EXPECT_EQ(outsider.referent, nullptr);
}

TEST(Component, NamesAreIdentifiersUniqueUnderOneOwner) {
  TComponent owner;
  auto* a = CreateOwned<TProbe>(&owner);
  auto* b = CreateOwned<TProbe>(&owner);
  a->SetName("DB1");
  EXPECT_THROW(b->SetName("db1"), EComponentError);
  EXPECT_THROW(b->SetName("1abc"), EComponentError);
  b->SetName("PageProducer1");
  EXPECT_EQ(b->Name(), "PageProducer1");
  EXPECT_TRUE(a->InheritsFrom(TComponent::StaticClass()));
  EXPECT_STREQ(a->ClassName(), "TProbe");
}

}  // namespace
}  // namespace nemvo
