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
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "floor_client.h"

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

  struct floor_client client;
  if (floor_load_client(&client)) return 2;
  char dpb[600];
  size_t len = floor_dpb(dpb, user, password);
  if (len == 0) return 2;

  ISC_STATUS status[ISC_STATUS_LENGTH] = {0};
  isc_db_handle db = 0;
  if (client.attach(status, (short)strlen(argv[1]), argv[1], &db, (short)len, dpb)) {
    char text[1024], page[2048];
    size_t used = 0;
    const ISC_STATUS* cursor = status;
    while (client.interprete(text, &cursor) > 0 && used < sizeof page - 1)
      used += (size_t)snprintf(page + used, sizeof page - used, "%s", text);
    respond(page, used < sizeof page ? used : sizeof page - 1);
    return 0;
  }
  (void)floor_dialect(&client, &db);
  client.detach(status, &db);

  int fd = open(argv[2], O_RDONLY);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) return 2;
  char* page = malloc((size_t)st.st_size + 1);
  size_t got = floor_read_all(fd, page, (size_t)st.st_size);
  close(fd);
  if (page) respond(page, got);
  free(page);
  return 0;
}
