// Building the parameter block from Params lines: the bytes the server gets,
// and the lines refused before anything is sent.
#include "db/DatabaseParameterBlock.h"

#include <gtest/gtest.h>

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

TEST(DatabaseParameterBlock, ItemCodesArePositions) {
  EXPECT_STREQ("user_name", DpbItemNames[28 - 1]);
  EXPECT_STREQ("password", DpbItemNames[29 - 1]);
  EXPECT_STREQ("sql_dialect", DpbItemNames[63 - 1]);
  EXPECT_STREQ("force", DpbItemNames[83 - 1]);
}

TEST(DatabaseParameterBlock, Encodings) {
  const std::string v1 = Bytes({1});
  const BlockCase cases[] = {
      {"the login's two lines", {"user_name=ana", "password=pw"},
       v1 + Bytes({28, 3}) + "ana" + Bytes({29, 2}) + "pw"},
      {"empty values", {"user_name=", "password="}, Bytes({1, 28, 0, 29, 0})},
      {"no lines", {}, v1},
      {"password holding =", {"password=a=b="}, v1 + Bytes({29, 4}) + "a=b="},
      {"value kept untrimmed", {"password= x "}, v1 + Bytes({29, 3}) + " x "},
      {"line without = skipped", {"user_name"}, v1},
      {"blank name skipped", {" \t=x", "=y"}, v1},
      {"capitals", {"USER_NAME=a"}, v1 + Bytes({28, 1}) + "a"},
      {"isc_dpb_ prefix", {"isc_dpb_user_name=a"}, v1 + Bytes({28, 1}) + "a"},
      {"prefix in capitals", {"ISC_DPB_Password=a"}, v1 + Bytes({29, 1}) + "a"},
      {"sql_dialect as a number byte", {"sql_dialect=3"}, v1 + Bytes({63, 1, 3})},
      {"sql_dialect empty", {"sql_dialect="}, v1 + Bytes({63, 0})},
      {"lc_ctype", {"lc_ctype=ISO8859_1"}, v1 + Bytes({48, 9}) + "ISO8859_1"},
      {"num_buffers low byte", {"num_buffers=300"}, v1 + Bytes({5, 1, 44})},
      {"force_write hex", {"force_write=$1"}, v1 + Bytes({24, 1, 1})},
      {"sweep ignores its value", {"sweep=whatever"}, v1 + Bytes({10, 1, 2})},
      {"sweep_interval four bytes", {"sweep_interval=20000"}, v1 + Bytes({22, 4, 0x20, 0x4E, 0, 0})},
      {"sweep_interval negative", {"sweep_interval=-1"}, v1 + Bytes({22, 4, 255, 255, 255, 255})},
      {"activate_shadow ignores its value", {"activate_shadow=9"}, v1 + Bytes({21, 1, 0})},
      {"value of 255 bytes", {"password=" + std::string(255, 'p')}, v1 + Bytes({29, 255}) + std::string(255, 'p')},
      {"user name of 31 bytes", {"user_name=" + std::string(31, 'u')}, v1 + Bytes({28, 31}) + std::string(31, 'u')},
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
