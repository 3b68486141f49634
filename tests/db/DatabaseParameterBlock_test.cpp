// Building the parameter block from Params lines: the bytes the server gets,
// and the lines refused before anything is sent.
#include "db/DatabaseParameterBlock.h"

#include <gtest/gtest.h>
#include <ibase.h>

#include <string>
#include <vector>

#include "db/IBErrors.h"

using namespace nemvo;

namespace {

std::string Bytes(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s.push_back(char(b));
  return s;
}

std::string Block(std::initializer_list<std::string> lines) {
  TStringList params;
  for (const auto& l : lines) params.Add(l);
  return BuildParameterBlock(params);
}

struct BlockCase {
  const char* what;
  std::vector<std::string> lines;
  std::string block;
};

}  // namespace

// Every name the block builder knows that Firebird's own header names too
// must carry that header's code: the server reads the block by these codes.
// (Past 67 the builder's names are older ones that the header gives other
// numbers or none; the ones among them that encode are checked in
// Encodings.)
TEST(DatabaseParameterBlock, ItemCodesAreFirebirdsOwn) {
  struct Named {
    const char* name;
    int code;
  };
  const Named names[] = {
      {"cdd_pathname", isc_dpb_cdd_pathname},       {"allocation", isc_dpb_allocation},
      {"journal", isc_dpb_journal},                 {"page_size", isc_dpb_page_size},
      {"num_buffers", isc_dpb_num_buffers},         {"buffer_length", isc_dpb_buffer_length},
      {"debug", isc_dpb_debug},                     {"garbage_collect", isc_dpb_garbage_collect},
      {"verify", isc_dpb_verify},                   {"sweep", isc_dpb_sweep},
      {"enable_journal", isc_dpb_enable_journal},   {"disable_journal", isc_dpb_disable_journal},
      {"dbkey_scope", isc_dpb_dbkey_scope},         {"number_of_users", isc_dpb_number_of_users},
      {"trace", isc_dpb_trace},                     {"no_garbage_collect", isc_dpb_no_garbage_collect},
      {"damaged", isc_dpb_damaged},                 {"license", isc_dpb_license},
      {"sys_user_name", isc_dpb_sys_user_name},     {"encrypt_key", isc_dpb_encrypt_key},
      {"activate_shadow", isc_dpb_activate_shadow}, {"sweep_interval", isc_dpb_sweep_interval},
      {"delete_shadow", isc_dpb_delete_shadow},     {"force_write", isc_dpb_force_write},
      {"begin_log", isc_dpb_begin_log},             {"quit_log", isc_dpb_quit_log},
      {"no_reserve", isc_dpb_no_reserve},           {"user_name", isc_dpb_user_name},
      {"password", isc_dpb_password},               {"password_enc", isc_dpb_password_enc},
      {"sys_user_name_enc", isc_dpb_sys_user_name_enc}, {"interp", isc_dpb_interp},
      {"online_dump", isc_dpb_online_dump},         {"old_file_size", isc_dpb_old_file_size},
      {"old_num_files", isc_dpb_old_num_files},     {"old_file_name", isc_dpb_old_file},
      {"old_start_page", isc_dpb_old_start_page},   {"old_start_seqno", isc_dpb_old_start_seqno},
      {"old_start_file", isc_dpb_old_start_file},   {"drop_walfile", isc_dpb_drop_walfile},
      {"old_dump_id", isc_dpb_old_dump_id},         {"wal_backup_dir", isc_dpb_wal_backup_dir},
      {"wal_chkptlen", isc_dpb_wal_chkptlen},       {"wal_numbufs", isc_dpb_wal_numbufs},
      {"wal_bufsize", isc_dpb_wal_bufsize},         {"wal_grp_cmt_wait", isc_dpb_wal_grp_cmt_wait},
      {"lc_messages", isc_dpb_lc_messages},         {"lc_ctype", isc_dpb_lc_ctype},
      {"cache_manager", isc_dpb_cache_manager},     {"shutdown", isc_dpb_shutdown},
      {"online", isc_dpb_online},                   {"shutdown_delay", isc_dpb_shutdown_delay},
      {"reserved", isc_dpb_reserved},               {"overwrite", isc_dpb_overwrite},
      {"sec_attach", isc_dpb_sec_attach},           {"disable_wal", isc_dpb_disable_wal},
      {"connect_timeout", isc_dpb_connect_timeout}, {"dummy_packet_interval", isc_dpb_dummy_packet_interval},
      {"gbak_attach", isc_dpb_gbak_attach},         {"sql_role_name", isc_dpb_sql_role_name},
      {"set_page_buffers", isc_dpb_set_page_buffers}, {"working_directory", isc_dpb_working_directory},
      {"sql_dialect", isc_dpb_sql_dialect},         {"set_db_readonly", isc_dpb_set_db_readonly},
      {"set_db_sql_dialect", isc_dpb_set_db_sql_dialect}, {"gfix_attach", isc_dpb_gfix_attach},
      {"gstat_attach", isc_dpb_gstat_attach},
  };
  for (const auto& n : names) {
    ASSERT_GE(n.code, 1);
    ASSERT_LE(n.code, DpbItemCount);
    EXPECT_STREQ(n.name, DpbItemNames[size_t(n.code - 1)]) << "code " << n.code;
  }
}

TEST(DatabaseParameterBlock, Encodings) {
  const std::string v1 = Bytes({isc_dpb_version1});
  const BlockCase cases[] = {
      {"the login's two lines", {"user_name=ana", "password=pw"},
       v1 + Bytes({isc_dpb_user_name, 3}) + "ana" + Bytes({isc_dpb_password, 2}) + "pw"},
      {"empty values", {"user_name=", "password="}, Bytes({isc_dpb_version1, isc_dpb_user_name, 0, isc_dpb_password, 0})},
      {"no lines", {}, v1},
      {"password holding =", {"password=a=b="}, v1 + Bytes({isc_dpb_password, 4}) + "a=b="},
      {"value kept untrimmed", {"password= x "}, v1 + Bytes({isc_dpb_password, 3}) + " x "},
      {"line without = skipped", {"user_name"}, v1},
      {"blank name skipped", {" \t=x", "=y"}, v1},
      {"capitals", {"USER_NAME=a"}, v1 + Bytes({isc_dpb_user_name, 1}) + "a"},
      {"isc_dpb_ prefix", {"isc_dpb_user_name=a"}, v1 + Bytes({isc_dpb_user_name, 1}) + "a"},
      {"prefix in capitals", {"ISC_DPB_Password=a"}, v1 + Bytes({isc_dpb_password, 1}) + "a"},
      {"sql_dialect as a number byte", {"sql_dialect=3"}, v1 + Bytes({isc_dpb_sql_dialect, 1, 3})},
      {"sql_dialect empty", {"sql_dialect="}, v1 + Bytes({isc_dpb_sql_dialect, 0})},
      {"lc_ctype", {"lc_ctype=ISO8859_1"}, v1 + Bytes({isc_dpb_lc_ctype, 9}) + "ISO8859_1"},
      {"num_buffers low byte", {"num_buffers=300"}, v1 + Bytes({isc_dpb_num_buffers, 1, 44})},
      {"force_write hex", {"force_write=$1"}, v1 + Bytes({isc_dpb_force_write, 1, 1})},
      {"sweep ignores its value", {"sweep=whatever"}, v1 + Bytes({isc_dpb_sweep, 1, 2})},
      {"sweep_interval four bytes", {"sweep_interval=20000"}, v1 + Bytes({isc_dpb_sweep_interval, 4, 0x20, 0x4E, 0, 0})},
      {"sweep_interval negative", {"sweep_interval=-1"}, v1 + Bytes({isc_dpb_sweep_interval, 4, 255, 255, 255, 255})},
      {"activate_shadow ignores its value", {"activate_shadow=9"}, v1 + Bytes({isc_dpb_activate_shadow, 1, 0})},
      {"value of 255 bytes", {"password=" + std::string(255, 'p')}, v1 + Bytes({isc_dpb_password, 255}) + std::string(255, 'p')},
      // One line for each item that encodes, by the header's codes.
      {"license", {"license=k"}, v1 + Bytes({isc_dpb_license, 1}) + "k"},
      {"sys_user_name", {"sys_user_name=s"}, v1 + Bytes({isc_dpb_sys_user_name, 1}) + "s"},
      {"encrypt_key", {"encrypt_key=e"}, v1 + Bytes({isc_dpb_encrypt_key, 1}) + "e"},
      {"password_enc", {"password_enc=x"}, v1 + Bytes({isc_dpb_password_enc, 1}) + "x"},
      {"old_file_name", {"old_file_name=f"}, v1 + Bytes({isc_dpb_old_file, 1}) + "f"},
      {"lc_messages", {"lc_messages=m"}, v1 + Bytes({isc_dpb_lc_messages, 1}) + "m"},
      {"sql_role_name", {"sql_role_name=r"}, v1 + Bytes({isc_dpb_sql_role_name, 1}) + "r"},
      // No name of Firebird's header has this number: the older name's own code.
      {"instance_name", {"instance_name=i"}, v1 + Bytes({75, 1}) + "i"},
      {"verify", {"verify=7"}, v1 + Bytes({isc_dpb_verify, 1, 7})},
      {"dbkey_scope", {"dbkey_scope=1"}, v1 + Bytes({isc_dpb_dbkey_scope, 1, 1})},
      {"damaged", {"damaged=1"}, v1 + Bytes({isc_dpb_damaged, 1, 1})},
      {"no_reserve", {"no_reserve=1"}, v1 + Bytes({isc_dpb_no_reserve, 1, 1})},
      {"online_dump", {"online_dump=1"}, v1 + Bytes({isc_dpb_online_dump, 1, 1})},
      {"old_file_size", {"old_file_size=258"}, v1 + Bytes({isc_dpb_old_file_size, 1, 2})},
      {"overwrite", {"overwrite=1"}, v1 + Bytes({isc_dpb_overwrite, 1, 1})},
      {"delete_shadow", {"delete_shadow=x"}, v1 + Bytes({isc_dpb_delete_shadow, 1, 0})},
      {"begin_log", {"begin_log=x"}, v1 + Bytes({isc_dpb_begin_log, 1, 0})},
      {"quit_log", {"quit_log=x"}, v1 + Bytes({isc_dpb_quit_log, 1, 0})},
      {"user name of 31 bytes", {"user_name=" + std::string(31, 'u')}, v1 + Bytes({isc_dpb_user_name, 31}) + std::string(31, 'u')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TStringList params;
    for (const auto& l : c.lines) params.Add(l);
    EXPECT_EQ(c.block, BuildParameterBlock(params));
  }
}

TEST(DatabaseParameterBlock, RefusedLines) {
  struct Case {
    std::string line;
    int code;
    std::string message;
  };
  const Case cases[] = {
      {" user_name=a", 114, "Constante DPB ( user_name) \xE9 desconhecida"},
      {"nonsense=1", 114, "Constante DPB (nonsense) \xE9 desconhecida"},
      {"isc_dpb_Nonsense=1", 114, "Constante DPB (isc_dpb_Nonsense) \xE9 desconhecida"},
      {"journal=1", 11, "Constante DPB (isc_dpb_journal) n\xE3o \xE9 suportada"},
      {"ISC_DPB_PAGE_SIZE=4096", 11, "Constante DPB (isc_dpb_page_size) n\xE3o \xE9 suportada"},
      // A one-byte length cannot carry these: the rest would be read as
      // further items of the visitor's choosing.
      {"password=" + std::string(256, 'p'), 121, "Valor longo demais para a constante DPB (password)"},
      {"user_name=" + std::string(300, 'u'), 121, "Valor longo demais para a constante DPB (user_name)"},
      // Longer user names take the server down.
      {"user_name=" + std::string(32, 'u'), 121, "Valor longo demais para a constante DPB (user_name)"},
      {"isc_dpb_USER_NAME=" + std::string(32, 'u'), 121, "Valor longo demais para a constante DPB (user_name)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line.substr(0, 40));
    try {
      Block({"user_name=ok", c.line});
      ADD_FAILURE() << "not refused";
    } catch (const EIBClientError& e) {
      EXPECT_EQ(c.code, e.SqlErrorNumber());
      EXPECT_EQ(0, e.IscErrorNumber());
      EXPECT_EQ(c.message, e.Message());
    }
  }
}

// The attach call takes the block's length as a signed 16-bit number: a
// longer block is refused rather than sent cut off.
TEST(DatabaseParameterBlock, BlockFitsTheAttachCall) {
  TStringList params;
  const std::string password = "password=" + std::string(255, 'p');
  for (int i = 0; i < 127; ++i) params.Add(password);
  EXPECT_EQ(1u + 127u * 257u, BuildParameterBlock(params).size());
  params.Add("sweep_interval=1");
  params.Add("sweep=");
  params.Add("user_name=" + std::string(31, 'u'));
  params.Add("lc_ctype=" + std::string(83, 'c'));
  EXPECT_EQ(MaxDpbLength, BuildParameterBlock(params).size());
  params.Add("force_write=1");
  try {
    BuildParameterBlock(params);
    ADD_FAILURE() << "a block of " << MaxDpbLength + 3 << " bytes was built";
  } catch (const EIBClientError& e) {
    EXPECT_EQ(121, e.SqlErrorNumber());
    EXPECT_EQ("Valor longo demais para a constante DPB (force_write)", e.Message());
  }
}

TEST(DatabaseParameterBlock, IntegersThatAreNot) {
  for (const char* value : {"", "abc", "12x", "0x", "99999999999", "1.5"}) {
    SCOPED_TRACE(value);
    try {
      Block({std::string("num_buffers=") + value});
      ADD_FAILURE() << "accepted";
    } catch (const EConvertError& e) {
      EXPECT_EQ(std::string("'") + value + "' is not a valid integer value", e.Message());
    }
  }
}
