#pragma once
// The application object of the CGI program: runs the one request of the
// process from the CGI environment and standard input to standard output.
#include <memory>
#include <string>

#include "cgi/CGIFactory.h"
#include "cgi/RequestSource.h"
#include "cgi/WebApplication.h"

namespace nemvo {

class TCGIApplication : public TWebApplication {
  NEMVO_COMPONENT(TCGIApplication, TWebApplication)

 public:
  explicit TCGIApplication(TComponent* owner = nullptr);
  ~TCGIApplication() override;

  // The process's one request, from its environment and standard streams
  // (RunRequest). Raises only when the standard streams cannot be used.
  void Run() override;

  // The request cycle of one request: request, response, HandleRequest,
  // each made anew from `source`. Whatever escapes it becomes the server
  // error page, written to the source; the host still goes on normally.
  void RunRequest(TRequestSource& source);

  // For the exception being handled (call only inside a catch block): lets
  // `sender`, when it reports exceptions, turn it into a response; raises the
  // exception again when it stays unanswered.
  void HandleCGIException(TComponent* sender);

  // Made on first use.
  TCGIFactory& Factory();
  // Only for file-based requests, which this program does not make.
  const std::string& OutputFileName() const { return fOutputFileName; }

 private:
  std::string fOutputFileName;
  std::unique_ptr<TCGIFactory> fFactory;
};

// The process-wide application object; the main program makes it at start-up
// and frees it at the end.
inline std::unique_ptr<TCGIApplication> Application;

}  // namespace nemvo
