/*
 * Runs a program once as a web server runs a CGI program and records what a
 * client waits for and what the process costs:
 *
 *   cgi_run LOG METHOD PATH_INFO BODY PROGRAM [ARG...]
 *
 * The program gets an environment holding only the CGI variables of the
 * request and BODY on standard input ("%n" in BODY stands for this run's
 * process id, for names that differ from run to run). Each run comes from a
 * client address of its own (10.x.y.z from the process id), so that the
 * program's per-client login throttle never answers in the database's
 * place, however many refused logins a benchmark runs. The wrapper reads
 * standard output to its end, then waits for the process, and appends to LOG
 * one line: milliseconds to the end of standard output, milliseconds to the
 * end of the process, peak resident memory in KiB, bytes of output.
 * hyperfine, timing this wrapper, sees the whole process.
 */
#define _GNU_SOURCE /* pipe2 */
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double now_ms(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (double)ts.tv_sec * 1e3 + (double)ts.tv_nsec / 1e6;
}

int main(int argc, char** argv) {
  if (argc < 6) {
    fprintf(stderr, "usage: %s LOG METHOD PATH_INFO BODY PROGRAM [ARG...]\n", argv[0]);
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);
  char body[8192];
  const char* mark = strstr(argv[4], "%n");
  if (mark)
    snprintf(body, sizeof body, "%.*s%ld%s", (int)(mark - argv[4]), argv[4], (long)getpid(), mark + 2);
  else
    snprintf(body, sizeof body, "%s", argv[4]);
  size_t body_size = strlen(body);

  char method[64], path[512], length[64], client[64];
  const long id = (long)getpid();
  snprintf(client, sizeof client, "REMOTE_ADDR=10.%ld.%ld.%ld", (id >> 16) & 255, (id >> 8) & 255, id & 255);
  snprintf(method, sizeof method, "REQUEST_METHOD=%s", argv[2]);
  snprintf(path, sizeof path, "PATH_INFO=%s", argv[3]);
  snprintf(length, sizeof length, "CONTENT_LENGTH=%zu", body_size);
  char* env[] = {"GATEWAY_INTERFACE=CGI/1.1", method, path, "SCRIPT_NAME=/cgi-bin/nemvoweb",
                 "SERVER_PROTOCOL=HTTP/1.1", "SERVER_PORT=80", client,
                 "CONTENT_TYPE=application/x-www-form-urlencoded", length, NULL};

  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC)) return 2;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  const double start = now_ms();
  pid_t pid;
  int rc = posix_spawn(&pid, argv[5], &actions, NULL, argv + 5, env);
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  if (rc != 0) {
    fprintf(stderr, "cannot start %s: %s\n", argv[5], strerror(rc));
    return 2;
  }
  /* The body is far below a pipe's capacity: one write, then end of input. */
  if (body_size && write(in[1], body, body_size) < 0) perror("write");
  close(in[1]);

  char buffer[65536];
  long long bytes = 0;
  for (;;) {
    ssize_t n = read(out[0], buffer, sizeof buffer);
    if (n > 0) {
      bytes += n;
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  const double eof = now_ms();
  close(out[0]);
  int status;
  struct rusage usage;
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  const double end = now_ms();

  FILE* log = fopen(argv[1], "a");
  if (log) {
    fprintf(log, "%.3f %.3f %ld %lld\n", eof - start, end - start, usage.ru_maxrss, bytes);
    fclose(log);
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}
