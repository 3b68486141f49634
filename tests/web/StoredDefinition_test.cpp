#include "web/StoredDefinition.h"

#include <gtest/gtest.h>

#include "base/ClassRegistry.h"
#include "cgi/ApplicationExceptionHandler.h"
#include "cgi/WebException.h"
#include "web/TestWebModule.h"

namespace nemvo {
namespace {

using testing::TBrokenWebModule;
using testing::TTestProducer;
using testing::TTestWebModule;

// A module class without a definition of its own, for reading texts into.
class TScratchModule : public TWebModule {
  NEMVO_DATA_MODULE(TScratchModule, TWebModule)
 public:
  explicit TScratchModule(TComponent* owner = nullptr) : TWebModule(owner) {}
  void Handler(TObject*, TWebRequest&, TWebResponse&, bool&) {}
  void Created(TObject*) { ++created; }
  int created = 0;
};

// Reads its definition in the old order and may fail in OnCreate.
class TOldOrderModule : public TWebModule {
  NEMVO_DATA_MODULE(TOldOrderModule, TWebModule)
 public:
  explicit TOldOrderModule(TComponent* owner = nullptr) : TWebModule(owner) {}
  void Created(TObject*) {
    ++createdCalls;
    if (fail) throw Exception("OnCreate failed");
  }
  static inline int createdCalls = 0;
  static inline bool fail = false;
};

// Builds on the test module's definition with one of its own.
class TDerivedTestModule : public TTestWebModule {
  NEMVO_DATA_MODULE(TDerivedTestModule, TTestWebModule)
 public:
  explicit TDerivedTestModule(TComponent* owner = nullptr) : TTestWebModule(owner) {}
};

// Derives from a module with a definition but has none itself.
class TBareDerivedModule : public TTestWebModule {
  NEMVO_DATA_MODULE(TBareDerivedModule, TTestWebModule)
 public:
  explicit TBareDerivedModule(TComponent* owner = nullptr) : TTestWebModule(owner) {}
};

// Never registered at all.
class TUnregisteredModule : public TWebModule {
  NEMVO_DATA_MODULE(TUnregisteredModule, TWebModule)
 public:
  explicit TUnregisteredModule(TComponent* owner = nullptr) : TWebModule(owner) {}
};

[[maybe_unused]] const bool registered =
    RegisterClass({.Name = "TScratchModule",
                   .ComponentClass = &TScratchModule::StaticClass(),
                   .Methods = {Method<THTTPMethodEvent>("Handler", &TScratchModule::Handler),
                               Method<TDataModule::TModuleEvent>("Created", &TScratchModule::Created)}}) &&
    RegisterClass({.Name = "TOldOrderModule",
                   .ComponentClass = &TOldOrderModule::StaticClass(),
                   .Methods = {Method<TDataModule::TModuleEvent>("Created", &TOldOrderModule::Created)},
                   .Definition = R"(Old: TOldOrderModule {
                     OldCreateOrder = true
                     OnCreate = Created
                     Actions += { Name = "first" }
                     Producer1: TTestProducer { Text = "made" }
                   })"}) &&
    RegisterClass({.Name = "TDerivedTestModule",
                   .ComponentClass = &TDerivedTestModule::StaticClass(),
                   .Definition = R"(Derived: TDerivedTestModule {
                     Actions += {
                       Name = "extra"
                       PathInfo = "/extra"
                       OnAction = MainAction
                     }
                     Producer1: TTestProducer { Text = "derived" }
                   })"}) &&
    RegisterClass({.Name = "TBareDerivedModule", .ComponentClass = &TBareDerivedModule::StaticClass()});

// Puts ApplicationExceptionHandler back as it was.
class HandlerGuard {
 public:
  explicit HandlerGuard(TApplicationExceptionHandler handler) : fSaved(ApplicationExceptionHandler) {
    ApplicationExceptionHandler = std::move(handler);
  }
  ~HandlerGuard() { ApplicationExceptionHandler = fSaved; }

 private:
  TApplicationExceptionHandler fSaved;
};

template <class T>
std::unique_ptr<T> Create() {
  return std::unique_ptr<T>(static_cast<T*>(T::StaticClass().Create(nullptr)));
}

TEST(StoredDefinition, BuildsTheModuleWithItsComponentsActionsAndHandlers) {
  HandlerGuard none(nullptr);
  auto module = Create<TTestWebModule>();
  EXPECT_EQ(module->Name(), "WebTest");
  EXPECT_FALSE(module->IsLoading());
  EXPECT_EQ(module->Log, (std::vector<std::string>{"create"}));
  EXPECT_EQ(module->Senders[0], module.get());
  EXPECT_TRUE(module->BeforeDispatch() && module->AfterDispatch());
  EXPECT_FALSE(module->OnException());

  TTestProducer* producer = module->Producer1();
  ASSERT_NE(producer, nullptr);
  EXPECT_EQ(producer->Owner(), module.get());
  EXPECT_EQ(producer->HostModule(), module.get());
  EXPECT_EQ(producer->Text(), "<p>produced \xE9</p>");
  EXPECT_TRUE(producer->LoadingWhenSet);
  EXPECT_FALSE(producer->IsLoading());
  EXPECT_EQ(producer->LoadedCalls, 1);

  TWebActionItems& actions = module->Actions();
  ASSERT_EQ(actions.Count(), 5);
  EXPECT_EQ(actions[0].Name(), "main");
  EXPECT_EQ(actions[0].PathInfo(), "/main");
  EXPECT_EQ(actions[0].MethodType(), mtAny);
  EXPECT_TRUE(actions[0].OnAction());
  EXPECT_EQ(actions[1].Name(), "page");
  EXPECT_EQ(actions[1].MethodType(), mtGet);
  EXPECT_EQ(actions[1].Producer(), producer);
  EXPECT_EQ(actions[1].PathInfo(), "/Producer1");
  EXPECT_FALSE(actions[1].OnAction());
  EXPECT_EQ(actions[2].PathInfo(), "/decline");  // written "decline"
  EXPECT_EQ(actions[3].PathInfo(), "/boom*");    // written "\boom*"
  EXPECT_TRUE(actions[4].Default());
  EXPECT_FALSE(actions[4].Enabled());
}

TEST(StoredDefinition, AncestorDefinitionsAreReadFirst) {
  HandlerGuard none(nullptr);
  auto module = Create<TDerivedTestModule>();
  EXPECT_EQ(module->Name(), "Derived");
  ASSERT_EQ(module->Actions().Count(), 6);
  EXPECT_EQ(module->Actions()[5].Name(), "extra");
  EXPECT_EQ(module->ComponentCount(), 1);  // Producer1 read twice, made once
  EXPECT_EQ(module->Producer1()->Text(), "derived");
  EXPECT_EQ(module->Producer1()->LoadedCalls, 1);
  EXPECT_EQ(module->Log, (std::vector<std::string>{"create"}));
}

TEST(StoredDefinition, ClassWithoutDefinitionIsNotFound) {
  HandlerGuard none(nullptr);
  for (const TComponentClass* cls : {&TBareDerivedModule::StaticClass(), &TUnregisteredModule::StaticClass()}) {
    try {
      std::unique_ptr<TComponent>(cls->Create(nullptr));
      ADD_FAILURE() << cls->Name;
    } catch (const EResNotFound& e) {
      EXPECT_EQ(e.Message(), std::string("Resource ") + cls->Name + " not found");
    }
  }
}

TEST(StoredDefinition, ReadingErrorsGoToTheApplicationHandler) {
  std::vector<std::string> seen;
  {
    // A handler that answers: the module is made with what was read so far.
    HandlerGuard answering([&](TComponent* sender) {
      EXPECT_EQ(sender, nullptr);
      try {
        throw;
      } catch (const Exception& e) {
        seen.push_back(std::string(e.ClassName()) + ": " + e.Message());
      }
    });
    auto module = Create<TBrokenWebModule>();
    EXPECT_EQ(module->Actions().Count(), 1);
    EXPECT_FALSE(module->IsLoading());
    EXPECT_EQ(seen, (std::vector<std::string>{"EClassNotFound: Error reading TBrokenWebModule at line 7: "
                                              "Class TNoSuchComponent not found"}));
  }
  {
    // The request cycle's handler raises again for a missing Sender.
    HandlerGuard raising([](TComponent*) { throw; });
    EXPECT_THROW(Create<TBrokenWebModule>(), EClassNotFound);
    EXPECT_THROW(Create<TUnregisteredModule>(), EResNotFound);
  }
  HandlerGuard none(nullptr);
  EXPECT_THROW(Create<TBrokenWebModule>(), EClassNotFound);
}

TEST(StoredDefinition, OnCreateRunsByTheCreateOrder) {
  std::vector<std::string> seen;
  HandlerGuard answering([&](TComponent*) {
    try {
      throw;
    } catch (const Exception& e) {
      seen.push_back(e.Message());
    }
  });
  TOldOrderModule::createdCalls = 0;
  TOldOrderModule::fail = true;
  auto old = Create<TOldOrderModule>();  // the old order: within creation, through the handler
  EXPECT_EQ(TOldOrderModule::createdCalls, 1);
  EXPECT_EQ(seen, (std::vector<std::string>{"OnCreate failed"}));
  EXPECT_EQ(old->Actions().Count(), 1);
  TOldOrderModule::fail = false;

  TTestWebModule::FailCreation = true;  // the new order: after creation, straight out
  EXPECT_THROW(
      try { Create<TTestWebModule>(); } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "creation refused");
        throw;
      },
      Exception);
  TTestWebModule::FailCreation = false;
  EXPECT_EQ(seen.size(), 1u);
}

TEST(StoredDefinition, OnDestroyRunsOnceWhileTheComponentsLive) {
  HandlerGuard none(nullptr);
  auto module = Create<TTestWebModule>();
  int calls = 0;
  TTestWebModule* raw = module.get();
  module->SetOnDestroy([&calls, raw](TObject* sender) {
    ++calls;
    EXPECT_EQ(sender, raw);
    EXPECT_NE(raw->FindComponent("Producer1"), nullptr);
  });
  module.reset();
  EXPECT_EQ(calls, 1);
}

struct ErrorCase {
  std::string members;  // the lines inside "S: TScratchModule { ... }"
  std::string message;  // "" when the setter's own exception leaves
};

TEST(StoredDefinition, DefinitionsThatCannotBeAppliedSayWhereAndWhy) {
  HandlerGuard none(nullptr);
  const ErrorCase cases[] = {
      {"Foo = 1", "Property Foo does not exist"},
      {"OldCreateOrder = \"yes\"", "Invalid property value"},
      {"OldCreateOrder = 1", "Invalid property value"},
      {"Actions += { MethodType = mtDelete }", "Invalid property value"},
      {"Actions += { OnAction = Nowhere }", "Method Nowhere not found"},
      {"BeforeDispatch = Created", "Invalid property value"},
      {"Actions += { Producer = Nobody }", "Invalid property value"},
      {"Foo += { }", "Collection Foo does not exist"},
      {"OldCreateOrder += { }", "Collection OldCreateOrder does not exist"},
      {"X1: TNoSuch { }", "Class TNoSuch not found"},
      {"P1: TTestProducer { P2: TTestProducer { } }", "Components are placed on the module only"},
      {"Actions += { Name = \"a\\q\" }", "Invalid escape in string"},
      {"Actions += { Name = \"a\\x4\" }", "Invalid escape in string"},
      {"Actions += { Name = \"open }", "Unterminated string"},
      {"OldCreateOrder = ", "Value expected"},
      {"OldCreateOrder false", "'=' expected"},
      {"Actions += Name", "'{' expected"},
      {"Tag = 99999999999999999999", "Integer out of range"},
      {"@", "Unexpected character '@'"},
  };
  for (const auto& c : cases) {
    TScratchModule module;
    try {
      ReadStoredDefinition(module, "S: TScratchModule {\n" + c.members + "\n}");
      ADD_FAILURE() << c.members;
    } catch (const EReadError& e) {
      EXPECT_EQ(e.Message(), "Error reading TScratchModule at line 2: " + c.message) << c.members;
    }
    EXPECT_FALSE(module.IsLoading());
  }
}

TEST(StoredDefinition, SettersKeepTheirRulesWhileReading) {
  HandlerGuard none(nullptr);
  TScratchModule module;
  EXPECT_THROW(ReadStoredDefinition(module, R"(S: TScratchModule {
                 Actions += { Name = "main" }
                 Actions += { Name = "MAIN" }
               })"),
               EWebException);
  EXPECT_THROW(ReadStoredDefinition(module, R"(S: TScratchModule { P1: TTestProducer { } P1: TScratchModule { } })"),
               EReadError);
}

TEST(StoredDefinition, HeaderMustNameTheModuleClass) {
  TScratchModule module;
  try {
    ReadStoredDefinition(module, "S: TOther { }");
    ADD_FAILURE();
  } catch (const EReadError& e) {
    EXPECT_EQ(e.Message(), "Error reading TOther at line 1: TScratchModule is not a TOther");
  }
  EXPECT_THROW(ReadStoredDefinition(module, "S: TScratchModule { } extra"), EReadError);
  EXPECT_THROW(ReadStoredDefinition(module, "S: TScratchModule {"), EReadError);
  EXPECT_THROW(ReadStoredDefinition(module, ""), EReadError);
  EXPECT_NO_THROW(ReadStoredDefinition(module, "# nothing but a comment\nS: TWebModule { }"));
  EXPECT_EQ(module.Name(), "S");
}

TEST(StoredDefinition, ValuesOfEveryKind) {
  TScratchModule module;
  ReadStoredDefinition(module, R"(S: TScratchModule {
    OldCreateOrder = TRUE
    OnCreate = created
    Actions += {
      Name = "tab\there \"q\" \\ \x41\xff"
      Default = true
      Enabled = False
      MethodType = MTPOST
      ProducerContent = P1
    }
    P1: TTestProducer {}
  })");
  EXPECT_TRUE(module.OldCreateOrder());
  ASSERT_TRUE(module.OnCreate());
  module.OnCreate()(&module);
  EXPECT_EQ(module.created, 1);
  const TWebActionItem& action = module.Actions()[0];
  EXPECT_EQ(action.Name(), "tab\there \"q\" \\ A\xFF");
  EXPECT_TRUE(action.Default());
  EXPECT_FALSE(action.Enabled());
  EXPECT_EQ(action.MethodType(), mtPost);
  EXPECT_EQ(action.ProducerContent(), module.FindComponent("P1"));
}

}  // namespace
}  // namespace nemvo
