#include "admin/MessagePage.h"

#include "base/HTMLEscape.h"

namespace nemvo {

namespace {

constexpr std::string_view IconPaths[] = {
    "/nemvoweb_images/warning.png",
    "/nemvoweb_images/info.png",
    "/nemvoweb_images/stop.png",
    "/nemvoweb_images/question.png",
};
constexpr std::string_view FaviconPath = "/nemvoweb_images/favicon.ico";

// The fixed pieces of the page, byte for byte.
constexpr std::string_view HeadStart =
    "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
    "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\"> "
    "<html xmlns=\"http://www.w3.org/1999/xhtml\"> "
    "<head> "
    "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\" /> "
    "<link rel=\"shortcut icon\" href=\"";
constexpr std::string_view HeadEnd = "\" type=\"image/x-icon\" /> <title>";
constexpr std::string_view AfterTitle[] = {"</title> ", "</head> ", "<body> "};
constexpr std::string_view IconBoxStart[] = {
    "    <div id=\"warning-box\" class=\"style1\" ",
    "        style=\"position: absolute; width: 128px; height: 128px; left: 50%; top: 40%; margin-top: -128px; "
    "margin-left: -64px;\"> ",
    "         <img alt=\"\" src=\"",
};
constexpr std::string_view IconBoxEnd[] = {
    "\" style=\"width: 128px; height: 128px; position: absolute\" /> ",
    "    </div> ",
};
constexpr std::string_view MessageBoxStart[] = {
    "    <div id=\"msg-box\" class=\"style2\" ",
    "    style=\"position: absolute; width: 90%; top: 50%; left: 50px; ",
    "    font-family: Arial, Helvetica, sans-serif; font-size: large; ",
    "    font-weight: normal; font-style: normal; color: #0066CC; text-align: center;\"> ",
};
constexpr std::string_view AfterMessage = "<br></br> ";
constexpr std::string_view PageEnd = "</div> </body> </html> ";

static_assert(IconBoxStart[0].size() == 41 && IconBoxStart[1].size() == 127 && IconBoxStart[2].size() == 26);
static_assert(IconBoxEnd[0].size() == 61 && IconBoxEnd[1].size() == 11);
static_assert(MessageBoxStart[0].size() == 37 && MessageBoxStart[1].size() == 65 &&
              MessageBoxStart[2].size() == 65 && MessageBoxStart[3].size() == 83);
static_assert(LoginRejectedText.size() == 103 && LoginRejectedDisplay.size() == 23);

char FoldAZ(char c) { return c >= 'A' && c <= 'Z' ? char(c + ('a' - 'A')) : c; }

bool SameTextAZ(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (FoldAZ(a[i]) != FoldAZ(b[i])) return false;
  return true;
}


}  // namespace

std::string BuildMessagePage(std::string_view title, std::string_view message, std::string_view extra, int32_t kind) {
  std::string page;
  page.reserve(1024 + title.size() + message.size() * 6 + extra.size());
  page += HeadStart;
  page += PublicWebServer;
  page += FaviconPath;
  page += HeadEnd;
  page += title;
  for (auto piece : AfterTitle) page += piece;
  for (auto piece : IconBoxStart) page += piece;
  if (kind >= 0 && kind < int32_t(std::size(IconPaths))) {
    page += PublicWebServer;
    page += IconPaths[kind];
  }
  for (auto piece : IconBoxEnd) page += piece;
  for (auto piece : MessageBoxStart) page += piece;
  if (SameTextAZ(message, LoginRejectedText)) {
    page += LoginRejectedDisplay;
  } else {
    AppendHTMLEscaped(page, message);
  }
  page += AfterMessage;
  page += extra;
  page += PageEnd;
  return page;
}

}  // namespace nemvo
