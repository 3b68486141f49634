/*
 * The floor of a login request: the least a CGI program can do for it. It
 * reads the request body, loads the client library, attaches with the same
 * parameter block as nemvoweb (user_name, password), asks the SQL dialect,
 * detaches, reads the template file, writes a response and closes standard
 * output; a refused attach writes the client library's message instead. The
 * process then ends as nemvoweb does, with the client library's shutdown.
 *
 *   cgi_floor_login DATABASE TEMPLATE     (run as a CGI program: CONTENT_LENGTH, body on stdin)
 *
 * The body is "u=...&p=..." without %-escapes; nothing is decoded.
 */
#include <dlfcn.h>
#include <fcntl.h>
#include <ibase.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

typedef ISC_STATUS (*attach_fn)(ISC_STATUS*, short, const ISC_SCHAR*, isc_db_handle*, short, const ISC_SCHAR*);
typedef ISC_STATUS (*info_fn)(ISC_STATUS*, isc_db_handle*, short, const ISC_SCHAR*, short, ISC_SCHAR*);
typedef ISC_LONG (*vax_fn)(const ISC_SCHAR*, short);
typedef ISC_STATUS (*detach_fn)(ISC_STATUS*, isc_db_handle*);
typedef ISC_LONG (*interprete_fn)(ISC_SCHAR*, const ISC_STATUS**);

static void write_all(const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = write(1, data, size);
    if (n <= 0) return;
    data += n;
    size -= (size_t)n;
  }
}

static void respond(const char* body, size_t size) {
  char head[128];
  int n = snprintf(head, sizeof head, "Status: 200 OK\r\nContent-Type: text/html\r\nContent-Length: %zu\r\nContent:\r\n\r\n",
                   size);
  write_all(head, (size_t)n);
  write_all(body, size);
  close(1);
}

/* The value of field `name` in "a=1&b=2", copied into `out`. */
static void field(const char* body, const char* name, char* out, size_t size) {
  size_t len = strlen(name);
  out[0] = 0;
  for (const char* p = body; *p;) {
    const char* end = strchr(p, '&');
    if (!end) end = p + strlen(p);
    if ((size_t)(end - p) > len && strncmp(p, name, len) == 0 && p[len] == '=') {
      size_t n = (size_t)(end - p) - len - 1;
      if (n >= size) n = size - 1;
      memcpy(out, p + len + 1, n);
      out[n] = 0;
      return;
    }
    p = *end ? end + 1 : end;
  }
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: %s DATABASE TEMPLATE\n", argv[0]);
    return 2;
  }
  char body[4096] = {0};
  const char* cl = getenv("CONTENT_LENGTH");
  long want = cl ? atol(cl) : 0;
  if (want < 0 || want >= (long)sizeof body) want = 0;
  for (long got = 0; got < want;) {
    ssize_t n = read(0, body + got, (size_t)(want - got));
    if (n <= 0) break;
    got += n;
  }
  char user[256], password[256];
  field(body, "u", user, sizeof user);
  field(body, "p", password, sizeof password);

  void* lib = dlopen("libfbclient.so.2", RTLD_NOW);
  if (!lib) return 2;
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

  size_t n = strlen(user), m = strlen(password);
  char dpb[600];
  size_t len = 0;
  dpb[len++] = isc_dpb_version1;
  dpb[len++] = isc_dpb_user_name;
  dpb[len++] = (char)n;
  memcpy(dpb + len, user, n);
  len += n;
  dpb[len++] = isc_dpb_password;
  dpb[len++] = (char)m;
  memcpy(dpb + len, password, m);
  len += m;

  ISC_STATUS status[ISC_STATUS_LENGTH] = {0};
  isc_db_handle db = 0;
  if (attach(status, (short)strlen(argv[1]), argv[1], &db, (short)len, dpb)) {
    char text[1024], page[2048];
    size_t used = 0;
    const ISC_STATUS* cursor = status;
    while (interprete(text, &cursor) > 0 && used < sizeof page - 1)
      used += (size_t)snprintf(page + used, sizeof page - used, "%s", text);
    respond(page, used < sizeof page ? used : sizeof page - 1);
    return 0;
  }
  const char items[] = {isc_info_db_sql_dialect};
  char buffer[512];
  int dialect = 1;
  if (info(status, &db, 1, items, sizeof buffer, buffer) == 0 && buffer[0] == isc_info_db_sql_dialect)
    dialect = (int)vax(buffer + 3, (short)vax(buffer + 1, 2));
  (void)dialect;
  detach(status, &db);

  int fd = open(argv[2], O_RDONLY);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) return 2;
  char* page = malloc((size_t)st.st_size + 1);
  size_t got = 0;
  while (page && got < (size_t)st.st_size) {
    ssize_t r = read(fd, page + got, (size_t)st.st_size - got);
    if (r <= 0) break;
    got += (size_t)r;
  }
  close(fd);
  if (page) respond(page, got);
  free(page);
  return 0;
}
