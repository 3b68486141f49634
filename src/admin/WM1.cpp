#include "admin/WM1.h"

#include <memory>

#include "admin/Configuration.h"
#include "admin/IniFile.h"
#include "admin/LoginAttempt.h"
#include "admin/MessagePage.h"
#include "admin/PlacedComponentClasses.h"
#include "base/ClassRegistry.h"
#include "base/Exception.h"
#include "base/Format.h"
#include "cgi/HTTPFields.h"
#include "cgi/WebRequest.h"
#include "cgi/WebResponse.h"
#include "db/IBDatabase.h"
#include "db/IBErrors.h"
#include "db/IBSQLMonitorHook.h"
#include "templates/PageProducer.h"

namespace nemvo {

namespace {

// What the module is made of. The connection never asks for a login: the
// credentials come from the request.
constexpr std::string_view kWM1Definition = R"(
WM1: TWM1 {
  Actions += {
    Name = "main"
    PathInfo = "/main"
    OnAction = WM1loginAction
  }
  DB1: TIBDatabase {
    LoginPrompt = false
  }
  PageProducer1: TPageProducer {
  }
}
)";

[[maybe_unused]] const bool registered = RegisterClass({
    .Name = "TWM1",
    .ComponentClass = &TWM1::StaticClass(),
    .Methods = {Method<THTTPMethodEvent>("WM1loginAction", &TWM1::WM1loginAction)},
    .Definition = kWM1Definition,
});

// The form fields of the login page, and the parameter lines they become.
constexpr std::string_view UserField = "u";
constexpr std::string_view PasswordField = "p";
constexpr std::string_view UserNameParam = "user_name=";
constexpr std::string_view PasswordParam = "password=";

// The Firebird status code of a login the server rejects.
constexpr int32_t isc_login = 335544472;

// What a client that has had too many logins refused reads while it waits.
constexpr const char* ThrottledMessage =
    "Muitas tentativas de acesso inv\xE1lidas a partir deste endere\xE7o. Tente novamente em %s.";
// What a client refused lately reads while the database server would hold
// a failing login because of the failures of others.
constexpr const char* DeferredMessage =
    "O servidor recebe muitas tentativas de acesso inv\xE1lidas neste momento. Tente novamente em %s.";

// A parameter line made with one copy of the value, which a visitor may have
// made as large as the body.
std::string ParamLine(std::string_view prefix, std::string_view value) {
  std::string line;
  line.reserve(prefix.size() + value.size());
  line.append(prefix).append(value);
  return line;
}

// The trace channel's access as the file gives it, before anything can be
// traced.
void ApplyTraceSetting(TIniFile& config) {
  std::string group = config.ReadString(ConfigSection, SQLTraceGroupKey, AbsentValue);
  SetTraceAccess(TraceAccessFrom(config.ReadString(ConfigSection, SQLTraceKey, ""),
                                 group == AbsentValue ? std::nullopt : std::optional<std::string_view>(group)));
}

// The database's own refusal of the credentials, whatever its words.
bool IsLoginRejected(const Exception& e) {
  const auto* error = dynamic_cast<const EIBInterBaseError*>(&e);
  return error && error->IscErrorNumber() == isc_login;
}

// A client that must wait: told so, and how long, in words and in the
// header that clients and proxies read; the status says whether for its own
// refusals (429) or for everyone's (503).
void AnswerWait(TWebResponse& response, const TLoginAdmission& admission) {
  if (admission.forOthers) {
    response.SetStatusCode(503);
  } else {
    response.SetStatusCode(429);
    response.SetReasonText("Too Many Requests");
  }
  const int64_t seconds = admission.wait;
  response.CustomHeaders().Add("Retry-After=" + std::to_string(seconds));
  const std::string message = Format(admission.forOthers ? DeferredMessage : ThrottledMessage,
                                     seconds == 1 ? "1 segundo" : std::to_string(seconds) + " segundos");
  response.SetContent(BuildMessagePage(LoginErrorTitle, message, BackLink(), miWarning));
}

template <class T>
T& Placed(T* component, const char* name) {
  if (!component) throw EComponentError(Format("Component %s not found", name));
  return *component;
}

}  // namespace

std::string BackLink() {
  std::string link = "<a href=\"";
  link += PublicWebServer;
  link += "\">Voltar</a>";
  return link;
}

TWM1::TWM1(TComponent* owner) : TWebModule(owner) {
  // Before the stored definition is read: it names these classes.
  RegisterPlacedComponentClasses();
}

void TWM1::Loaded() {
  TWebModule::Loaded();
  DB1 = dynamic_cast<TIBDatabase*>(FindComponent("DB1"));
  PageProducer1 = dynamic_cast<TPageProducer*>(FindComponent("PageProducer1"));
}

void TWM1::Notification(TComponent* component, TOperation operation) {
  TWebModule::Notification(component, operation);
  if (operation != opRemove) return;
  if (component == DB1) DB1 = nullptr;
  if (component == PageProducer1) PageProducer1 = nullptr;
}

std::string TWM1::BuildMessagePage(std::string_view title, std::string_view message, std::string_view extra,
                                   int32_t kind) const {
  return nemvo::BuildMessagePage(title, message, extra, kind);
}

void TWM1::WM1loginAction(TObject*, TWebRequest& request, TWebResponse& response, bool&) {
  // Released on every way out, an exception of another kind included.
  std::unique_ptr<TIniFile> config;
  // Recorded (log line, throttle) when it goes, whichever way that is.
  std::unique_ptr<TLoginAttempt> attempt;
  try {
    config = std::make_unique<TIniFile>(ConfigFilePath);
    ApplyTraceSetting(*config);
    attempt = std::make_unique<TLoginAttempt>(request, *config);
    TIBDatabase& db = Placed(DB1, "DB1");
    db.SetConnected(false);
    db.SetDatabaseName(config->ReadString(ConfigSection, DBSuporteKey, DefaultDBSuporte()));
    db.Params().Clear();
    const std::string_view user = ValueViewOf(request.ContentFieldList(), UserField);
    attempt->SetUser(user);
    db.Params().Add(ParamLine(UserNameParam, user));
    db.Params().Add(ParamLine(PasswordParam, ValueViewOf(request.ContentFieldList(), PasswordField)));
    db.SetConnectTimeout(LoginTimeoutSeconds(config->ReadString(ConfigSection, LoginTimeoutKey, "")));
    if (const TLoginAdmission admission = attempt->Admit(); admission.wait > 0) {
      AnswerWait(response, admission);
      config.reset();
      return;
    }
    attempt->DatabaseAsked();
    db.SetConnected(true);
    attempt->DatabaseAnswered();
    if (db.Connected()) {
      attempt->SetOutcome(TLoginOutcome::Accepted);
      TPageProducer& producer = Placed(PageProducer1, "PageProducer1");
      producer.SetHTMLFile(config->ReadString(ConfigSection, MainHTMLKey, ""));
      response.SetContent(producer.ProduceContent());
    }
    // The connection stays open past the answer: the module closes it when
    // it is freed, which the hosts do once the web server has the answer
    // (a module used again closes it above, before its next connect).
    config.reset();
  } catch (const Exception& e) {
    if (attempt) attempt->DatabaseAnswered();
    if (attempt) attempt->SetOutcome(IsLoginRejected(e) ? TLoginOutcome::Refused : TLoginOutcome::Error);
    // Closed before the answer is built; a failure to close leaves the action.
    if (DB1) DB1->SetConnected(false);
    response.SetContent(BuildMessagePage(LoginErrorTitle, e.Message(), BackLink(), miWarning));
    config.reset();
  }
}

}  // namespace nemvo
