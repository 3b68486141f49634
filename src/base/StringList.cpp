#include "base/StringList.h"

#include "base/Component.h"
#include "base/Exception.h"

namespace nemvo {

void TStringList::Changing() {
  if (fUpdateCount == 0 && OnChanging) OnChanging(*this);
}

void TStringList::Changed() {
  if (fUpdateCount == 0 && OnChange) OnChange(*this);
}

void TStringList::BeginUpdate() {
  // Counted only once OnChanging has let the change go ahead: a handler that
  // refuses must not leave the list deaf to later changes.
  if (fUpdateCount == 0) Changing();
  ++fUpdateCount;
}

void TStringList::EndUpdate() {
  if (fUpdateCount > 0 && --fUpdateCount == 0) Changed();
}

void TStringList::Add(std::string line) {
  Changing();
  fLines.push_back(std::move(line));
  Changed();
}

void TStringList::Insert(int index, std::string line) {
  if (index < 0 || index > Count()) throw EStringListError(Format("List index out of bounds (%d)", index));
  Changing();
  fLines.insert(fLines.begin() + index, std::move(line));
  Changed();
}

void TStringList::Put(int index, std::string line) {
  if (index < 0 || index >= Count()) throw EStringListError(Format("List index out of bounds (%d)", index));
  Changing();
  fLines[size_t(index)] = std::move(line);
  Changed();
}

void TStringList::Delete(int index) {
  if (index < 0 || index >= Count()) throw EStringListError(Format("List index out of bounds (%d)", index));
  Changing();
  fLines.erase(fLines.begin() + index);
  Changed();
}

void TStringList::Clear() {
  if (fLines.empty()) return;
  Changing();
  fLines.clear();
  Changed();
}

void TStringList::Assign(const TStringList& other) {
  if (&other == this) return;
  Changing();
  fLines = other.fLines;
  Changed();
}

std::string TStringList::Text() const {
  std::string out;
  for (const auto& line : fLines) {
    out += line;
    out += "\r\n";
  }
  return out;
}

void TStringList::SetText(std::string_view text) {
  BeginUpdate();
  fLines.clear();
  size_t i = 0;
  while (i < text.size()) {
    size_t start = i;
    while (i < text.size() && text[i] != '\r' && text[i] != '\n') ++i;
    fLines.emplace_back(text.substr(start, i - start));
    if (i < text.size() && text[i] == '\r') ++i;
    if (i < text.size() && text[i] == '\n') ++i;
  }
  EndUpdate();
}

std::string_view TStringList::NameOfLine(std::string_view line) {
  size_t eq = line.find('=');
  return eq == std::string_view::npos ? line : line.substr(0, eq);
}

std::string TStringList::Names(int index) const {
  const std::string& line = Strings(index);
  size_t eq = line.find('=');
  return eq == std::string::npos ? std::string() : line.substr(0, eq);
}

std::string TStringList::ValueFromIndex(int index) const {
  const std::string& line = Strings(index);
  size_t eq = line.find('=');
  return eq == std::string::npos ? std::string() : line.substr(eq + 1);
}

int TStringList::IndexOfName(std::string_view name) const {
  for (size_t i = 0; i < fLines.size(); ++i) {
    size_t eq = fLines[i].find('=');
    if (eq != std::string::npos && SameText(std::string_view(fLines[i]).substr(0, eq), name)) return int(i);
  }
  return -1;
}

int TStringList::IndexOf(std::string_view line) const {
  for (size_t i = 0; i < fLines.size(); ++i)
    if (SameText(fLines[i], line)) return int(i);
  return -1;
}

std::string TStringList::Values(std::string_view name) const {
  int i = IndexOfName(name);
  return i < 0 ? std::string() : ValueFromIndex(i);
}

void TStringList::SetValues(std::string_view name, std::string_view value) {
  int i = IndexOfName(name);
  if (value.empty()) {
    if (i >= 0) Delete(i);
    return;
  }
  std::string line = std::string(name) + "=" + std::string(value);
  if (i < 0) Add(std::move(line));
  else Put(i, std::move(line));
}

}  // namespace nemvo
