// Linked into a second build of the web test program: registers the test
// module's class name once more, as two libraries that both register a
// class of one name would. The program must still answer, with the server
// error page, instead of ending before main.
#include "base/ClassRegistry.h"
#include "web/TestWebModule.h"

namespace {
[[maybe_unused]] const bool registeredAgain = nemvo::RegisterClass({
    .Name = "TTestWebModule",
    .ComponentClass = &nemvo::testing::TTestWebModule::StaticClass(),
});
}  // namespace
