#pragma once
// The site's message page: a self-contained XHTML page with an icon above a
// centred message, used to answer every failed login.
#include <cstdint>
#include <string>
#include <string_view>

#include "BuildConfig.h"

namespace nemvo {

// The database server's message for a user name and password it rejects, as
// the connection reports it (without the server's final period).
inline constexpr std::string_view LoginRejectedText =
    "Your user name and password are not defined. Ask your database administrator to set up a Firebird login";

// What the page shows in place of LoginRejectedText.
inline constexpr std::string_view LoginRejectedDisplay = "Usu\xE1rio/Senha inv\xE1lidos";

// Root address of the public web server ("http://host", no trailing slash):
// the page's icons, its favicon and the back link all point there.
inline constexpr std::string_view PublicWebServer = build::PublicWebServer;

// The icon shown above the message.
enum TMessageIcon : int32_t { miWarning = 0, miInfo = 1, miStop = 2, miQuestion = 3 };

// The page with `title` in its title element, `message` in the message box
// (LoginRejectedText, in any letter case of A-Z, shown as
// LoginRejectedDisplay), `extra` markup below the message and the icon of
// `kind`; any other kind shows no icon. The message is HTML-escaped: it is an
// error text and may carry bytes of the request. Title and extra are the
// caller's markup and go in unchanged.
std::string BuildMessagePage(std::string_view title, std::string_view message, std::string_view extra, int32_t kind);

}  // namespace nemvo
