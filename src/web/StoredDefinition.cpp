#include "web/StoredDefinition.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/ClassRegistry.h"
#include "base/Component.h"
#include "base/Exception.h"

namespace nemvo {

namespace {

// One definition text, read and applied in a single pass.
class TDefinitionReader : public IDefinitionReader {
 public:
  TDefinitionReader(TComponent& root, std::string_view text, std::vector<TComponent*>& loaded)
      : fRoot(root), fText(text), fLoaded(loaded) {}

  TComponent& Root() override { return fRoot; }
  void AfterComponents(std::function<void()> fixup) override { fFixups.push_back({fTokenLine, std::move(fixup)}); }

  void Read() {
    Next();
    const std::string name = ExpectIdent();
    ExpectSymbol(":");
    const int classLine = fTokenLine;
    fClassName = ExpectIdent();
    bool ours = false;
    for (const TComponentClass* c = &fRoot.ClassType(); c && !ours; c = c->Parent) ours = SameText(c->Name, fClassName);
    if (!ours) Fail<EReadError>(classLine, Format("%s is not a %s", fRoot.ClassName(), fClassName));
    ExpectSymbol("{");
    fRoot.SetName(name);
    ReadBlock(fRoot, [&](std::string_view p) { return FindProperty(fRoot.ClassType(), p); }, true);
    if (fKind != tkEnd) Fail<EReadError>(fTokenLine, "End of text expected");
    for (auto& [line, fixup] : fFixups) Apply(line, fixup);
  }

 private:
  enum TTokenKind { tkEnd, tkIdent, tkString, tkInteger, tkSymbol };
  using TFindProperty = std::function<const TPropertyInfo*(std::string_view)>;

  template <class E>
  [[noreturn]] void Fail(int line, const std::string& what) const {
    throw E(Format("Error reading %s at line %d: %s", fClassName.empty() ? fRoot.ClassName() : fClassName.c_str(),
                   line, what));
  }

  // Runs a setter; a value it refuses is reported with its place.
  void Apply(int line, const std::function<void()>& set) {
    try {
      set();
    } catch (const EClassNotFound& e) {
      Fail<EClassNotFound>(line, e.Message());
    } catch (const EReadError& e) {
      Fail<EReadError>(line, e.Message());
    }
  }

  // ---- Tokens ----
  void Next() {
    for (;;) {
      while (fPos < fText.size() && (fText[fPos] == ' ' || fText[fPos] == '\t' || fText[fPos] == '\r' || fText[fPos] == '\n')) {
        if (fText[fPos] == '\n') ++fLine;
        ++fPos;
      }
      if (fPos < fText.size() && fText[fPos] == '#') {
        while (fPos < fText.size() && fText[fPos] != '\n') ++fPos;
        continue;
      }
      break;
    }
    fTokenLine = fLine;
    fToken.clear();
    if (fPos >= fText.size()) {
      fKind = tkEnd;
      return;
    }
    const char c = fText[fPos];
    auto isAlpha = [](char x) { return (x >= 'A' && x <= 'Z') || (x >= 'a' && x <= 'z') || x == '_'; };
    auto isDigit = [](char x) { return x >= '0' && x <= '9'; };
    if (isAlpha(c)) {
      fKind = tkIdent;
      while (fPos < fText.size() && (isAlpha(fText[fPos]) || isDigit(fText[fPos]))) fToken += fText[fPos++];
    } else if (isDigit(c) || (c == '-' && fPos + 1 < fText.size() && isDigit(fText[fPos + 1]))) {
      fKind = tkInteger;
      const bool negative = c == '-';
      if (negative) ++fPos;
      uint64_t value = 0;
      while (fPos < fText.size() && isDigit(fText[fPos])) {
        value = value * 10 + uint64_t(fText[fPos++] - '0');
        if (value > uint64_t(INT64_MAX)) Fail<EReadError>(fLine, "Integer out of range");
      }
      fInteger = negative ? -int64_t(value) : int64_t(value);
    } else if (c == '"') {
      fKind = tkString;
      ++fPos;
      for (;;) {
        if (fPos >= fText.size() || fText[fPos] == '\n') Fail<EReadError>(fLine, "Unterminated string");
        char x = fText[fPos++];
        if (x == '"') break;
        if (x == '\\') {
          if (fPos >= fText.size()) Fail<EReadError>(fLine, "Unterminated string");
          x = fText[fPos++];
          switch (x) {
            case '"': case '\\': break;
            case 'r': x = '\r'; break;
            case 'n': x = '\n'; break;
            case 't': x = '\t'; break;
            case 'x': x = char(HexByte()); break;
            default: Fail<EReadError>(fLine, "Invalid escape in string");
          }
        }
        fToken += x;
      }
    } else if (c == '+' && fPos + 1 < fText.size() && fText[fPos + 1] == '=') {
      fKind = tkSymbol;
      fToken = "+=";
      fPos += 2;
    } else if (c == ':' || c == '{' || c == '}' || c == '=') {
      fKind = tkSymbol;
      fToken = c;
      ++fPos;
    } else {
      Fail<EReadError>(fLine, Format("Unexpected character '%s'", std::string(1, c)));
    }
  }

  int HexByte() {
    int value = 0;
    for (int i = 0; i < 2; ++i) {
      const char h = fPos < fText.size() ? fText[fPos] : '\0';
      int digit = (h >= '0' && h <= '9') ? h - '0' : (h >= 'a' && h <= 'f') ? h - 'a' + 10 : (h >= 'A' && h <= 'F') ? h - 'A' + 10 : -1;
      if (digit < 0) Fail<EReadError>(fLine, "Invalid escape in string");
      value = value * 16 + digit;
      ++fPos;
    }
    return value;
  }

  bool IsSymbol(std::string_view s) const { return fKind == tkSymbol && fToken == s; }

  void ExpectSymbol(std::string_view s) {
    if (!IsSymbol(s)) Fail<EReadError>(fTokenLine, Format("'%s' expected", s));
    Next();
  }

  std::string ExpectIdent() {
    if (fKind != tkIdent) Fail<EReadError>(fTokenLine, "Identifier expected");
    std::string ident = fToken;
    Next();
    return ident;
  }

  // ---- Structure ----
  // The members of a block up to its "}": properties, collection items and,
  // on the module itself, the components placed on it.
  void ReadBlock(TObject& target, const TFindProperty& findProperty, bool isModule) {
    while (!IsSymbol("}")) {
      const int line = fTokenLine;
      const std::string name = ExpectIdent();
      if (IsSymbol(":")) {
        if (!isModule) Fail<EReadError>(line, "Components are placed on the module only");
        Next();
        ReadComponent(name, line);
      } else if (IsSymbol("+=")) {
        Next();
        ExpectSymbol("{");
        const TPropertyInfo* property = findProperty(name);
        if (!property || !property->AddItem) Fail<EReadError>(line, Format("Collection %s does not exist", name));
        const TClassInfo* itemClass = FindClassInfo(property->ItemClass);
        if (!itemClass) Fail<EClassNotFound>(line, Format("Class %s not found", property->ItemClass));
        TObject* item = nullptr;
        Apply(line, [&] { item = &property->AddItem(target); });
        ReadBlock(*item, [itemClass](std::string_view p) { return FindProperty(*itemClass, p); }, false);
      } else {
        ExpectSymbol("=");
        TStoredValue value;
        switch (fKind) {
          case tkIdent: value.Kind = TStoredValue::svIdent; break;
          case tkString: value.Kind = TStoredValue::svString; break;
          case tkInteger: value.Kind = TStoredValue::svInteger; value.Integer = fInteger; break;
          default: Fail<EReadError>(line, "Value expected");
        }
        value.Text = fToken;
        Next();
        const TPropertyInfo* property = findProperty(name);
        if (!property || !property->Set) Fail<EReadError>(line, Format("Property %s does not exist", name));
        Apply(line, [&] { property->Set(target, value, *this); });
      }
    }
    Next();
  }

  void ReadComponent(const std::string& name, int line) {
    const std::string className = ExpectIdent();
    ExpectSymbol("{");
    // A component an ancestor's definition placed is read again, not made twice.
    TComponent* component = fRoot.FindComponent(name);
    if (component) {
      if (!SameText(component->ClassName(), className))
        Fail<EReadError>(line, Format("%s is a %s, not a %s", name, component->ClassName(), className));
    } else {
      const TClassInfo* info = FindClassInfo(className);
      if (!info || !info->ComponentClass) Fail<EClassNotFound>(line, Format("Class %s not found", className));
      component = info->ComponentClass->Create(&fRoot);
      component->BeginLoading();
      fLoaded.push_back(component);
      component->SetName(name);
    }
    ReadBlock(*component, [component](std::string_view p) { return FindProperty(component->ClassType(), p); }, false);
  }

  TComponent& fRoot;
  std::string_view fText;
  std::vector<TComponent*>& fLoaded;  // the components read so far, the module first
  std::vector<std::pair<int, std::function<void()>>> fFixups;
  std::string fClassName;
  size_t fPos = 0;
  int fLine = 1;
  int fTokenLine = 1;
  TTokenKind fKind = tkEnd;
  std::string fToken;
  int64_t fInteger = 0;
};

// Ends the loading state of everything read. After a failed read the first
// exception is the one that counts, so a second from Loaded is dropped.
void EndLoading(const std::vector<TComponent*>& loaded, bool afterFailure) {
  for (TComponent* component : loaded) {
    if (!afterFailure) {
      component->EndLoading();
      continue;
    }
    try {
      component->EndLoading();
    } catch (...) {
    }
  }
}

template <class Read>
void ReadLoading(TComponent& module, Read read) {
  std::vector<TComponent*> loaded{&module};
  module.BeginLoading();
  try {
    read(loaded);
  } catch (...) {
    EndLoading(loaded, true);
    throw;
  }
  EndLoading(loaded, false);
}

}  // namespace

void ReadStoredDefinitions(TComponent& module, const TComponentClass& base) {
  std::vector<const TClassInfo*> chain;
  for (const TComponentClass* c = &module.ClassType(); c; c = c->Parent) {
    const TClassInfo* info = FindClassInfo(*c);
    if (c == &module.ClassType() && (!info || info->Definition.empty()))
      throw EResNotFound(Format("Resource %s not found", module.ClassName()));
    if (info && !info->Definition.empty()) chain.insert(chain.begin(), info);
    if (c->Type == base.Type) break;
  }
  ReadLoading(module, [&](std::vector<TComponent*>& loaded) {
    for (const TClassInfo* info : chain) TDefinitionReader(module, info->Definition, loaded).Read();
  });
}

void ReadStoredDefinition(TComponent& module, std::string_view text) {
  ReadLoading(module, [&](std::vector<TComponent*>& loaded) { TDefinitionReader(module, text, loaded).Read(); });
}

}  // namespace nemvo
