#pragma once
// Where the program finds its configuration and what it reads there.
#include <string>

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

// The support database when the file names none: the LAN database server
// chosen at build time, and the database's path on that server.
inline std::string DefaultDBSuporte() { return std::string(build::DBServer) + ":D:\\Nemvo\\Dados\\NEMVOSUPORTE.FDB"; }

}  // namespace nemvo
