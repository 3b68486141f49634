// The database parameter block over any parameter lines (the input cut at
// line feeds). The block is read back item by item in step with the lines
// that name a parameter: the version byte, then for each such line its item
// code, a length byte and exactly that many value bytes, as the published
// format has them, and nothing after the last item. A block the attach call
// cannot carry (its length travels as a signed 16-bit number) is a finding.
// Refusals are the client errors for an unknown or unencodable name and a
// value too long, and the conversion error for a value that is no integer.
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <ibase.h>

#include "FuzzCheck.h"
#include "base/Exception.h"
#include "db/DatabaseParameterBlock.h"
#include "db/IBErrors.h"

namespace {

enum class Encoding { Text, Dialect, Byte, Sweep, Interval, Flag, None };

// The names the block builder encodes, with Firebird's own codes for them
// (ibase.h), not the builder's table: a name given the wrong code is a
// finding. instance_name has no name in Firebird's header; its number is
// the older one the builder keeps.
struct Item {
  std::string_view name;
  int code;
  Encoding encoding;
};
constexpr Item kItems[] = {
    {"license", isc_dpb_license, Encoding::Text},
    {"sys_user_name", isc_dpb_sys_user_name, Encoding::Text},
    {"encrypt_key", isc_dpb_encrypt_key, Encoding::Text},
    {"user_name", isc_dpb_user_name, Encoding::Text},
    {"password", isc_dpb_password, Encoding::Text},
    {"password_enc", isc_dpb_password_enc, Encoding::Text},
    {"old_file_name", isc_dpb_old_file, Encoding::Text},
    {"lc_messages", isc_dpb_lc_messages, Encoding::Text},
    {"lc_ctype", isc_dpb_lc_ctype, Encoding::Text},
    {"sql_role_name", isc_dpb_sql_role_name, Encoding::Text},
    {"instance_name", 75, Encoding::Text},
    {"sql_dialect", isc_dpb_sql_dialect, Encoding::Dialect},
    {"num_buffers", isc_dpb_num_buffers, Encoding::Byte},
    {"verify", isc_dpb_verify, Encoding::Byte},
    {"dbkey_scope", isc_dpb_dbkey_scope, Encoding::Byte},
    {"damaged", isc_dpb_damaged, Encoding::Byte},
    {"force_write", isc_dpb_force_write, Encoding::Byte},
    {"no_reserve", isc_dpb_no_reserve, Encoding::Byte},
    {"online_dump", isc_dpb_online_dump, Encoding::Byte},
    {"old_file_size", isc_dpb_old_file_size, Encoding::Byte},
    {"overwrite", isc_dpb_overwrite, Encoding::Byte},
    {"sweep", isc_dpb_sweep, Encoding::Sweep},
    {"sweep_interval", isc_dpb_sweep_interval, Encoding::Interval},
    {"activate_shadow", isc_dpb_activate_shadow, Encoding::Flag},
    {"delete_shadow", isc_dpb_delete_shadow, Encoding::Flag},
    {"begin_log", isc_dpb_begin_log, Encoding::Flag},
    {"quit_log", isc_dpb_quit_log, Encoding::Flag},
};

bool BlankName(std::string_view name) {
  for (char c : name)
    if (static_cast<unsigned char>(c) > ' ') return false;
  return true;
}

// The item a line's name encodes as, none when the name is unknown or has
// no encoding.
const Item* ItemOf(std::string name) {
  for (char& c : name)
    if (c >= 'A' && c <= 'Z') c = char(c + 32);
  if (name.starts_with("isc_dpb_")) name.erase(0, 8);
  for (const Item& item : kItems)
    if (name == item.name) return &item;
  return nullptr;
}

// A value of decimal digits with an optional "-" that fits 32 bits signed.
std::optional<int32_t> PlainDecimal(const std::string& value) {
  int32_t n = 0;
  const char* end = value.data() + value.size();
  auto [stop, error] = std::from_chars(value.data(), end, n);
  if (error != std::errc() || stop != end) return std::nullopt;
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace nemvo;
  using nemvo::fuzzing::Quoted;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  TStringList params;
  for (size_t start = 0; start <= text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    params.Add(std::string(text.substr(start, end - start)));
    start = end + 1;
  }

  std::string block;
  try {
    block = BuildParameterBlock(params);
  } catch (const EIBClientError& e) {
    const auto kind = ClientErrorKind(e.SqlErrorNumber());
    FUZZ_CHECK(kind == ClientErrorKind::ceDpbItemUnrecognised || kind == ClientErrorKind::ceDpbItemNotSupported ||
                   kind == ClientErrorKind::ceDpbValueTooLong,
               "client error " + std::to_string(e.SqlErrorNumber()) + " " + Quoted(e.Message()));
    if (kind != ClientErrorKind::ceDpbValueTooLong) {
      bool unknown = false;
      for (const std::string& line : params.Lines()) {
        const size_t eq = line.find('=');
        const std::string name = eq == std::string::npos ? std::string() : line.substr(0, eq);
        unknown = unknown || (!BlankName(name) && ItemOf(name) == nullptr);
      }
      FUZZ_CHECK(unknown, "every name encodes, yet " + Quoted(e.Message()));
    }
    return 0;
  } catch (const EConvertError& e) {
    FUZZ_CHECK(e.Message().ends_with("' is not a valid integer value"), "conversion error " + Quoted(e.Message()));
    return 0;
  }

  FUZZ_CHECK(!block.empty() && block[0] == isc_dpb_version1, "the block does not start with the version byte");
  FUZZ_CHECK(block.size() <= 32767, "a block of " + std::to_string(block.size()) + " bytes");
  size_t at = 1;
  for (const std::string& line : params.Lines()) {
    const size_t eq = line.find('=');
    const std::string name = eq == std::string::npos ? std::string() : line.substr(0, eq);
    if (BlankName(name)) continue;
    const std::string value = line.substr(eq + 1);
    const Item* item = ItemOf(name);
    FUZZ_CHECK(item != nullptr, "no error for the line " + Quoted(line));
    const int code = item->code;

    FUZZ_CHECK(at + 2 <= block.size(), "the block ends before the item of " + Quoted(line));
    FUZZ_CHECK(static_cast<unsigned char>(block[at]) == code,
               "item code " + std::to_string(static_cast<unsigned char>(block[at])) + " for " + Quoted(line));
    const size_t length = static_cast<unsigned char>(block[at + 1]);
    FUZZ_CHECK(at + 2 + length <= block.size(), "an item longer than the block, for " + Quoted(line));
    const std::string_view bytes = std::string_view(block).substr(at + 2, length);
    at += 2 + length;

    switch (item->encoding) {
      case Encoding::Text:
        FUZZ_CHECK(bytes == value, "the item of " + Quoted(line) + " holds " + Quoted(bytes));
        FUZZ_CHECK(code != isc_dpb_user_name || value.size() <= MaxDpbUserNameLength, "an overlong user name went into the block");
        break;
      case Encoding::Dialect:
        FUZZ_CHECK(bytes.size() == value.size() && (value.empty() || (bytes.substr(1) == std::string_view(value).substr(1) &&
                                                                      char(bytes[0] + '0') == value[0])),
                   "the dialect item of " + Quoted(line) + " holds " + Quoted(bytes));
        break;
      case Encoding::Byte:
        FUZZ_CHECK(length == 1, "a one-byte item of length " + std::to_string(length));
        if (auto n = PlainDecimal(value))
          FUZZ_CHECK(static_cast<unsigned char>(bytes[0]) == (uint32_t(*n) & 0xFF), "the byte of " + Quoted(line));
        break;
      case Encoding::Sweep:
        FUZZ_CHECK(bytes == std::string_view("\x02", 1), "the sweep item holds " + Quoted(bytes));
        break;
      case Encoding::Interval:
        FUZZ_CHECK(length == 4, "a four-byte item of length " + std::to_string(length));
        if (auto n = PlainDecimal(value)) {
          uint32_t read = 0;
          for (int i = 3; i >= 0; --i) read = (read << 8) | static_cast<unsigned char>(bytes[size_t(i)]);
          FUZZ_CHECK(read == uint32_t(*n), "the four bytes of " + Quoted(line) + ": " + Quoted(bytes));
        }
        break;
      case Encoding::Flag:
        FUZZ_CHECK(bytes == std::string_view("\x00", 1), "a flag item holds " + Quoted(bytes));
        break;
      case Encoding::None:
        break;
    }
  }
  FUZZ_CHECK(at == block.size(), "bytes after the last item: " + Quoted(block));
  return 0;
}
