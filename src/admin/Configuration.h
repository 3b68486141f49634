#pragma once
// Where the program finds its configuration and what it reads there.
#include <charconv>
#include <string>
#include <string_view>

#include "BuildConfig.h"

namespace nemvo {

// The one configuration file, at a fixed path chosen when the program is built.
inline constexpr const char* ConfigFilePath = build::ConfigPath;

// The section that holds both keys the program reads.
inline constexpr const char* ConfigSection = "Nemvo.FrameWork";
// The support database users log into ("server:path"); read on every request.
inline constexpr const char* DBSuporteKey = "DBSuporte";
// The template of the main page; read once the database has accepted a login.
inline constexpr const char* MainHTMLKey = "MainHTML";

// Whole seconds a login may wait for the database server before the visitor
// gets the message page: read on every request, before connecting. 0 leaves
// the wait to the client library (three minutes for a server that accepts
// and never answers); a value that is not a whole number from 0 to
// MaxLoginTimeout gives the default.
inline constexpr const char* LoginTimeoutKey = "LoginTimeout";
inline constexpr int DefaultLoginTimeout = 15;
inline constexpr int MaxLoginTimeout = 3600;

// The bound a LoginTimeout value gives (the file's reader has trimmed it).
inline int LoginTimeoutSeconds(std::string_view text) {
  int seconds = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), seconds);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || seconds < 0 ||
      seconds > MaxLoginTimeout)
    return DefaultLoginTimeout;
  return seconds;
}

// The support database when the file names none: the LAN database server
// chosen at build time, and the database's path on that server.
inline std::string DefaultDBSuporte() { return std::string(build::DBServer) + ":D:\\Nemvo\\Dados\\NEMVOSUPORTE.FDB"; }

}  // namespace nemvo
