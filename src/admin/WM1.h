#pragma once
// The administration site's web module. Its one action, "main" at "/main",
// logs the caller into the support database with the form fields "u" and
// "p" and answers with the site's main page, or with the message page when
// anything fails on the way.
#include <cstdint>
#include <string>
#include <string_view>

#include "web/HTTPMethodEvent.h"
#include "web/WebModule.h"

namespace nemvo {

class TIBDatabase;
class TPageProducer;

// The title of the page that answers a failed login.
inline constexpr std::string_view LoginErrorTitle = "Nemvo.Web - Administra\xE7\xE3o - Erro";

// The message page's way back: a link to the public web server.
std::string BackLink();

class TWM1 : public TWebModule {
  NEMVO_DATA_MODULE(TWM1, TWebModule)

 public:
  // The components come from the stored definition, read when the module's
  // creation is finished (the class's Create entry or CreateDataModule).
  explicit TWM1(TComponent* owner = nullptr);

  // Placed by the stored definition; null until it has been read and after
  // the component has been freed.
  TIBDatabase* DB1 = nullptr;
  TPageProducer* PageProducer1 = nullptr;

  // The "main" action. Never changes `handled`: a failure is answered with
  // the message page and counts as handled too. Only exceptions outside the
  // program's own hierarchy, and one raised while closing the connection
  // after a failure, leave it. After a login the connection is left open for
  // the module's release, after the answer, to close.
  void WM1loginAction(TObject* sender, TWebRequest& request, TWebResponse& response, bool& handled);

  // The message page (see admin/MessagePage.h); uses nothing of the module.
  std::string BuildMessagePage(std::string_view title, std::string_view message, std::string_view extra,
                               int32_t kind) const;

 protected:
  void Loaded() override;
  void Notification(TComponent* component, TOperation operation) override;
};

}  // namespace nemvo
