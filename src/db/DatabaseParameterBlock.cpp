#include "db/DatabaseParameterBlock.h"

#include <ibase.h>

#include <cstdint>
#include <string_view>

#include "base/Exception.h"
#include "base/Format.h"
#include "db/ErrorReporting.h"

namespace nemvo {

const std::array<const char*, DpbItemCount> DpbItemNames = {
    "cdd_pathname",          "allocation",          "journal",             "page_size",
    "num_buffers",           "buffer_length",       "debug",               "garbage_collect",
    "verify",                "sweep",               "enable_journal",      "disable_journal",
    "dbkey_scope",           "number_of_users",     "trace",               "no_garbage_collect",
    "damaged",               "license",             "sys_user_name",       "encrypt_key",
    "activate_shadow",       "sweep_interval",      "delete_shadow",       "force_write",
    "begin_log",             "quit_log",            "no_reserve",          "user_name",
    "password",              "password_enc",        "sys_user_name_enc",   "interp",
    "online_dump",           "old_file_size",       "old_num_files",       "old_file_name",
    "old_start_page",        "old_start_seqno",     "old_start_file",      "drop_walfile",
    "old_dump_id",           "wal_backup_dir",      "wal_chkptlen",        "wal_numbufs",
    "wal_bufsize",           "wal_grp_cmt_wait",    "lc_messages",         "lc_ctype",
    "cache_manager",         "shutdown",            "online",              "shutdown_delay",
    "reserved",              "overwrite",           "sec_attach",          "disable_wal",
    "connect_timeout",       "dummy_packet_interval", "gbak_attach",       "sql_role_name",
    "set_page_buffers",      "working_directory",   "sql_dialect",         "set_db_readonly",
    "set_db_sql_dialect",    "gfix_attach",         "gstat_attach",        "gbak_ods_version",
    "gbak_ods_minor_version", "set_group_commit",   "gbak_validate",       "client_interbase_var",
    "admin_option",          "flush_interval",      "instance_name",       "old_overwrite",
    "archive_database",      "archive_journals",    "archive_sweep",       "archive_dumps",
    "archive_recover",       "recover_until",       "force",
};

namespace {

enum class Encoding { Unsupported, Text, Dialect, Byte, Sweep, Interval, Flag };

Encoding EncodingOf(int code) {
  switch (code) {
    case 18: case 19: case 20: case 28: case 29: case 30: case 36: case 47: case 48: case 60: case 75:
      return Encoding::Text;
    case 63:
      return Encoding::Dialect;
    case 5: case 9: case 13: case 17: case 24: case 27: case 33: case 34: case 54:
      return Encoding::Byte;
    case 10:
      return Encoding::Sweep;
    case 22:
      return Encoding::Interval;
    case 21: case 23: case 25: case 26:
      return Encoding::Flag;
    default:
      return Encoding::Unsupported;
  }
}

bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= ' '; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlankOrControl(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlankOrControl(s.back())) s.remove_suffix(1);
  return s;
}

// An integer as parameter values write them: optional blanks, a sign, then
// decimal digits or "$"/"0x" and hex digits, within 32 bits.
int32_t ReadInteger(std::string_view value) {
  auto fail = [&]() -> int32_t { throw EConvertError(Format("'%s' is not a valid integer value", std::string(value))); };
  size_t i = 0;
  while (i < value.size() && value[i] == ' ') ++i;
  bool negative = false;
  if (i < value.size() && (value[i] == '-' || value[i] == '+')) negative = value[i++] == '-';
  int base = 10;
  if (i < value.size() && value[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < value.size() && value[i] == '0' && (value[i + 1] == 'x' || value[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= value.size()) return fail();
  int64_t n = 0;
  for (; i < value.size(); ++i) {
    char c = value[i];
    int digit;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else return fail();
    n = n * base + digit;
    // Hex may spell the full 32-bit pattern; decimal must fit the signed range.
    if (n > (base == 16 ? int64_t(0xFFFFFFFF) : int64_t(0x80000000))) return fail();
  }
  if (base == 10 && !negative && n > INT32_MAX) return fail();
  uint32_t bits = static_cast<uint32_t>(n);
  if (negative) bits = 0u - bits;
  return static_cast<int32_t>(bits);
}

void AppendText(std::string& block, int code, const std::string& name, std::string_view value) {
  // One length byte: a longer value would spill into the following items.
  // A user name past the server's limit takes the server itself down.
  if (value.size() > 255 || (code == isc_dpb_user_name && value.size() > MaxDpbUserNameLength))
    RaiseClientError(ClientErrorKind::ceDpbValueTooLong, name);
  block.push_back(char(code));
  block.push_back(char(value.size()));
  block.append(value);
}

}  // namespace

void AppendConnectTimeout(std::string& block, int seconds) {
  const uint32_t n = static_cast<uint32_t>(seconds);
  block.push_back(char(isc_dpb_connect_timeout));
  block.push_back(4);
  for (int i = 0; i < 4; ++i) block.push_back(char((n >> (8 * i)) & 0xFF));
}

std::string BuildParameterBlock(const TStringList& params) {
  std::string block(1, char(isc_dpb_version1));
  for (const std::string& line : params.Lines()) {
    size_t eq = line.find('=');
    std::string written = eq == std::string::npos ? std::string() : line.substr(0, eq);
    if (Trim(written).empty()) continue;
    // A view: the value may be as large as a request's body, and a text item
    // longer than its one length byte is refused without being copied.
    std::string_view value = std::string_view(line).substr(eq + 1);

    std::string name = written;
    for (char& c : name)
      if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    if (name.starts_with("isc_dpb_")) name.erase(0, 8);

    int code = 0;
    for (int i = 0; i < DpbItemCount; ++i)
      if (name == DpbItemNames[size_t(i)]) {
        code = i + 1;
        break;
      }
    if (code == 0) RaiseClientError(ClientErrorKind::ceDpbItemUnrecognised, written);

    switch (EncodingOf(code)) {
      case Encoding::Text:
        AppendText(block, code, name, value);
        break;
      case Encoding::Dialect: {
        // The dialect travels as the number itself in the first byte, "3" as 3.
        std::string dialect(value);
        if (!dialect.empty()) dialect[0] = char(static_cast<unsigned char>(dialect[0]) - '0');
        AppendText(block, code, name, dialect);
        break;
      }
      case Encoding::Byte: {
        int32_t n = ReadInteger(value);
        block.push_back(char(code));
        block.push_back(1);
        block.push_back(char(n & 0xFF));
        break;
      }
      case Encoding::Sweep:
        block.append({char(code), 1, 2});
        break;
      case Encoding::Interval: {
        uint32_t n = static_cast<uint32_t>(ReadInteger(value));
        block.push_back(char(code));
        block.push_back(4);
        for (int i = 0; i < 4; ++i) block.push_back(char((n >> (8 * i)) & 0xFF));
        break;
      }
      case Encoding::Flag:
        block.append({char(code), 1, 0});
        break;
      case Encoding::Unsupported:
        RaiseClientError(ClientErrorKind::ceDpbItemNotSupported, DpbItemNames[size_t(code - 1)]);
    }
    if (block.size() > MaxDpbLength) RaiseClientError(ClientErrorKind::ceDpbValueTooLong, name);
  }
  return block;
}

}  // namespace nemvo
