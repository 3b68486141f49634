#include "web/CustomContentProducer.h"

#include <gtest/gtest.h>

#include "base/Stream.h"

namespace nemvo {
namespace {

class TEchoProducer : public TCustomContentProducer {
  NEMVO_COMPONENT(TEchoProducer, TCustomContentProducer)
 public:
  explicit TEchoProducer(TComponent* owner) : TCustomContentProducer(owner) {}
  std::string ProduceContent() override { return "made"; }
};

TEST(CustomContentProducer, BaseProducesNothingAndFallsBackToProduceContent) {
  TCustomContentProducer base;
  TStringStream source("ignored");
  EXPECT_EQ(base.ProduceContent(), "");
  EXPECT_EQ(base.ProduceFromStream(source), "");
  EXPECT_EQ(base.ProduceFromString("ignored"), "");

  TEchoProducer echo(nullptr);
  IProduceContent& produce = echo;
  EXPECT_EQ(produce.ProduceFromStream(source), "made");
  EXPECT_EQ(produce.ProduceFromString("ignored"), "made");
  EXPECT_EQ(echo.HostModule(), nullptr);
}

}  // namespace
}  // namespace nemvo
