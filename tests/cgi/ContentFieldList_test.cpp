#include <gtest/gtest.h>

#include <vector>

#include "base/Exception.h"
#include "cgi/ContentParser.h"
#include "cgi/WebRequest.h"
#include "cgi/StubRequest.h"

namespace nemvo {
namespace {

using Lines = std::vector<std::string>;

using testing::TStubRequest;

struct FieldCase {
  std::string length, content, waiting;
  Lines lines;
};

TEST(ContentFieldList, SplitsTheBodyOnlyForAPositiveLength) {
  const FieldCase cases[] = {
      {"18", "u=admin&p=s%3Dcr+t", "", {"u=admin", "p=s=cr t"}},
      {"0", "u=1", "", {}},
      {"-5", "u=1", "", {}},
      {"abc", "u=1", "", {}},
      {"", "u=1", "", {}},
      // A body shorter than claimed is completed from the input, as far as it goes.
      {"7", "u=1", "&p=2", {"u=1", "p=2"}},
      {"100", "u=1", "&p=2", {"u=1", "p=2"}},
      {"3", "u=1&p=2", "", {"u=1", "p=2"}},
  };
  for (const auto& c : cases) {
    TStubRequest request(c.length, c.content, c.waiting);
    EXPECT_EQ(request.ContentFieldList().Lines(), c.lines) << c.length << " " << c.content;
  }
}

TEST(ContentFieldList, BuiltOnceAndTheSameListLater) {
  TStubRequest request("7", "u=1", "&p=2");
  TStringList& first = request.ContentFieldList();
  TStringList& second = request.ContentFieldList();
  EXPECT_EQ(&first, &second);
  EXPECT_EQ(request.fReads, 1);
}

TEST(ContentFieldList, DecodingErrorRaisesOnceAndKeepsThePartialList) {
  TStubRequest request("14", "a=1&b=%zz&c=3");
  EXPECT_THROW(request.ContentFieldList(), EConvertError);
  EXPECT_EQ(request.ContentFieldList().Lines(), (Lines{"a=1"}));
}

// A registered parser class is asked before the default one; the last
// registered first.
std::unique_ptr<TAbstractContentParser> MakeFixedParser(TWebRequest& request);
class TFixedParser : public TAbstractContentParser {
 public:
  using TAbstractContentParser::TAbstractContentParser;
  TStringList& ContentFields() override { return fFields; }
  TAbstractWebRequestFiles& Files() override { return fFiles; }

 private:
  struct TNone : TAbstractWebRequestFiles {
    int Count() const override { return 0; }
  } fFiles;
  TStringList fFields{"fixed=1"};
};
std::unique_ptr<TAbstractContentParser> MakeFixedParser(TWebRequest& request) {
  return std::make_unique<TFixedParser>(request);
}
bool ParsesLengthFive(TWebRequest& request) { return request.ContentLength() == 5; }

TEST(ContentFieldList, RegisteredParserIsAskedFirst) {
  const TContentParserClass fixed{ParsesLengthFive, MakeFixedParser};
  RegisterContentParser(fixed);
  TStubRequest taken("5", "u=123");
  TStubRequest passed("3", "u=1");
  EXPECT_EQ(taken.ContentFieldList().Lines(), (Lines{"fixed=1"}));
  EXPECT_EQ(passed.ContentFieldList().Lines(), (Lines{"u=1"}));
  UnregisterContentParser(fixed);
  TStubRequest after("5", "u=123");
  EXPECT_EQ(after.ContentFieldList().Lines(), (Lines{"u=123"}));
}

}  // namespace
}  // namespace nemvo
