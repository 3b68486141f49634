#pragma once
// A fixture with a trace channel of the test's own, so that nothing else on
// the machine writes into it; its objects are removed at the end.
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "db/TraceChannel.h"
#include "platform/SharedChannel.h"

namespace nemvo::testing {

class OwnTraceChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    fName = std::string("nemvo-test.") + info->name() + "." + std::to_string(getpid());
    fChannel = TTraceChannel::Open(fName);
  }
  void TearDown() override { platform::RemoveSharedChannel(TTraceChannel::ObjectNames(fName)); }

  std::string fName;
  std::unique_ptr<TTraceChannel> fChannel;
};

}  // namespace nemvo::testing
