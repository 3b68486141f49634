#include <gtest/gtest.h>

#include <vector>

#include "base/Exception.h"
#include "cgi/ContentParser.h"
#include "cgi/WebRequest.h"

namespace nemvo {
namespace {

using Lines = std::vector<std::string>;

// A request whose fields are given directly: a stored body, a claimed length
// and bytes still waiting on the input.
class TStubRequest : public TWebRequest {
 public:
  TStubRequest(std::string contentLength, std::string content, std::string waiting = "")
      : fLength(std::move(contentLength)), fContent(std::move(content)), fWaiting(std::move(waiting)) {}

  std::string GetStringField(int index) override {
    if (index == rfContent) return fContent;
    if (index == rfContentLength) return fLength;
    return {};
  }
  double GetDateField(int) override { return -1; }
  int32_t GetIntegerField(int index) override {
    if (index != rfContentLength) return -1;
    try {
      return std::stoi(fLength);
    } catch (...) {
      return -1;
    }
  }
  int64_t ReadBody(char*, int64_t) override { return 0; }
  std::string ReadBodyText(int64_t count) override {
    ++fReads;
    std::string part = fWaiting.substr(0, size_t(count));
    fWaiting.erase(0, part.size());
    return part;
  }
  std::string TranslateURI(const std::string& uri) override { return uri; }
  int64_t WriteRaw(const char*, int64_t count) override { return count; }
  bool WriteText(const std::string&) override { return true; }
  bool WriteHeaders(int, const std::string&, const std::string&) override { return true; }
  std::string GetFieldByName(const std::string&) override { return {}; }

  int fReads = 0;

 private:
  std::string fLength, fContent, fWaiting;
};

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
