// What the site must answer, for the site tests' shell scripts: the same
// expected pages as the black-box tests (tests/support/ExpectedPages.h), and
// the main page as the token-by-token reading of the tag rules gives it
// (tests/templates/TemplateReference.h), so that no pattern over the
// template's lines stands in for the tag scanner.
//
//   site_expected_page message-head    the message page up to the message
//   site_expected_page message-tail    the message page after the message
//   site_expected_page main TEMPLATE   the template with its transparent tags removed
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include "support/ExpectedPages.h"
#include "templates/TemplateReference.h"

int main(int argc, char** argv) {
  using namespace nemvo::testing;
  const std::string what = argc > 1 ? argv[1] : "";
  // The page with a marker where the message goes, cut at the marker.
  const std::string page = MessagePage("\x01");
  const size_t marker = page.find('\x01');
  std::string out;
  if (what == "message-head" && argc == 2) {
    out = page.substr(0, marker);
  } else if (what == "message-tail" && argc == 2) {
    out = page.substr(marker + 1);
  } else if (what == "main" && argc == 3) {
    std::ifstream in(argv[2], std::ios::binary);
    if (!in) {
      std::cerr << "cannot read " << argv[2] << "\n";
      return 1;
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const Outcome expanded = TReferenceExpansion(text, true, false).Run();
    if (!expanded.error.empty()) {
      std::cerr << argv[2] << ": " << expanded.error << " " << expanded.message << "\n";
      return 1;
    }
    out = expanded.page;
  } else {
    std::cerr << "usage: site_expected_page message-head | message-tail | main TEMPLATE\n";
    return 2;
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}
