#include "templates/PageProducer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include "base/ClassRegistry.h"
#include "base/Exception.h"
#include "support/TempDirectory.h"
#include "web/DataModule.h"
#include "web/StoredDefinition.h"

namespace nemvo {
namespace {

using nemvo::testing::TempDirectory;

struct SeenTag {
  TObject* sender;
  TTag tag;
  std::string tagString;
  std::vector<std::string> params;
};

// A producer whose handler records every tag and answers "(name)".
struct RecordingProducer {
  TPageProducer producer;
  std::vector<SeenTag> seen;
  RecordingProducer() {
    producer.SetOnHTMLTag([this](TObject* sender, TTag tag, const std::string& tagString, TStringList& params,
                                 std::string& replaceText) {
      EXPECT_EQ(replaceText, "");
      seen.push_back({sender, tag, tagString, params.Lines()});
      replaceText = "(" + tagString + ")";
    });
  }
};

TEST(TPageProducer, WithoutHandlerEveryTagIsRemoved) {
  TPageProducer producer;
  EXPECT_TRUE(producer.StripParamQuotes());
  EXPECT_EQ(producer.ProduceFromString("<html><#Name a=1 b=\"x y\"></html>"), "<html></html>");
  EXPECT_EQ(producer.ProduceFromString("before<#"), "before");
  EXPECT_EQ(producer.ProduceFromString("a<#Name b c\nd"), "a");
  // A handler that leaves the text alone removes the tag too.
  producer.SetOnHTMLTag([](TObject*, TTag, const std::string&, TStringList&, std::string&) {});
  EXPECT_EQ(producer.ProduceFromString("x<#Name>y"), "xy");
  // No script engines exist: naming one changes nothing.
  producer.SetScriptEngine("JScript");
  EXPECT_EQ(producer.ProduceFromString("x<#Name>y"), "xy");
}

TEST(TPageProducer, HandlerSeesKindNameAndParameters) {
  RecordingProducer r;
  EXPECT_EQ(r.producer.ProduceFromString("<html><#Name a=1 b=\"x y\"></html>"), "<html>(Name)</html>");
  r.producer.SetStripParamQuotes(false);
  r.producer.ProduceFromString("<#Name a=1 b=\"x y\">");
  ASSERT_EQ(r.seen.size(), 2u);
  EXPECT_EQ(r.seen[0].sender, static_cast<TObject*>(&r.producer));
  EXPECT_EQ(r.seen[0].tag, tgCustom);
  EXPECT_EQ(r.seen[0].tagString, "Name");
  EXPECT_EQ(r.seen[0].params, (std::vector<std::string>{"a=1", "b=x y"}));
  EXPECT_EQ(r.seen[1].params, (std::vector<std::string>{"a=1", "b=\"x y\""}));
}

TEST(TPageProducer, TagKindsMatchWholeNamesIgnoringCase) {
  const std::pair<const char*, TTag> cases[] = {
      {"link", tgLink},   {"Link", tgLink},         {"LINK", tgLink},     {"Linked", tgCustom},
      {"image", tgImage}, {"IMAGEMAP", tgImageMap}, {"ImageMap", tgImageMap}, {"table", tgTable},
      {"Object", tgObject}, {"EMBED", tgEmbed},     {"IMG", tgCustom},    {">", tgCustom},
  };
  RecordingProducer r;
  for (const auto& [name, tag] : cases) {
    r.seen.clear();
    r.producer.ProduceFromString(std::string("<#") + name + ">");
    ASSERT_EQ(r.seen.size(), 1u) << name;
    EXPECT_EQ(r.seen[0].tag, tag) << name;
    EXPECT_EQ(r.seen[0].tagString, name);
  }
}

TEST(TPageProducer, BaseProducerKeepsTagsWithoutParameters) {
  TBasePageProducer base;
  EXPECT_EQ(base.ProduceFromString("a<#Name x=1>b"), "a<#Name>b");
  EXPECT_EQ(base.ProduceContent(), "");
}

TEST(TPageProducer, TemplateFromHTMLDoc) {
  TPageProducer producer;
  EXPECT_EQ(producer.ProduceContent(), "");
  producer.SetHTMLDoc(TStringList{"a", "b"});
  EXPECT_EQ(producer.ProduceContent(), "a\r\nb\r\n");
  producer.HTMLDoc().Add("<#x>c");
  EXPECT_EQ(producer.ProduceContent(), "a\r\nb\r\nc\r\n");
}

TEST(TPageProducer, SettersClearTheOtherSource) {
  TPageProducer producer;
  producer.SetHTMLDoc(TStringList{"doc"});
  producer.SetHTMLFile("");  // the same name: nothing changes
  EXPECT_EQ(producer.HTMLDoc().Count(), 1);
  producer.SetHTMLFile("Main.html");
  EXPECT_EQ(producer.HTMLFile(), "Main.html");
  EXPECT_EQ(producer.HTMLDoc().Count(), 0);
  producer.HTMLDoc().Add("doc");
  producer.SetHTMLFile("MAIN.HTML");  // a change of case alone is not stored
  EXPECT_EQ(producer.HTMLFile(), "Main.html");
  EXPECT_EQ(producer.HTMLDoc().Count(), 1);
  producer.SetHTMLDoc(TStringList{"x", "y"});
  EXPECT_EQ(producer.HTMLFile(), "");
  EXPECT_EQ(producer.HTMLDoc().Lines(), (std::vector<std::string>{"x", "y"}));
}

TEST(TPageProducer, TemplateFileIsReadAnewOnEveryCall) {
  TempDirectory dir;
  std::string name = dir.Write("main.html", "<p><#Title></p>\r\n");
  RecordingProducer r;
  r.producer.HTMLDoc().Add("ignored: the file wins");
  r.producer.SetHTMLFile(name);
  r.producer.HTMLDoc().Add("still ignored");
  EXPECT_EQ(r.producer.ProduceContent(), "<p>(Title)</p>\r\n");
  dir.Write("main.html", "changed <#X>");
  EXPECT_EQ(r.producer.ProduceContent(), "changed (X)");
}

TEST(TPageProducer, RelativeFileNamesAreTakenFromTheCurrentDirectory) {
  TempDirectory dir;
  dir.Write("page.html", "relative");
  auto saved = std::filesystem::current_path();
  std::filesystem::current_path(dir.Path());
  TPageProducer producer;
  producer.SetHTMLFile("page.html");
  std::string page = producer.ProduceContent();
  producer.SetHTMLFile("none.html");
  std::string message;
  try {
    producer.ProduceContent();
  } catch (const EFOpenError& e) {
    message = e.Message();
  }
  std::filesystem::current_path(saved);
  EXPECT_EQ(page, "relative");
  EXPECT_EQ(message, "Cannot open file \"" + dir.Path().lexically_normal().string() +
                         "/none.html\". No such file or directory");
}

TEST(TPageProducer, MissingFileRaisesEFOpenError) {
  TempDirectory dir;
  TPageProducer producer;
  producer.SetHTMLFile(dir.PathOf("missing.html"));
  try {
    producer.ProduceContent();
    FAIL() << "no exception";
  } catch (const EFOpenError& e) {
    EXPECT_STREQ(e.ClassName(), "EFOpenError");
    EXPECT_EQ(e.Message(), "Cannot open file \"" + dir.PathOf("missing.html") + "\". No such file or directory");
  }
}

TEST(TPageProducer, FailuresReleaseTheTemplateFile) {
  TempDirectory dir;
  std::string name = dir.Write("main.html", "a <#Boom> b");
  TPageProducer producer;
  producer.SetHTMLFile(name);
  producer.SetOnHTMLTag([&](TObject*, TTag, const std::string&, TStringList&, std::string&) {
    int fd = ::open(name.c_str(), O_RDWR);
    ASSERT_GE(fd, 0) << "cannot open " << name;  // flock(-1) would fail too and prove nothing
    EXPECT_NE(::flock(fd, LOCK_EX | LOCK_NB), 0) << "the file is open for reading";
    ::close(fd);
    throw EListError("handler failed");
  });
  EXPECT_THROW(producer.ProduceContent(), EListError);
  int fd = ::open(name.c_str(), O_RDWR);
  ASSERT_GE(fd, 0) << "cannot open " << name;
  EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0) << "the file was closed";
  ::close(fd);
  dir.Write("main.html", std::string(5000, 'x'));
  EXPECT_THROW(producer.ProduceContent(), EParserError);
}

TEST(TPageProducer, ProduceFromStreamReadsFromTheCurrentPosition) {
  TStringStream stream("skip|<#x>rest");
  stream.SetPosition(5);
  TPageProducer producer;
  EXPECT_EQ(producer.ProduceFromStream(stream), "rest");
  EXPECT_EQ(stream.Position(), 13);
}

// Told when the components it watches are freed.
class TFreeWatcher : public TComponent {
 public:
  std::vector<TComponent*> freed;
  void Notification(TComponent* component, TOperation operation) override {
    TComponent::Notification(component, operation);
    if (operation == opRemove) freed.push_back(component);
  }
};

TEST(TPageProducer, IsFreedWithItsOwner) {
  TFreeWatcher watcher;
  auto owner = std::make_unique<TComponent>();
  TPageProducer* producer = CreateOwned<TPageProducer>(owner.get());
  producer->SetName("PageProducer1");
  producer->SetHTMLDoc(TStringList{"x"});
  EXPECT_EQ(owner->FindComponent("PageProducer1"), producer);
  EXPECT_TRUE(producer->InheritsFrom(TCustomContentProducer::StaticClass()));
  EXPECT_STREQ(producer->ClassName(), "TPageProducer");
  watcher.FreeNotification(producer);
  owner.reset();
  EXPECT_EQ(watcher.freed, std::vector<TComponent*>{producer});
}

// A module whose stored definitions may bind OnHTMLTag to its method Tag.
class TTagModule : public TDataModule {
  NEMVO_DATA_MODULE(TTagModule, TDataModule)
 public:
  explicit TTagModule(TComponent* owner = nullptr) : TDataModule(owner) {}
  void Tag(TObject*, TTag tag, const std::string& tagString, TStringList& params, std::string& replaceText) {
    replaceText = tagString + "/" + std::to_string(int(tag)) + "/" + (params.Count() ? params[0] : "");
  }
};

[[maybe_unused]] const bool registered = RegisterClass({
    .Name = "TTagModule",
    .ComponentClass = &TTagModule::StaticClass(),
    .Properties = {},
    .Methods = {Method<THTMLTagEvent>("Tag", &TTagModule::Tag)},
    .Definition = {},
});

TEST(TPageProducer, PlacedByAStoredDefinition) {
  TTagModule module;
  ReadStoredDefinition(module, R"(M: TTagModule {
    PageProducer1: TPageProducer {
      HTMLFile = "ignored.html"
      HTMLDoc = "<p><#Link a=\"1 2\"></p>\r\nline 2"
      StripParamQuotes = false
      OnHTMLTag = Tag
      ScriptEngine = "JScript"
    }
    PageProducer2: TPageProducer { HTMLFile = "main.html" }
  })");
  auto* producer = dynamic_cast<TPageProducer*>(module.FindComponent("PageProducer1"));
  ASSERT_NE(producer, nullptr);
  EXPECT_EQ(producer->HTMLFile(), "");  // HTMLDoc, set later, cleared it
  EXPECT_FALSE(producer->StripParamQuotes());
  EXPECT_EQ(producer->ScriptEngine(), "JScript");
  EXPECT_EQ(producer->ProduceContent(), "<p>Link/1/a=\"1 2\"</p>\r\nline 2\r\n");
  auto* second = dynamic_cast<TPageProducer*>(module.FindComponent("PageProducer2"));
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->HTMLFile(), "main.html");
  EXPECT_TRUE(second->StripParamQuotes());
  EXPECT_THROW(ReadStoredDefinition(module, "M: TTagModule { P3: TPageProducer { OnHTMLTag = Missing } }"),
               EReadError);
}

}  // namespace
}  // namespace nemvo
