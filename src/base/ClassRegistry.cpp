#include "base/ClassRegistry.h"

#include <memory>

namespace nemvo {

namespace {
// Built on first use, so that registrations from static initialisers in any
// order find it; entries are never removed.
std::vector<std::unique_ptr<TClassInfo>>& Registry() {
  static std::vector<std::unique_ptr<TClassInfo>> registry;
  return registry;
}

// The first name registered twice, empty while there is none. Registrations
// run from static initialisers, before main: an exception there could only
// end the process with no answer at all. So the failure is kept here and
// raised by every lookup, which the request makes while it builds its module
// and answers with the server error page.
std::string& DuplicateName() {
  static std::string name;
  return name;
}

void RaiseDuplicate() {
  if (!DuplicateName().empty())
    throw EComponentError(Format("Class %s is already registered", DuplicateName()));
}

const TClassInfo* Find(std::string_view name) {
  for (const auto& info : Registry())
    if (SameText(info->Name, name)) return info.get();
  return nullptr;
}

[[noreturn]] void InvalidValue() { throw EReadError("Invalid property value"); }
}  // namespace

bool TStoredValue::AsBoolean() const {
  if (Kind == svIdent) {
    if (SameText(Text, "true")) return true;
    if (SameText(Text, "false")) return false;
  }
  InvalidValue();
}

const std::string& TStoredValue::AsString() const {
  if (Kind != svString) InvalidValue();
  return Text;
}

int64_t TStoredValue::AsInteger() const {
  if (Kind != svInteger) InvalidValue();
  return Integer;
}

const std::string& TStoredValue::AsIdent() const {
  if (Kind != svIdent) InvalidValue();
  return Text;
}

bool RegisterClass(TClassInfo info) {
  if (Find(info.Name)) {
    if (DuplicateName().empty()) DuplicateName() = info.Name;
    return false;
  }
  Registry().push_back(std::make_unique<TClassInfo>(std::move(info)));
  return true;
}

const TClassInfo* FindClassInfo(std::string_view name) {
  RaiseDuplicate();
  return Find(name);
}

const TClassInfo* FindClassInfo(const TComponentClass& cls) {
  RaiseDuplicate();
  for (const auto& info : Registry())
    if (info->ComponentClass && info->ComponentClass->Type == cls.Type) return info.get();
  return nullptr;
}

const TPropertyInfo* FindProperty(const TClassInfo& info, std::string_view name) {
  for (const auto& property : info.Properties)
    if (SameText(property.Name, name)) return &property;
  return nullptr;
}

const TPropertyInfo* FindProperty(const TComponentClass& cls, std::string_view name) {
  for (const TComponentClass* c = &cls; c; c = c->Parent)
    if (const TClassInfo* info = FindClassInfo(*c))
      if (const TPropertyInfo* property = FindProperty(*info, name)) return property;
  return nullptr;
}

const TMethodInfo* FindMethod(const TComponentClass& cls, std::string_view name) {
  for (const TComponentClass* c = &cls; c; c = c->Parent)
    if (const TClassInfo* info = FindClassInfo(*c))
      for (const auto& method : info->Methods)
        if (SameText(method.Name, name)) return &method;
  return nullptr;
}

}  // namespace nemvo
