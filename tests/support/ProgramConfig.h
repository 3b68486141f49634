#pragma once
// The configuration file of the program under test. The program reads it
// from a path fixed when it was built (NEMVO_CONFIG_PATH); the test build
// points that path into the build directory, so the tests may write it.
// Every test that does holds the CTest resource lock "nemvo_config".
#include <gtest/gtest.h>
#include <stdio.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "support/Prerequisites.h"

namespace nemvo::testing {

class ProgramConfig {
 public:
  static std::string Path() { return NEMVO_TEST_CONFIG_PATH; }
  // False when the program was built to read a file outside the build
  // directory (a deployment path the tests must not touch).
  static bool Writable() { return NEMVO_TEST_CONFIG_WRITABLE; }

  // Replaces the file at once, so that no reader sees half of it.
  static void Write(const std::string& text) {
    const std::filesystem::path path = Path();
    std::filesystem::create_directories(path.parent_path());
    const std::string temporary = path.string() + ".tmp";
    {
      std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
      out << text;
      if (!out) throw std::runtime_error("cannot write " + temporary);
    }
    std::filesystem::permissions(temporary, std::filesystem::perms(0644));
    std::filesystem::rename(temporary, path);
  }

  // The section the program reads, with the given lines. The login throttle
  // is off unless the lines set it or give it a record of its own: every
  // test logs in from the same address and would wait for the refusals of
  // the tests before it.
  static void WriteSection(const std::string& lines) {
    const bool throttled = lines.find("LoginFailures=") != std::string::npos ||
                           lines.find("LoginStateFile=") != std::string::npos;
    Write("[Nemvo.FrameWork]\n" + lines + (throttled ? "" : "LoginFailures=0\n"));
  }

  static void Remove() { std::filesystem::remove(Path()); }
};

// Skips (or, in the test command, fails) the current test when the
// configuration file may not be written.
#define NEMVO_REQUIRE_WRITABLE_CONFIG()                                                          \
  NEMVO_REQUIRE(::nemvo::testing::ProgramConfig::Writable(),                                     \
                "nemvoweb reads " << ::nemvo::testing::ProgramConfig::Path()                     \
                                  << "; configure with -DNEMVO_CONFIG_PATH=<build dir>/test-config/Nemvo.Config")

}  // namespace nemvo::testing
