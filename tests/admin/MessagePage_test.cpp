#include "admin/MessagePage.h"

#include <gtest/gtest.h>

namespace nemvo {
namespace {

const std::string Server = build::PublicWebServer;

// The whole page, written out in one piece.
std::string Page(const std::string& title, const std::string& shown, const std::string& extra,
                 const std::string& icon) {
  return "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
         "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\"> <html xmlns=\"http://www.w3.org/1999/xhtml\"> "
         "<head> <meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\" /> "
         "<link rel=\"shortcut icon\" href=\"" +
         Server + "/nemvoweb_images/favicon.ico\" type=\"image/x-icon\" /> <title>" + title +
         "</title> </head> <body>     <div id=\"warning-box\" class=\"style1\"         style=\"position: absolute; "
         "width: 128px; height: 128px; left: 50%; top: 40%; margin-top: -128px; margin-left: -64px;\">          "
         "<img alt=\"\" src=\"" +
         icon +
         "\" style=\"width: 128px; height: 128px; position: absolute\" />     </div>     <div id=\"msg-box\" "
         "class=\"style2\"     style=\"position: absolute; width: 90%; top: 50%; left: 50px;     font-family: Arial, "
         "Helvetica, sans-serif; font-size: large;     font-weight: normal; font-style: normal; color: #0066CC; "
         "text-align: center;\"> " +
         shown + "<br></br> " + extra + "</div> </body> </html> ";
}

const std::string Warning = Server + "/nemvoweb_images/warning.png";
const std::string Rejected = "Usu\xE1rio/Senha inv\xE1lidos";
const std::string LoginText(LoginRejectedText);

TEST(BuildMessagePage, RejectedLoginWorkedExample) {
  const std::string title = "Nemvo.Web - Administra\xE7\xE3o - Erro";
  const std::string back = "<a href=\"" + Server + "\">Voltar</a>";
  std::string page = BuildMessagePage(title, LoginText, back, 0);
  EXPECT_EQ(page, Page(title, Rejected, back, Warning));
  EXPECT_NE(page.find("<title>Nemvo.Web - Administra\xE7\xE3o - Erro</title> </head> <body> "), std::string::npos);
  EXPECT_TRUE(page.ends_with("text-align: center;\"> Usu\xE1rio/Senha inv\xE1lidos<br></br> <a href=\"" + Server +
                             "\">Voltar</a></div> </body> </html> "));
  EXPECT_EQ(page.find('\n'), std::string::npos);
}

TEST(BuildMessagePage, RecognisesTheRejectionInAnyCaseOfAToZOnly) {
  std::string upper = LoginText;
  for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
  std::string partly = LoginText;
  partly[0] = 'y';
  partly[5] = 'U';
  const std::pair<std::string, std::string> cases[] = {
      {LoginText, Rejected},
      {upper, Rejected},
      {partly, Rejected},
      {LoginText + ".", LoginText + "."},
      {" " + LoginText, " " + LoginText},
      {LoginText + "\r\n", LoginText + "\r\n"},
      {LoginText + "\nmore", LoginText + "\nmore"},
      {"", ""},
      {"Usu\xC1rio", "Usu\xC1rio"},
  };
  for (const auto& [message, shown] : cases)
    EXPECT_EQ(BuildMessagePage("T", message, "E", 0), Page("T", shown, "E", Warning)) << message;
}

TEST(BuildMessagePage, IconsByKind) {
  const std::pair<int32_t, std::string> cases[] = {
      {0, Warning},
      {1, Server + "/nemvoweb_images/info.png"},
      {2, Server + "/nemvoweb_images/stop.png"},
      {3, Server + "/nemvoweb_images/question.png"},
      {4, ""},
      {-1, ""},
      {INT32_MIN, ""},
      {INT32_MAX, ""},
  };
  for (const auto& [kind, icon] : cases) EXPECT_EQ(BuildMessagePage("T", "m", "E", kind), Page("T", "m", "E", icon));
  EXPECT_NE(BuildMessagePage("T", "m", "E", 4).find("<img alt=\"\" src=\"\" style="), std::string::npos);
}

TEST(BuildMessagePage, EmptyInputs) {
  std::string page = BuildMessagePage("", "", "", 0);
  EXPECT_EQ(page, Page("", "", "", Warning));
  EXPECT_NE(page.find("<title></title> "), std::string::npos);
  EXPECT_NE(page.find("center;\"> <br></br> </div> "), std::string::npos);
}

// The message is an error text that may quote the request: it is escaped.
// Title and extra are the caller's own markup and are not.
TEST(BuildMessagePage, EscapesTheMessageOnly) {
  EXPECT_EQ(BuildMessagePage("<b>T</b>", "<b>&\"x\"</b>'\r\nline 2\xE9", "<i>&amp;</i>", 0),
            Page("<b>T</b>", "&lt;b&gt;&amp;&quot;x&quot;&lt;/b&gt;'\r\nline 2\xE9", "<i>&amp;</i>", Warning));
}

}  // namespace
}  // namespace nemvo
