/*
 * Probe of the database server's own guard against failed logins: runs a
 * sequence of logins through the client library, attached as nemvoweb
 * attaches (user_name and password in the parameter block, plus the connect
 * time-out when one is given), and prints for each what a caller can see:
 * when it started, how long the answer took, and the whole status vector,
 * code by code, with the client library's texts.
 *
 *   login_guard [-t SECONDS] [-p MS] [-n TIMES] DATABASE USER:PASSWORD...
 *
 *   -t SECONDS  connect time-out sent in the parameter block (isc_dpb_connect_timeout);
 *               none: the client library's own (ConnectionTimeout, 180 s)
 *   -p MS       pause after each answer before the next login (default 0)
 *   -n TIMES    run the list of logins this many times (default 1)
 *
 * In USER, "%n" stands for the attempt's number and "%p" for the process id,
 * so that a run can give each failed login a name of its own.
 *
 * One line per attempt, tab-separated:
 *   N  START  SECONDS  OUTCOME  VECTOR  TEXT
 * START is the wall clock (seconds since the epoch, so that lines of runs
 * made in parallel line up, and because the server counts in whole seconds
 * of it); OUTCOME is accepted, login (isc_login: credentials refused),
 * network (isc_network_error first) or other; VECTOR the status vector as
 * "gds CODE" clusters with their arguments ("str", "num", "unix ERRNO",
 * "sqlstate"); TEXT the interpreted messages joined by " | ".
 * Exit status: 0 when every login ran (whatever its outcome), 2 on misuse.
 */
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "floor_client.h"

static double now(void) {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
}

/* USER with %n and %p expanded into out; 0 when it does not fit a name. */
static int expand_user(const char* in, size_t in_len, long attempt, char* out, size_t size) {
  size_t len = 0;
  for (size_t i = 0; i < in_len; ++i) {
    char piece[32];
    if (in[i] == '%' && i + 1 < in_len && (in[i + 1] == 'n' || in[i + 1] == 'p')) {
      snprintf(piece, sizeof piece, "%ld", in[i + 1] == 'n' ? attempt : (long)getpid());
      ++i;
    } else {
      piece[0] = in[i];
      piece[1] = '\0';
    }
    const size_t n = strlen(piece);
    if (len + n >= size) return 0;
    memcpy(out + len, piece, n);
    len += n;
  }
  out[len] = '\0';
  return len > 0 && len <= 31;
}

/* The vector's clusters, as the codes are documented (not as the texts read). */
static void print_vector(const ISC_STATUS* s) {
  const char* sep = "";
  while (*s != isc_arg_end) {
    const ISC_STATUS kind = *s++;
    switch (kind) {
      case isc_arg_gds:
        printf("%sgds %ld", sep, (long)*s++);
        break;
      case isc_arg_warning:
        printf("%swarning %ld", sep, (long)*s++);
        break;
      case isc_arg_string:
      case isc_arg_interpreted:
        printf("%sstr \"%s\"", sep, (const char*)*s++);
        break;
      case isc_arg_sql_state:
        printf("%ssqlstate %s", sep, (const char*)*s++);
        break;
      case isc_arg_cstring: {
        const int n = (int)*s++;
        printf("%sstr \"%.*s\"", sep, n, (const char*)*s++);
        break;
      }
      case isc_arg_number:
        printf("%snum %ld", sep, (long)*s++);
        break;
      case isc_arg_unix:
        printf("%sunix %ld", sep, (long)*s++);
        break;
      default:
        printf("%sarg%ld %ld", sep, (long)kind, (long)*s++);
        break;
    }
    sep = " ";
  }
}

static const char* outcome_of(const ISC_STATUS* s) {
  if (s[0] != isc_arg_gds) return "other";
  if (s[1] == isc_login) return "login";
  if (s[1] == isc_network_error) return "network";
  return "other";
}

static void usage(const char* self) {
  fprintf(stderr, "usage: %s [-t SECONDS] [-p MS] [-n TIMES] DATABASE USER:PASSWORD...\n", self);
}

int main(int argc, char** argv) {
  long timeout = -1, pause_ms = 0, times = 1;
  int opt;
  while ((opt = getopt(argc, argv, "t:p:n:")) != -1) {
    char* end = NULL;
    const long v = strtol(optarg, &end, 10);
    if (!*optarg || *end || v < 0) {
      usage(argv[0]);
      return 2;
    }
    if (opt == 't') timeout = v;
    else if (opt == 'p') pause_ms = v;
    else if (opt == 'n') times = v;
    else {
      usage(argv[0]);
      return 2;
    }
  }
  if (argc - optind < 2) {
    usage(argv[0]);
    return 2;
  }
  const char* database = argv[optind];

  struct floor_client client;
  if (floor_load_client(&client) != 0) {
    const char* error = dlerror();
    fprintf(stderr, "%s\n", error ? error : "client library not loaded");
    return 2;
  }
  setvbuf(stdout, NULL, _IOLBF, 0);

  long attempt = 0;
  for (long round = 0; round < times; ++round) {
    for (int i = optind + 1; i < argc; ++i) {
      const char* colon = strchr(argv[i], ':');
      char user[64];
      if (!colon || !expand_user(argv[i], (size_t)(colon - argv[i]), attempt + 1, user, sizeof user)) {
        fprintf(stderr, "not USER:PASSWORD (a name of 1 to 31 bytes): %s\n", argv[i]);
        return 2;
      }
      char dpb[530];
      size_t len = floor_dpb(dpb, user, colon + 1);
      if (len == 0) return 2;
      if (timeout >= 0) {
        /* Four bytes, least significant first, as the client library reads it. */
        dpb[len++] = isc_dpb_connect_timeout;
        dpb[len++] = 4;
        for (int b = 0; b < 4; ++b) dpb[len++] = (char)((timeout >> (8 * b)) & 0xff);
      }

      if (attempt > 0 && pause_ms > 0) usleep((useconds_t)pause_ms * 1000);
      ++attempt;
      ISC_STATUS status[ISC_STATUS_LENGTH] = {0};
      isc_db_handle db = 0;
      const double start = now();
      const ISC_STATUS failed = client.attach(status, (short)strlen(database), database, &db, (short)len, dpb);
      const double took = now() - start;

      printf("%ld\t%.3f\t%.3f\t%s\t", attempt, start, took, failed ? outcome_of(status) : "accepted");
      if (failed) {
        print_vector(status);
        printf("\t");
        char text[1024];
        const ISC_STATUS* cursor = status;
        const char* sep = "";
        while (client.interprete(text, &cursor) > 0) {
          printf("%s%s", sep, text);
          sep = " | ";
        }
        printf("\n");
      } else {
        printf("-\t-\n");
        client.detach(status, &db);
      }
    }
  }
  return 0;
}
