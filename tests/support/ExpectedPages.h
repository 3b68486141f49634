#pragma once
// What nemvoweb writes on standard output, written out independently of the
// program's own code: the requests a web server passes, the head of a normal
// response, the message page of a failed login and the host's server error
// page.
#include <string>
#include <utility>
#include <vector>

#include "support/ChildProcess.h"

namespace nemvo::testing {

// The build's public web server (icons, favicon, back link).
inline const std::string kPublic = NEMVO_TEST_PUBLIC_WEB_SERVER;

inline const std::string kRejected = "Usu\xE1rio/Senha inv\xE1lidos";
inline const std::string kErrorTitle = "Nemvo.Web - Administra\xE7\xE3o - Erro";

// A request as a web server passes it: method, path info, protocol, and the
// body's length and type when there is a body; `extra` adds or overrides.
inline CGIVars Request(const std::string& method, const std::string& pathInfo, const std::string& body = "",
                       const CGIVars& extra = {}) {
  CGIVars vars{{"GATEWAY_INTERFACE", "CGI/1.1"}, {"REQUEST_METHOD", method}, {"PATH_INFO", pathInfo},
               {"SCRIPT_NAME", "/cgi-bin/nemvoweb"}, {"SERVER_PROTOCOL", "HTTP/1.1"}, {"SERVER_PORT", "80"},
               {"REMOTE_ADDR", "127.0.0.1"}};
  if (!body.empty()) {
    vars.emplace_back("CONTENT_LENGTH", std::to_string(body.size()));
    vars.emplace_back("CONTENT_TYPE", "application/x-www-form-urlencoded");
  }
  for (const auto& [name, value] : extra) {
    std::erase_if(vars, [&](const auto& v) { return v.first == name; });
    vars.emplace_back(name, value);
  }
  return vars;
}

// The line a login attempt leaves on standard error (the web server's error
// log). `user` as the log writes it (plain letters need no escaping).
inline std::string LoginLine(const std::string& outcome, const std::string& user, const std::string& path = "/main",
                             const std::string& client = "127.0.0.1") {
  return "nemvoweb: login " + outcome + " client=" + client + " user=" + user + " path=" + path + "\n";
}

// A handled request's answer: status 200, the head, the body.
inline std::string Response(const std::string& body) {
  std::string head = "Status: 200 OK\r\nContent-Type: text/html\r\n";
  if (!body.empty()) head += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  return head + "Content:\r\n\r\n" + body;
}

// Markup characters of a message as the page shows them.
inline std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

// The message page of a failed login showing `shown` (already as the page
// shows it), byte for byte.
inline std::string MessagePage(const std::string& shown) {
  return "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
         "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\"> <html xmlns=\"http://www.w3.org/1999/xhtml\"> "
         "<head> <meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\" /> "
         "<link rel=\"shortcut icon\" href=\"" +
         kPublic + "/nemvoweb_images/favicon.ico\" type=\"image/x-icon\" /> <title>" + kErrorTitle +
         "</title> </head> <body>     <div id=\"warning-box\" class=\"style1\"         style=\"position: absolute; "
         "width: 128px; height: 128px; left: 50%; top: 40%; margin-top: -128px; margin-left: -64px;\">          "
         "<img alt=\"\" src=\"" +
         kPublic +
         "/nemvoweb_images/warning.png\" style=\"width: 128px; height: 128px; position: absolute\" />     </div>     "
         "<div id=\"msg-box\" class=\"style2\"     style=\"position: absolute; width: 90%; top: 50%; left: 50px;     "
         "font-family: Arial, Helvetica, sans-serif; font-size: large;     font-weight: normal; font-style: normal; "
         "color: #0066CC; text-align: center;\"> " +
         shown + "<br></br> <a href=\"" + kPublic + "\">Voltar</a></div> </body> </html> ";
}

// The whole answer with the message page for the error text `message`.
inline std::string Failed(const std::string& message) { return Response(MessagePage(Escaped(message))); }
// The whole answer to rejected credentials.
inline const std::string kRejectedAnswer = Response(MessagePage(kRejected));

// The host's server error page, byte for byte.
inline std::string ServerErrorPage(const std::string& statusText, const std::string& className,
                                   const std::string& message) {
  const std::string body = "<html><title>Internal Server Error 500</title>\r\n"
                           "<h1>Internal Server Error 500</h1><hr>\r\n"
                           "Exception: " + className + "<br>\r\n"
                           "Message: " + message + "<br></html>\r\n";
  return "Status: 500 " + statusText + "\r\nContent-Type: text/html\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

}  // namespace nemvo::testing
