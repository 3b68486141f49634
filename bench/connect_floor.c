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
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "floor_client.h"

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
  struct floor_client client;
  if (floor_load_client(&client) != 0) {
    const char* error = dlerror();
    fprintf(stderr, "%s\n", error ? error : "client library not loaded");
    return 2;
  }

  char user[256];
  expand_pid(argv[2], user, sizeof user);
  if (strlen(user) > 31) return 2;
  char dpb[520];
  const size_t len = floor_dpb(dpb, user, argv[3]);
  if (len == 0) return 2;

  ISC_STATUS status[ISC_STATUS_LENGTH] = {0};
  isc_db_handle db = 0;
  if (client.attach(status, (short)strlen(argv[1]), argv[1], &db, (short)len, dpb)) {
    char text[1024];
    const ISC_STATUS* cursor = status;
    while (client.interprete(text, &cursor) > 0) printf("%s\n", text);
    return 1;
  }
  const int dialect = floor_dialect(&client, &db);
  client.detach(status, &db);
  printf("dialect %d\n", dialect);
  return 0;
}
