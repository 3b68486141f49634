#include "base/Component.h"

#include <algorithm>

#include "base/Exception.h"

namespace nemvo {

namespace {
char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }
}  // namespace

int CompareText(std::string_view a, std::string_view b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(AsciiLower(a[i]));
    unsigned char y = static_cast<unsigned char>(AsciiLower(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool SameText(std::string_view a, std::string_view b) { return a.size() == b.size() && CompareText(a, b) == 0; }

bool IsValidIdent(std::string_view name) {
  auto alpha = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
  if (name.empty() || !alpha(name[0])) return false;
  return std::all_of(name.begin() + 1, name.end(), [&](char c) { return alpha(c) || (c >= '0' && c <= '9'); });
}

const TComponentClass& TComponent::StaticClass() {
  static const TComponentClass c{"TComponent", typeid(TComponent),
                                 [](TComponent* o) -> TComponent* { return new TComponent(o); }, nullptr};
  return c;
}

bool TComponent::InheritsFrom(const TComponentClass& cls) const {
  for (const TComponentClass* c = &ClassType(); c; c = c->Parent)
    if (c->Type == cls.Type) return true;
  return false;
}

TComponent::TComponent(TComponent* owner) {
  if (owner) owner->InsertComponent(this);
}

TComponent::~TComponent() {
  fState |= csDestroying;
  // Everyone that asked about us lets go of their reference first.
  while (!fFreeNotifies.empty()) {
    TComponent* other = fFreeNotifies.back();
    fFreeNotifies.pop_back();
    auto& theirs = other->fFreeNotifies;
    theirs.erase(std::remove(theirs.begin(), theirs.end(), this), theirs.end());
    other->Notification(this, opRemove);
  }
  DestroyComponents();
  if (fOwner) fOwner->RemoveComponent(this);
}

void TComponent::DestroyComponents() {
  while (!fComponents.empty()) {
    TComponent* child = fComponents.back();
    // Leaves our list in its own destructor (RemoveComponent).
    delete child;
  }
}

void TComponent::EndLoading() {
  fState &= ~uint32_t(csLoading);
  Loaded();
}

void TComponent::ValidateRename(const std::string& name) const {
  if (!name.empty() && !IsValidIdent(name))
    throw EComponentError(Format("Component name \"%s\" is not a valid identifier", name));
  if (fOwner && !name.empty()) {
    for (TComponent* sibling : fOwner->fComponents)
      if (sibling != this && SameText(sibling->fName, name))
        throw EComponentError(Format("A component named %s already exists", name));
  }
}

void TComponent::SetName(const std::string& name) {
  if (name == fName) return;
  ValidateRename(name);
  fName = name;
}

TComponent* TComponent::FindComponent(const std::string& name) const {
  if (name.empty()) return nullptr;
  for (TComponent* c : fComponents)
    if (SameText(c->fName, name)) return c;
  return nullptr;
}

void TComponent::FreeNotification(TComponent* component) {
  if (!component || component == this) return;
  if (std::find(fFreeNotifies.begin(), fFreeNotifies.end(), component) == fFreeNotifies.end()) {
    fFreeNotifies.push_back(component);
    component->fFreeNotifies.push_back(this);
  }
}

void TComponent::RemoveFreeNotification(TComponent* component) {
  if (!component) return;
  fFreeNotifies.erase(std::remove(fFreeNotifies.begin(), fFreeNotifies.end(), component), fFreeNotifies.end());
  auto& theirs = component->fFreeNotifies;
  theirs.erase(std::remove(theirs.begin(), theirs.end(), this), theirs.end());
}

void TComponent::InsertComponent(TComponent* component) {
  if (!component->fName.empty() && FindComponent(component->fName))
    throw EComponentError(Format("A component named %s already exists", component->fName));
  if (component->fOwner) component->fOwner->RemoveComponent(component);
  fComponents.push_back(component);
  component->fOwner = this;
  Notification(component, opInsert);
}

void TComponent::RemoveComponent(TComponent* component) {
  auto it = std::find(fComponents.begin(), fComponents.end(), component);
  if (it == fComponents.end()) return;
  Notification(component, opRemove);
  // Notification may have changed the list; look again.
  it = std::find(fComponents.begin(), fComponents.end(), component);
  if (it != fComponents.end()) fComponents.erase(it);
  component->fOwner = nullptr;
}

void TComponent::Notification(TComponent* component, TOperation operation) {
  if (operation == opRemove && component && !IsDestroying()) {
    for (size_t i = 0; i < fComponents.size(); ++i)
      if (fComponents[i] != component) fComponents[i]->Notification(component, opRemove);
  }
}

}  // namespace nemvo
