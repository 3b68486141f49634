#pragma once
// The class registry: what a stored definition may name. Each class that can
// appear in one registers, once, its name, how to create it (components), its
// stored properties with the setters that apply them, and, for a module, the
// methods its handlers may be bound to and its own definition text.
//
// Registration is a static initialiser in the .cpp that defines the class's
// constructor, so the class and its registration are linked together:
//
//   [[maybe_unused]] const bool registered = RegisterClass({
//       .Name = "TIBDatabase", .ComponentClass = &TIBDatabase::StaticClass(),
//       .Properties = {BooleanProperty("LoginPrompt", &TIBDatabase::SetLoginPrompt)}});
//
// Properties are found along the component class chain, so a class lists
// only the properties it adds.
#include <any>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <string_view>
#include <typeindex>
#include <utility>
#include <vector>

#include "base/Component.h"
#include "base/Exception.h"
#include "base/Object.h"

namespace nemvo {

// A definition that cannot be applied: unknown names, values of the wrong kind.
NEMVO_EXCEPTION(EReadError, EParserError);
// A definition names a class that nobody registered.
NEMVO_EXCEPTION(EClassNotFound, EReadError);

// A value as a definition writes it.
struct TStoredValue {
  enum TKind { svIdent, svString, svInteger };
  TKind Kind = svIdent;
  std::string Text;     // the identifier or the string's bytes
  int64_t Integer = 0;

  // Raise EReadError "Invalid property value" for a value of another kind.
  bool AsBoolean() const;  // the identifiers true or false, letters A-Z without case
  const std::string& AsString() const;
  int64_t AsInteger() const;
  const std::string& AsIdent() const;
};

// What a setter may ask of the reader that applies a definition.
class IDefinitionReader {
 public:
  virtual ~IDefinitionReader() = default;
  // The component whose definition is being read (the module).
  virtual TComponent& Root() = 0;
  // Runs `fixup` once every component of the definition exists, for
  // properties that refer to a component by name.
  virtual void AfterComponents(std::function<void()> fixup) = 0;
};

struct TPropertyInfo {
  std::string Name;
  // A property set from one value.
  std::function<void(TObject& target, const TStoredValue& value, IDefinitionReader& reader)> Set;
  // A collection property: appends one item and returns it; its properties
  // are those registered for ItemClass.
  std::function<TObject&(TObject& target)> AddItem;
  std::string ItemClass;
};

// A method that a handler can be bound to: Bind returns the bound handler
// (a std::function of the event's type) for an instance of the class.
struct TMethodInfo {
  std::string Name;
  std::function<std::any(TComponent& self)> Bind;
};

struct TClassInfo {
  std::string Name = {};
  const TComponentClass* ComponentClass = nullptr;  // null for collection items
  std::vector<TPropertyInfo> Properties = {};
  std::vector<TMethodInfo> Methods = {};
  std::string_view Definition = {};  // a module's stored definition; empty when it has none
};

// Registers a class and returns true, so that it can initialise a static. A
// second registration of a name registers nothing and returns false; from
// then on every lookup below raises EComponentError "Class %s is already
// registered" (the first name registered twice), since registrations run
// before main, where nothing could report an exception.
bool RegisterClass(TClassInfo info);
// Registered classes by name (letters A-Z without case) or by component class.
const TClassInfo* FindClassInfo(std::string_view name);
const TClassInfo* FindClassInfo(const TComponentClass& cls);
// A stored property of the class or of the classes it derives from.
const TPropertyInfo* FindProperty(const TComponentClass& cls, std::string_view name);
const TPropertyInfo* FindProperty(const TClassInfo& info, std::string_view name);
// A bindable method of the class or of the classes it derives from.
const TMethodInfo* FindMethod(const TComponentClass& cls, std::string_view name);

// ---- Building property tables ----------------------------------------------

namespace detail {
template <class T>
T& Target(TObject& target) {
  T* typed = dynamic_cast<T*>(&target);
  if (!typed) throw EReadError("Invalid property value");
  return *typed;
}
}  // namespace detail

template <class T, class Arg>
TPropertyInfo BooleanProperty(std::string name, void (T::*setter)(Arg)) {
  return {std::move(name), [setter](TObject& t, const TStoredValue& v, IDefinitionReader&) {
            (detail::Target<T>(t).*setter)(v.AsBoolean());
          }, {}, {}};
}

template <class T, class Arg>
TPropertyInfo StringProperty(std::string name, void (T::*setter)(Arg)) {
  return {std::move(name), [setter](TObject& t, const TStoredValue& v, IDefinitionReader&) {
            (detail::Target<T>(t).*setter)(v.AsString());
          }, {}, {}};
}

template <class T, class Arg>
TPropertyInfo IntegerProperty(std::string name, void (T::*setter)(Arg)) {
  return {std::move(name), [setter](TObject& t, const TStoredValue& v, IDefinitionReader&) {
            const int64_t value = v.AsInteger();
            using V = std::decay_t<Arg>;
            if (value < int64_t(std::numeric_limits<V>::min()) || value > int64_t(std::numeric_limits<V>::max()))
              throw EReadError("Invalid property value");
            (detail::Target<T>(t).*setter)(V(value));
          }, {}, {}};
}

// An enumeration written by the names of its values.
template <class T, class E>
TPropertyInfo EnumProperty(std::string name, void (T::*setter)(E), std::vector<std::pair<std::string, E>> values) {
  return {std::move(name), [setter, values = std::move(values)](TObject& t, const TStoredValue& v, IDefinitionReader&) {
            for (const auto& [text, value] : values)
              if (SameText(text, v.AsIdent())) return (detail::Target<T>(t).*setter)(value);
            throw EReadError("Invalid property value");
          }, {}, {}};
}

// A handler bound by name to a method of the module being read.
template <class T, class Event>
TPropertyInfo EventProperty(std::string name, void (T::*setter)(Event)) {
  return {std::move(name), [setter](TObject& t, const TStoredValue& v, IDefinitionReader& reader) {
            using E = std::decay_t<Event>;
            const TMethodInfo* method = FindMethod(reader.Root().ClassType(), v.AsIdent());
            if (!method) throw EReadError(Format("Method %s not found", v.Text));
            std::any bound = method->Bind(reader.Root());
            const E* handler = std::any_cast<E>(&bound);
            if (!handler) throw EReadError("Invalid property value");
            (detail::Target<T>(t).*setter)(*handler);
          }, {}, {}};
}

// A reference, by name, to another component placed on the module (or to
// the module itself); set once all of them exist.
template <class T, class C>
TPropertyInfo ComponentProperty(std::string name, void (T::*setter)(C*)) {
  return {std::move(name), [setter](TObject& t, const TStoredValue& v, IDefinitionReader& reader) {
            T* target = &detail::Target<T>(t);
            TComponent* root = &reader.Root();
            reader.AfterComponents([setter, target, root, ref = v.AsIdent()] {
              TComponent* found = SameText(root->Name(), ref) ? root : root->FindComponent(ref);
              C* typed = dynamic_cast<C*>(found);
              if (!typed) throw EReadError("Invalid property value");
              (target->*setter)(typed);
            });
          }, {}, {}};
}

// A collection whose items the definition adds one by one: `add` appends an
// item to a T and returns it.
template <class T, class Add>
TPropertyInfo CollectionProperty(std::string name, Add add, std::string itemClass) {
  return {std::move(name), {}, [add](TObject& t) -> TObject& { return add(detail::Target<T>(t)); },
          std::move(itemClass)};
}

// A method of T that handlers of type Event may be bound to.
template <class Event, class T, class R, class... Args>
TMethodInfo Method(std::string name, R (T::*method)(Args...)) {
  return {std::move(name), [method](TComponent& self) -> std::any {
            T* typed = dynamic_cast<T*>(&self);
            if (!typed) throw EReadError("Invalid property value");
            return Event([typed, method](Args... args) { (typed->*method)(std::forward<Args>(args)...); });
          }};
}

}  // namespace nemvo
