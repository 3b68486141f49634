#include "db/ClientErrorKind.h"

#include <array>
#include <cstddef>

namespace nemvo {

namespace {

constexpr const char* UnknownErrorText = "Erro desconhecido";

// Filled at compile time: nothing to load when the process starts.
constexpr std::array<const char*, ClientErrorKindCount> Texts = [] {
  std::array<const char*, ClientErrorKindCount> t{};
  for (auto& text : t) text = UnknownErrorText;
  auto set = [&t](ClientErrorKind kind, const char* text) { t[static_cast<size_t>(kind)] = text; };
  set(ClientErrorKind::ceLibraryMissing,
      "Biblioteca gds32.dll do InterBase n\xE3o encontrada no caminho. Favor instalar InterBase para usar esta "
      "funcionalidade");
  set(ClientErrorKind::ceNeedsVersion6,
      "%s \xE9 uma fun\xE7\xE3o do InterBase 6. Favor atualizar InterBase 6 para usar esta funcionalidade");
  set(ClientErrorKind::ceOperationCancelled, "Opera\xE7\xE3o cancelada em requisi\xE7\xE3o do usu\xE1rio");
  set(ClientErrorKind::ceDpbItemNotSupported, "Constante DPB (isc_dpb_%s) n\xE3o \xE9 suportada");
  set(ClientErrorKind::ceDbNotOpen, "N\xE3o \xE9 poss\xEDvel executar opera\xE7\xE3o -- DB n\xE3o est\xE1 aberto");
  set(ClientErrorKind::ceDbAlreadyOpen,
      "N\xE3o \xE9 poss\xEDvel executar opera\xE7\xE3o -- DB est\xE1 atualmente aberto");
  set(ClientErrorKind::ceDbNameMissing, "Faltando nome do Banco de Dados");
  set(ClientErrorKind::ceTimeoutNegative, "Valor de Timeout n\xE3o pode ser negativo");
  set(ClientErrorKind::ceSharedResourceFailed,
      "N\xE3o \xE9 poss\xEDvel criar recursos compartilhados. (Erro do Windows %d)");
  set(ClientErrorKind::ceSqlDialectInvalid, "SQL Dialect Inv\xE1lido");
  set(ClientErrorKind::ceDpbItemUnrecognised, "Constante DPB (%s) \xE9 desconhecida");
  set(ClientErrorKind::ceDpbValueTooLong, "Valor longo demais para a constante DPB (%s)");
  return t;
}();

}  // namespace

const char* ClientErrorText(ClientErrorKind kind) {
  const auto ordinal = static_cast<int32_t>(kind);
  if (ordinal < 0 || ordinal >= ClientErrorKindCount) return UnknownErrorText;
  return Texts[static_cast<size_t>(ordinal)];
}

}  // namespace nemvo
