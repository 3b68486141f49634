#include "admin/PlacedComponentClasses.h"

#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include "base/ClassRegistry.h"
#include "base/Format.h"
#include "db/IBDatabase.h"
#include "db/IBTransaction.h"
#include "templates/PageProducer.h"

namespace nemvo {

namespace {

// A handler kept in a public field of the component rather than behind a
// setter; bound by name to a method of the module being read.
template <class T, class E>
TPropertyInfo FieldEventProperty(std::string name, E T::*field) {
  return {std::move(name), [field](TObject& t, const TStoredValue& v, IDefinitionReader& reader) {
            const TMethodInfo* method = FindMethod(reader.Root().ClassType(), v.AsIdent());
            if (!method) throw EReadError(Format("Method %s not found", v.Text));
            std::any bound = method->Bind(reader.Root());
            const E* handler = std::any_cast<E>(&bound);
            if (!handler) throw EReadError("Invalid property value");
            detail::Target<T>(t).*field = *handler;
          }, {}, {}};
}

// A string list written as one string whose lines are separated by line breaks.
template <class T>
TPropertyInfo LinesProperty(std::string name, void (T::*setter)(const TStringList&)) {
  return {std::move(name), [setter](TObject& t, const TStoredValue& v, IDefinitionReader&) {
            TStringList lines;
            lines.SetText(v.AsString());
            (detail::Target<T>(t).*setter)(lines);
          }, {}, {}};
}

// TraceFlags as a string of category names separated by commas, for
// example "tfConnect,tfError"; the empty string is the empty set.
TPropertyInfo TraceFlagsProperty() {
  static constexpr std::pair<std::string_view, TTraceFlag> Names[] = {
      {"tfQPrepare", TTraceFlag::tfQPrepare}, {"tfQExecute", TTraceFlag::tfQExecute},
      {"tfQFetch", TTraceFlag::tfQFetch},     {"tfError", TTraceFlag::tfError},
      {"tfStmt", TTraceFlag::tfStmt},         {"tfConnect", TTraceFlag::tfConnect},
      {"tfTransact", TTraceFlag::tfTransact}, {"tfBlob", TTraceFlag::tfBlob},
      {"tfService", TTraceFlag::tfService},   {"tfMisc", TTraceFlag::tfMisc},
  };
  return {"TraceFlags", [](TObject& t, const TStoredValue& v, IDefinitionReader&) {
            TTraceFlags flags;
            std::string_view rest = v.AsString();
            while (!rest.empty()) {
              const size_t comma = rest.find(',');
              std::string_view item = rest.substr(0, comma);
              rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
              while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
              while (!item.empty() && item.back() == ' ') item.remove_suffix(1);
              bool known = false;
              for (const auto& [text, flag] : Names)
                if (SameText(text, item)) {
                  flags.Include(flag);
                  known = true;
                }
              if (!known) throw EReadError("Invalid property value");
            }
            detail::Target<TIBDatabase>(t).SetTraceFlags(flags);
          }, {}, {}};
}

void RegisterIfAbsent(TClassInfo info) {
  if (!FindClassInfo(info.Name)) RegisterClass(std::move(info));
}

void RegisterAll() {
  // The page producer registers itself beside its constructor. A static
  // library's member is linked only when something refers to it, and the
  // stored definition names the class only as text: this reference to the
  // class (whose Create entry calls the constructor) links it in.
  if (!FindClassInfo(TPageProducer::StaticClass())) throw EClassNotFound("Class TPageProducer not found");
  RegisterIfAbsent({
      .Name = "TCustomConnection",
      .ComponentClass = &TCustomConnection::StaticClass(),
      .Properties = {
          BooleanProperty("Connected", &TCustomConnection::SetConnected),
          BooleanProperty("LoginPrompt", &TCustomConnection::SetLoginPrompt),
          FieldEventProperty("AfterConnect", &TCustomConnection::AfterConnect),
          FieldEventProperty("AfterDisconnect", &TCustomConnection::AfterDisconnect),
          FieldEventProperty("BeforeConnect", &TCustomConnection::BeforeConnect),
          FieldEventProperty("BeforeDisconnect", &TCustomConnection::BeforeDisconnect),
      },
  });
  RegisterIfAbsent({
      .Name = "TIBDatabase",
      .ComponentClass = &TIBDatabase::StaticClass(),
      .Properties = {
          StringProperty("DatabaseName", &TIBDatabase::SetDatabaseName),
          LinesProperty("Params", &TIBDatabase::SetParams),
          ComponentProperty("DefaultTransaction", &TIBDatabase::SetDefaultTransaction),
          IntegerProperty("IdleTimer", &TIBDatabase::SetIdleTimer),
          IntegerProperty("SQLDialect", &TIBDatabase::SetSQLDialect),
          TraceFlagsProperty(),
          BooleanProperty("AllowStreamedConnected", &TIBDatabase::SetAllowStreamedConnected),
          FieldEventProperty("OnIdleTimer", &TIBDatabase::OnIdleTimer),
          FieldEventProperty("OnDialectDowngradeWarning", &TIBDatabase::OnDialectDowngradeWarning),
      },
  });
}

}  // namespace

void RegisterPlacedComponentClasses() {
  static std::once_flag once;
  std::call_once(once, RegisterAll);
}

}  // namespace nemvo
