/*
 * The floor of a login: load the client library, attach with the parameter
 * block the connection component sends (user_name, password), ask the SQL
 * dialect, detach. A refused attach prints the client library's message.
 * Whatever the connection component costs on top is measured against this.
 *
 *   connect_floor DATABASE USER PASSWORD    exit 0 connected, 1 refused
 * In USER, "%p" stands for the process id (distinct names for refused logins).
 */
#include <dlfcn.h>
#include <ibase.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

typedef ISC_STATUS (*attach_fn)(ISC_STATUS*, short, const ISC_SCHAR*, isc_db_handle*, short, const ISC_SCHAR*);
typedef ISC_STATUS (*info_fn)(ISC_STATUS*, isc_db_handle*, short, const ISC_SCHAR*, short, ISC_SCHAR*);
typedef ISC_LONG (*vax_fn)(const ISC_SCHAR*, short);
typedef ISC_STATUS (*detach_fn)(ISC_STATUS*, isc_db_handle*);
typedef ISC_LONG (*interprete_fn)(ISC_SCHAR*, const ISC_STATUS**);

static void expand_pid(const char* in, char* out, size_t size) {
  const char* p = strstr(in, "%p");
  if (!p) {
    snprintf(out, size, "%s", in);
    return;
  }
  snprintf(out, size, "%.*s%ld%s", (int)(p - in), in, (long)getpid(), p + 2);
}

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: %s DATABASE USER PASSWORD\n", argv[0]);
    return 2;
  }
  void* lib = dlopen("libfbclient.so.2", RTLD_NOW);
  if (!lib) {
    fprintf(stderr, "%s\n", dlerror());
    return 2;
  }
  /* POSIX hands out entry points as object pointers; copy the bits over. */
  attach_fn attach;
  info_fn info;
  vax_fn vax;
  detach_fn detach;
  interprete_fn interprete;
  void* p;
#define BIND(var, name) (p = dlsym(lib, name), memcpy(&var, &p, sizeof p), p != NULL)
  if (!BIND(attach, "isc_attach_database") || !BIND(info, "isc_database_info") || !BIND(vax, "isc_vax_integer") ||
      !BIND(detach, "isc_detach_database") || !BIND(interprete, "isc_interprete"))
    return 2;

  char user[256];
  expand_pid(argv[2], user, sizeof user);
  size_t n = strlen(user), m = strlen(argv[3]);
  if (n > 31 || m > 255) return 2;
  char dpb[300];
  size_t len = 0;
  dpb[len++] = isc_dpb_version1;
  dpb[len++] = isc_dpb_user_name;
  dpb[len++] = (char)n;
  memcpy(dpb + len, user, n);
  len += n;
  dpb[len++] = isc_dpb_password;
  dpb[len++] = (char)m;
  memcpy(dpb + len, argv[3], m);
  len += m;

  ISC_STATUS status[ISC_STATUS_LENGTH] = {0};
  isc_db_handle db = 0;
  if (attach(status, (short)strlen(argv[1]), argv[1], &db, (short)len, dpb)) {
    char text[1024];
    const ISC_STATUS* cursor = status;
    while (interprete(text, &cursor) > 0) printf("%s\n", text);
    return 1;
  }
  const char items[] = {isc_info_db_sql_dialect};
  char buffer[512];
  int dialect = 1;
  if (info(status, &db, 1, items, sizeof buffer, buffer) == 0 && buffer[0] == isc_info_db_sql_dialect)
    dialect = (int)vax(buffer + 3, (short)vax(buffer + 1, 2));
  detach(status, &db);
  printf("dialect %d\n", dialect);
  return 0;
}
