/*
 * The warm floor of a login: a process that has loaded and started the
 * client library once and then does only what every login needs, in a loop:
 * attach with the same parameter block as nemvoweb (user_name, password),
 * ask the SQL dialect, detach, read the template file. No web server, no
 * request parsing, no page building: what remains is the database server's
 * own work for a login, which no client avoids.
 *
 *   warm_floor DATABASE USER PASSWORD TEMPLATE lines
 *       one login per line read on standard input; prints its time in
 *       milliseconds (or "error") per line, so that a script can interleave
 *       it with other measurements
 *   warm_floor DATABASE USER PASSWORD TEMPLATE seconds S
 *       logins back to back for S seconds; prints how many were done and
 *       how many failed
 *   warm_floor DATABASE USER PASSWORD TEMPLATE memory N
 *       N logins back to back; prints the process's resident size (VmRSS,
 *       KiB) after the first 100 and after all of them
 */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "floor_client.h"

static struct floor_client client;
static char dpb[600];
static size_t dpb_length;
static char* page;
static size_t page_size;

static double now_ms(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec * 1000.0 + (double)t.tv_nsec / 1e6;
}

static long resident_kib(void) {
  FILE* status = fopen("/proc/self/status", "r");
  char line[256];
  long kib = -1;
  while (status && fgets(line, sizeof line, status))
    if (strncmp(line, "VmRSS:", 6) == 0) kib = atol(line + 6);
  if (status) fclose(status);
  return kib;
}

/* One login and the template read; 0 on success. */
static int login(const char* database, const char* template_path) {
  ISC_STATUS status[ISC_STATUS_LENGTH] = {0};
  isc_db_handle db = 0;
  if (client.attach(status, (short)strlen(database), database, &db, (short)dpb_length, dpb)) return 1;
  (void)floor_dialect(&client, &db);
  client.detach(status, &db);

  int fd = open(template_path, O_RDONLY);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) return 1;
  if ((size_t)st.st_size > page_size) {
    free(page);
    page = malloc((size_t)st.st_size);
    page_size = page ? (size_t)st.st_size : 0;
  }
  size_t got = floor_read_all(fd, page, (size_t)st.st_size);
  close(fd);
  return got == (size_t)st.st_size ? 0 : 1;
}

int main(int argc, char** argv) {
  if (argc < 6) {
    fprintf(stderr, "usage: %s DATABASE USER PASSWORD TEMPLATE lines|seconds S|memory N\n", argv[0]);
    return 2;
  }
  const char *database = argv[1], *user = argv[2], *password = argv[3], *template_path = argv[4];
  if (floor_load_client(&client)) return 2;
  dpb_length = floor_dpb(dpb, user, password);
  if (dpb_length == 0) return 2;

  if (strcmp(argv[5], "lines") == 0) {
    char line[64];
    setvbuf(stdout, NULL, _IOLBF, 0);
    while (fgets(line, sizeof line, stdin)) {
      const double start = now_ms();
      const int failed = login(database, template_path);
      if (failed)
        printf("error\n");
      else
        printf("%.3f\n", now_ms() - start);
    }
    return 0;
  }
  if (strcmp(argv[5], "seconds") == 0 && argc == 7) {
    const double end = now_ms() + atof(argv[6]) * 1000.0;
    long done = 0, failed = 0;
    while (now_ms() < end) {
      if (login(database, template_path)) ++failed;
      ++done;
    }
    printf("%ld %ld\n", done, failed);
    return 0;
  }
  if (strcmp(argv[5], "memory") == 0 && argc == 7) {
    const long count = atol(argv[6]);
    long failed = 0;
    for (long i = 1; i <= count; ++i) {
      if (login(database, template_path)) ++failed;
      if (i == 100 || i == count) printf("%ld %ld\n", i, resident_kib());
    }
    printf("failed %ld\n", failed);
    return 0;
  }
  return 2;
}
