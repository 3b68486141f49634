// The client-library binding. Each case with a stand-in client runs the probe
// in a child process whose LD_LIBRARY_PATH leads to that stand-in.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "BuildConfig.h"

#include "support/ChildProcess.h"
#include "db/ErrorReporting.h"
#include "db/GDSLibrary.h"

namespace nemvo {
namespace {

std::vector<std::string> ProbeLines(const std::string& variant, const std::vector<std::string>& steps,
                                    testing::TChildProcess::Environment env = {}) {
  env["LD_LIBRARY_PATH"] = std::string(NEMVO_STANDIN_DIR) + "/" + variant;
  std::istringstream out(testing::RunChild(NEMVO_BINDING_PROBE, steps, env));
  std::vector<std::string> lines;
  for (std::string line; std::getline(out, line);) lines.push_back(line);
  return lines;
}

std::string ProbeLine(const std::string& variant, const std::string& step) {
  auto lines = ProbeLines(variant, {step});
  return lines.empty() ? "" : lines.front();
}

std::string VersionText(const std::string& version, const std::string& argument) {
  return "EIBClientError 0 0 " + argument + " \xE9 uma fun\xE7\xE3o do InterBase " + version +
         ". Por favor atualize para o InterBase " + version + " para usar esta fun\xE7\xE3o.";
}

std::string NeedsVersion6(const std::string& name) {
  return "EIBClientError 3 0 " + name +
         " \xE9 uma fun\xE7\xE3o do InterBase 6. Favor atualizar InterBase 6 para usar esta funcionalidade";
}

const std::string LibraryMissing =
    "EIBClientError 1 0 Biblioteca gds32.dll do InterBase n\xE3o encontrada no caminho. Favor instalar InterBase "
    "para usar esta funcionalidade";

TEST(ClientLibraryBinding, VersionFollowsWhatTheClientExports) {
  struct Case {
    const char* variant;
    const char* expected;
  } cases[] = {
      {"old", "version 50000"},  // neither isc_rollback_retaining nor isc_get_client_version
      {"modern", "version 63000"},
      {"v71", "version 71000"},
      {"v80", "version 80000"},
  };
  for (const auto& c : cases) EXPECT_EQ(ProbeLine(c.variant, "version"), c.expected) << c.variant;
}

TEST(ClientLibraryBinding, EntryPointsTheVersionLacksRaiseWhenCalledNotWhenLoaded) {
  struct Case {
    const char* variant;
    const char* operation;
    std::string expected;
  } cases[] = {
      {"old", "call:isc_service_attach", NeedsVersion6("isc_service_attach")},
      {"old", "call:isc_rollback_retaining", NeedsVersion6("isc_rollback_retaining")},
      {"old", "call:isc_encode_timestamp", NeedsVersion6("isc_encode_timestamp")},
      // The version-text argument carries a blank after the name...
      {"old", "call:isc_get_client_version", VersionText("7.0", "isc_get_client_version ")},
      {"old", "call:isc_get_client_major_version", VersionText("7.0", "isc_get_client_major_version ")},
      {"modern", "call:isc_service_attach", "result 335544382"},
      {"modern", "call:isc_rollback_retaining", "result 335544382"},
      {"modern", "call:isc_get_client_version", "result 0"},
      {"modern", "call:isc_array_gen_sdl2", VersionText("7.0", "isc_array_gen_sdl2 ")},
      {"modern", "call:isc_blob_gen_bpb2", VersionText("7.0", "isc_blob_gen_bpb2 ")},
      {"modern", "call:isc_blob_default_desc2", VersionText("7.0", "isc_blob_default_desc2 ")},
      {"modern", "call:isc_start_savepoint", VersionText("7.1", "isc_start_savepoint ")},
      {"modern", "call:isc_rollback_savepoint", VersionText("7.1", "isc_rollback_savepoint ")},
      // ...except for the two batch entry points.
      {"modern", "call:isc_dsql_batch_execute", VersionText("8.0", "isc_dsql_batch_execute")},
      {"modern", "call:isc_dsql_batch_execute_immed", VersionText("8.0", "isc_dsql_batch_execute_immed")},
      {"v71", "call:isc_array_gen_sdl2", "result 335544382"},
      {"v71", "call:isc_start_savepoint", "result 335544382"},
      {"v71", "call:isc_dsql_batch_execute", VersionText("8.0", "isc_dsql_batch_execute")},
      {"v80", "call:isc_dsql_batch_execute_immed", "result 335544382"},
  };
  for (const auto& c : cases) EXPECT_EQ(ProbeLine(c.variant, c.operation), c.expected) << c.variant << " " << c.operation;
}

TEST(ClientLibraryBinding, XmlExtensionComesFromItsOwnLibrary) {
  for (const char* op : {"isc_dsql_xml_fetch", "isc_dsql_xml_fetch_all", "isc_dsql_xml_buffer_fetch"}) {
    EXPECT_EQ(ProbeLine("modern", std::string("call:") + op), VersionText("6.5", std::string(op) + " ")) << op;
    EXPECT_EQ(ProbeLine("withxml", std::string("call:") + op), "result 335544382") << op;
  }
  // The XML library changes nothing else.
  EXPECT_EQ(ProbeLine("withxml", "version"), "version 63000");
}

TEST(ClientLibraryBinding, XmlLibraryLackingAnEntryPointFailsItsOwnCallsAlone) {
  const auto lines = ProbeLines("brokenxml", {"load", "version", "call:isc_attach_database",
                                              "call:isc_dsql_xml_fetch", "call:isc_dsql_xml_buffer_fetch",
                                              "call:isc_dsql_xml_fetch", "call:isc_detach_database"});
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[0], "loaded");
  EXPECT_EQ(lines[1], "version 63000");
  EXPECT_EQ(lines[2], "result 0");
  // Never half bound: the entry point that the library has fails as well.
  for (int i : {3, 4, 5}) EXPECT_TRUE(lines[i].starts_with("EOSError ")) << lines[i];
  EXPECT_EQ(lines[6], "result 0");
}

TEST(ClientLibraryBinding, MissingRequiredEntryPointNeverLeavesAHalfBinding) {
  const std::string osError = "EOSError 38 0 System Error.  Code: 38.\\r\\nFunction not implemented";
  // Entry points resolved before the missing one must not answer afterwards:
  // every attempt fails the same way.
  EXPECT_EQ(ProbeLines("missing", {"load", "call:isc_attach_database", "call:isc_sqlcode", "version", "load"}),
            (std::vector<std::string>{osError, osError, "unknown operation", osError, osError}));
}

TEST(ClientLibraryBinding, LibraryThatCannotBeLoadedIsReportedUnderItsClassicName) {
  EXPECT_EQ(ProbeLines("unloadable", {"load", "version", "call:isc_attach_database", "load"}),
            (std::vector<std::string>{"not loaded", LibraryMissing, LibraryMissing, "not loaded"}));
}

TEST(ClientLibraryBinding, UnloadedLibraryIsLoadedAgainOnNextUse) {
  EXPECT_EQ(ProbeLines("v71", {"call:isc_start_savepoint", "unload", "call:isc_start_savepoint", "version"}),
            (std::vector<std::string>{"result 335544382", "unloaded", "result 335544382", "version 71000"}));
}

// Loading a library that is loaded changes nothing: connections and the
// library's own threads may be using it.
TEST(ClientLibraryBinding, LoadingALoadedLibraryKeepsIt) {
  const std::string log = ::testing::TempDir() + "binding-loads.log";
  std::remove(log.c_str());
  EXPECT_EQ(ProbeLines("v71", {"load", "load-again", "load-again", "call:isc_start_savepoint", "version"},
                       {{"NEMVO_STANDIN_MAP_LOG", log}}),
            (std::vector<std::string>{"loaded", "load called", "load called", "result 335544382", "version 71000"}));
  std::ifstream in(log);
  std::string line;
  int mapped = 0;
  while (std::getline(in, line)) mapped += line == "mapped";
  EXPECT_EQ(mapped, 1);
  std::remove(log.c_str());
}

// The real client library, in this process.
TEST(ClientLibraryBinding, RealClientIsBoundOnceAndShared) {
  auto first = AcquireClientLibrary();
  auto second = AcquireClientLibrary();
  ASSERT_EQ(first.get(), second.get());
  ASSERT_TRUE(first->TryLoadClientLibrary());
  EXPECT_TRUE(second->TryLoadClientLibrary());
  // The version as the library itself reports it, asked without the binding:
  // major + minor / 10, scaled by 10000 (6.3 is 63000).
  void* library = dlopen(build::ClientLibrary, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  using VersionPart = int (*)();
  auto major = reinterpret_cast<VersionPart>(dlsym(library, "isc_get_client_major_version"));
  auto minor = reinterpret_cast<VersionPart>(dlsym(library, "isc_get_client_minor_version"));
  ASSERT_TRUE(major && minor) << "the client library names no version";
  EXPECT_EQ(first->ClientLibraryVersion(), std::lround((major() + minor() / 10.0) * 10000));
  EXPECT_EQ(first->isc_get_client_major_version(), major());
  dlclose(library);
  const ISC_SCHAR bytes[] = {0x34, 0x12, 0, 0};
  EXPECT_EQ(first->isc_vax_integer(bytes, 4), 0x1234);
}

}  // namespace
}  // namespace nemvo
