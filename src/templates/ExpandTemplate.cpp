#include "templates/ExpandTemplate.h"

#include "cgi/HTTPFields.h"
#include "templates/CopyParser.h"

namespace nemvo {

namespace {

std::string_view TrimControls(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= 32) s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= 32) s.remove_suffix(1);
  return s;
}

// Room for the whole page at once when the input can tell its size: the page
// is about as long as the template, and one allocation beats many.
std::string ReservedOutput(TStream& input) {
  std::string out;
  int64_t here = input.Position();
  int64_t rest = input.Size() - here;
  if (rest > 0) out.reserve(size_t(rest));
  return out;
}

}  // namespace

std::string ExpandTemplate(TStream& input, bool stripParamQuotes, const TTagHandler& handler) {
  static const TCharSet Space = CharSet(" ");
  std::string output = ReservedOutput(input);
  {
    TCopyParser parser(input, output);
    for (;;) {
      if (parser.CopyToTagStart() == TCopyParser::EndToken) break;
      // Blanks between "<" and what follows belong to a tag when a "#" comes;
      // otherwise they are text and go out with the "<".
      std::string blanks;
      if (parser.Advance(blanks) == '#') {
        parser.Advance(false);
        std::string tagString = parser.TokenText();
        std::string paramText = parser.CollectUntil('>');
        TStringList tagParams;
        SplitHTTPFields(Space, Space, TrimControls(paramText), tagParams, stripParamQuotes);
        if (handler) output += handler(tagString, tagParams);
        parser.Advance(true);
      } else {
        output += '<';
        output += blanks;
        // A "<" right after is text; any other token starts the next run.
        if (parser.Token() == '<') {
          parser.CopyToken();
          parser.Advance(true);
        }
      }
    }
  }
  return output;
}

}  // namespace nemvo
