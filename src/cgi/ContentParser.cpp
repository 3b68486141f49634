#include "cgi/ContentParser.h"

#include <algorithm>
#include <vector>

#include "cgi/DefaultContentParser.h"

namespace nemvo {

namespace {

std::vector<TContentParserClass>& Registry() {
  static std::vector<TContentParserClass> registry;
  return registry;
}

}  // namespace

void RegisterContentParser(const TContentParserClass& parserClass) { Registry().push_back(parserClass); }

void UnregisterContentParser(const TContentParserClass& parserClass) {
  std::erase_if(Registry(), [&](const TContentParserClass& c) { return c.CanParse == parserClass.CanParse; });
}

std::unique_ptr<TAbstractContentParser> CreateContentParser(TWebRequest& request) {
  const auto& registry = Registry();
  for (auto it = registry.rbegin(); it != registry.rend(); ++it)
    if (it->CanParse(request)) return it->Create(request);
  return std::make_unique<TContentParser>(request);
}

}  // namespace nemvo
