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
  if (FindClassInfo(info.Name)) throw EComponentError(Format("Class %s is already registered", info.Name));
  Registry().push_back(std::make_unique<TClassInfo>(std::move(info)));
  return true;
}

const TClassInfo* FindClassInfo(std::string_view name) {
  for (const auto& info : Registry())
    if (SameText(info->Name, name)) return info.get();
  return nullptr;
}

const TClassInfo* FindClassInfo(const TComponentClass& cls) {
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
