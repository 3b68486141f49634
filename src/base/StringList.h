#pragma once
// An ordered list of text lines, most often of the form name=value. Lines keep
// the order they were added in; duplicates and lines without "=" are allowed.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace nemvo {

class TStringList {
 public:
  using TNotifyEvent = std::function<void(TStringList& sender)>;

  TStringList() = default;
  TStringList(std::initializer_list<std::string> lines) : fLines(lines) {}

  int Count() const { return int(fLines.size()); }
  const std::string& operator[](int index) const { return fLines.at(size_t(index)); }
  const std::string& Strings(int index) const { return fLines.at(size_t(index)); }
  const std::vector<std::string>& Lines() const { return fLines; }
  bool Empty() const { return fLines.empty(); }

  void Add(std::string line);
  void Insert(int index, std::string line);
  void Put(int index, std::string line);
  void Delete(int index);
  void Clear();
  void Assign(const TStringList& other);

  // All lines, each followed by CR LF.
  std::string Text() const;
  // Replaces the lines with those of `text`, split at CR LF, LF or CR.
  void SetText(std::string_view text);

  // Name and value of a line split at its first "="; a line without "=" has
  // the whole line as its name for IndexOfName but no value.
  static std::string_view NameOfLine(std::string_view line);
  std::string Names(int index) const;
  std::string ValueFromIndex(int index) const;
  // Index of the first line whose name equals `name`, letters A-Z compared
  // without case; -1 when none.
  int IndexOfName(std::string_view name) const;
  int IndexOf(std::string_view line) const;
  // Value of the first line named `name` (A-Z without case), or empty.
  std::string Values(std::string_view name) const;
  // Sets the value of the first line named `name`, appends "name=value" when
  // there is none, and deletes the line when `value` is empty.
  void SetValues(std::string_view name, std::string_view value);

  // Called around every change: OnChanging before, OnChange after.
  TNotifyEvent OnChanging;
  TNotifyEvent OnChange;

  // Groups several changes into one pair of notifications.
  void BeginUpdate();
  void EndUpdate();

 private:
  void Changing();
  void Changed();

  std::vector<std::string> fLines;
  int fUpdateCount = 0;
};

}  // namespace nemvo
