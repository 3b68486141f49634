/*
 * Load client of bench/login_attack.sh: posts the login form over kept
 * HTTP/1.1 connections, each bound to a source address of its own (wrk
 * cannot choose one, and the program's throttle counts per address), for a
 * fixed time, and records every answer.
 *
 *   login_attack -P PORT -a ADDR[,ADDR...] -c CONNS -u USER -p PASSWORD
 *                -d SECONDS -m MAIN_PAGE [-U PATH] [-w MS]
 *
 *   -a  source addresses (127.0.0.X); CONNS connections from each
 *   -m  the main page as the program answers it (the template with its tags
 *       removed): an answer equal to it is a right login
 *   -U  the program's path (default /cgi-bin/nemvoweb/main)
 *   -w  pause after each answer before the connection's next request
 *
 * Each connection sends requests one after another until SECONDS have passed
 * since the start (a request in flight then is waited for and counted), and
 * at least one.
 * One line per answer on standard output, tab-separated:
 *   ADDR  START_MS  LATENCY_MS  STATUS  KIND  TEXT
 * START_MS counts from the common start. KIND is main (the main page),
 * refused (the message page with the rejected-credentials text), throttled
 * (the program's 429 message page), deferred (its 503 message page: the
 * database server's guard would have held the failure), limited (a 429 that is not the
 * program's: nginx's limit), message (another message page of the program:
 * TEXT is its message), other (anything else: TEXT is the status and the
 * start of the body) or io (no answer: TEXT says why; the connection is
 * opened anew). TEXT is UTF-8 (the program's pages are Latin-1).
 */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

static int port;
static const char* path = "/cgi-bin/nemvoweb/main";
static char request[4096];
static size_t request_len;
static char* main_page;
static size_t main_len;
static double start_time, end_time;
static long pause_ms;

/* The message box of the program's message page, and the end of its text. */
static const char kMessageStart[] = "text-align: center;\"> ";
static const char kMessageEnd[] = "<br></br>";
static const char kRejected[] = "Usu\xE1rio/Senha inv\xE1lidos";

static double now(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
}

typedef struct {
  char* data;
  size_t len, cap;
} buffer;

static void append(buffer* b, const char* data, size_t len) {
  if (b->len + len + 1 > b->cap) {
    b->cap = (b->len + len + 1) * 2;
    b->data = realloc(b->data, b->cap);
    if (!b->data) abort();
  }
  memcpy(b->data + b->len, data, len);
  b->len += len;
  b->data[b->len] = '\0';
}

typedef struct {
  const char* addr;
  pthread_t thread;
  buffer out; /* its answer lines */
} connection;

static int open_connection(const char* addr, char* why, size_t why_size) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) {
    snprintf(why, why_size, "socket: %s", strerror(errno));
    return -1;
  }
  struct sockaddr_in local = {.sin_family = AF_INET};
  inet_pton(AF_INET, addr, &local.sin_addr);
  struct sockaddr_in remote = {.sin_family = AF_INET, .sin_port = htons((uint16_t)port)};
  inet_pton(AF_INET, "127.0.0.1", &remote.sin_addr);
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  struct timeval tv = {.tv_sec = 60};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  if (bind(fd, (struct sockaddr*)&local, sizeof local) < 0 ||
      connect(fd, (struct sockaddr*)&remote, sizeof remote) < 0) {
    snprintf(why, why_size, "connect from %s: %s", addr, strerror(errno));
    close(fd);
    return -1;
  }
  return fd;
}

/* Reads until `b` holds at least `want` bytes: 0, or -1 with `why`. */
static int fill(int fd, buffer* b, size_t want, char* why, size_t why_size) {
  char chunk[16384];
  while (b->len < want) {
    ssize_t n = recv(fd, chunk, sizeof chunk, 0);
    if (n > 0) {
      append(b, chunk, (size_t)n);
    } else {
      snprintf(why, why_size, "%s", n == 0 ? "connection closed" : strerror(errno));
      return -1;
    }
  }
  return 0;
}

/* Index just past the first "\r\n" at or after `from`, reading as needed;
   0 on failure. */
static size_t line_end(int fd, buffer* b, size_t from, char* why, size_t why_size) {
  for (;;) {
    char* p = b->len > from ? memmem(b->data + from, b->len - from, "\r\n", 2) : NULL;
    if (p) return (size_t)(p - b->data) + 2;
    if (fill(fd, b, b->len + 1, why, why_size) < 0) return 0;
  }
}

/* One answer: its status, body and whether the connection stays open.
   -1 with `why` when none came. */
static int read_answer(int fd, buffer* in, buffer* body, int* keep, char* why, size_t why_size) {
  size_t head_end;
  for (;;) {
    char* p = in->len ? memmem(in->data, in->len, "\r\n\r\n", 4) : NULL;
    if (p) {
      head_end = (size_t)(p - in->data) + 4;
      break;
    }
    if (fill(fd, in, in->len + 1, why, why_size) < 0) return -1;
  }
  int status = 0;
  if (sscanf(in->data, "HTTP/1.%*d %d", &status) != 1) {
    snprintf(why, why_size, "no status line");
    return -1;
  }
  long length = -1;
  int chunked = 0;
  *keep = 1;
  for (char* line = strstr(in->data, "\r\n") + 2; line < in->data + head_end - 2;
       line = strstr(line, "\r\n") + 2) {
    char field[256];
    size_t len = (size_t)(strstr(line, "\r\n") - line);
    if (len >= sizeof field) continue;
    memcpy(field, line, len);
    field[len] = '\0';
    if (!strncasecmp(field, "Content-Length:", 15)) length = strtol(field + 15, NULL, 10);
    if (!strncasecmp(field, "Transfer-Encoding:", 18) && strcasestr(field, "chunked")) chunked = 1;
    if (!strncasecmp(field, "Connection:", 11) && strcasestr(field, "close")) *keep = 0;
  }
  body->len = 0;
  size_t pos = head_end;
  if (chunked) {
    for (;;) {
      size_t end = line_end(fd, in, pos, why, why_size);
      if (!end) return -1;
      long size = strtol(in->data + pos, NULL, 16);
      pos = end;
      if (size == 0) {
        end = line_end(fd, in, pos, why, why_size); /* the last, empty line */
        if (!end) return -1;
        pos = end;
        break;
      }
      if (fill(fd, in, pos + (size_t)size + 2, why, why_size) < 0) return -1;
      append(body, in->data + pos, (size_t)size);
      pos += (size_t)size + 2;
    }
  } else if (length >= 0) {
    if (fill(fd, in, pos + (size_t)length, why, why_size) < 0) return -1;
    append(body, in->data + pos, (size_t)length);
    pos += (size_t)length;
  } else {
    /* Ends with the connection. */
    char dummy[64];
    while (fill(fd, in, in->len + 1, dummy, sizeof dummy) == 0) {
    }
    append(body, in->data + pos, in->len - pos);
    pos = in->len;
    *keep = 0;
  }
  memmove(in->data, in->data + pos, in->len - pos);
  in->len -= pos;
  if (body->len == 0) append(body, "", 0);
  return status;
}

/* `len` bytes of Latin-1 as UTF-8, tabs and line ends as spaces. */
static void append_text(buffer* out, const char* text, size_t len) {
  for (size_t i = 0; i < len; ++i) {
    unsigned char c = (unsigned char)text[i];
    if (c == '\t' || c == '\r' || c == '\n') {
      append(out, " ", 1);
    } else if (c < 0x80) {
      append(out, (const char*)&c, 1);
    } else {
      char u[2] = {(char)(0xC0 | (c >> 6)), (char)(0x80 | (c & 0x3F))};
      append(out, u, 2);
    }
  }
}

static void record(connection* c, double started, double took, int status, const char* kind, const char* text,
                   size_t text_len) {
  char head[160];
  int n = snprintf(head, sizeof head, "%s\t%.3f\t%.3f\t%d\t%s\t", c->addr, (started - start_time) * 1000.0,
                   took * 1000.0, status, kind);
  append(&c->out, head, (size_t)n);
  append_text(&c->out, text, text_len);
  append(&c->out, "\n", 1);
}

static void classify(connection* c, double started, double took, int status, const buffer* body) {
  if (status == 200 && body->len == main_len && memcmp(body->data, main_page, main_len) == 0) {
    record(c, started, took, status, "main", "", 0);
    return;
  }
  const char* box = memmem(body->data, body->len, kMessageStart, sizeof kMessageStart - 1);
  const char* end = box ? memmem(box, body->len - (size_t)(box - body->data), kMessageEnd, sizeof kMessageEnd - 1)
                        : NULL;
  if (box && end) {
    const char* text = box + sizeof kMessageStart - 1;
    const size_t len = (size_t)(end - text);
    const char* kind = status == 429                                                   ? "throttled"
                       : status == 503                                                 ? "deferred"
                       : len == sizeof kRejected - 1 && !memcmp(text, kRejected, len) ? "refused"
                                                                                       : "message";
    record(c, started, took, status, kind, text, len);
    return;
  }
  char text[128];
  int n = snprintf(text, sizeof text, "HTTP %d: ", status);
  size_t take = body->len < 80 ? body->len : 80;
  memcpy(text + n, body->data, take);
  record(c, started, took, status, status == 429 ? "limited" : "other", text, (size_t)n + take);
}

static void* run(void* arg) {
  connection* c = arg;
  buffer in = {0}, body = {0};
  char why[256];
  int fd = -1;
  /* At least one request, however short the time. */
  for (int first = 1; first || now() < end_time; first = 0) {
    const double started = now();
    if (fd < 0) {
      fd = open_connection(c->addr, why, sizeof why);
      if (fd < 0) {
        record(c, started, now() - started, 0, "io", why, strlen(why));
        usleep(100000);
        continue;
      }
      in.len = 0;
    }
    int keep = 0, status = -1;
    if (send(fd, request, request_len, MSG_NOSIGNAL) != (ssize_t)request_len)
      snprintf(why, sizeof why, "send: %s", strerror(errno));
    else
      status = read_answer(fd, &in, &body, &keep, why, sizeof why);
    const double took = now() - started;
    if (status < 0) {
      record(c, started, took, 0, "io", why, strlen(why));
      close(fd);
      fd = -1;
      continue;
    }
    classify(c, started, took, status, &body);
    if (!keep) {
      close(fd);
      fd = -1;
    }
    if (pause_ms) usleep((useconds_t)pause_ms * 1000);
  }
  if (fd >= 0) close(fd);
  free(in.data);
  free(body.data);
  return NULL;
}

/* Form encoding of a field's value. */
static size_t encode(char* out, size_t size, const char* value) {
  size_t n = 0;
  for (const unsigned char* p = (const unsigned char*)value; *p && n + 4 < size; ++p) {
    if ((*p >= 'A' && *p <= 'Z') || (*p >= 'a' && *p <= 'z') || (*p >= '0' && *p <= '9') || strchr("-_.", *p))
      out[n++] = (char)*p;
    else
      n += (size_t)snprintf(out + n, size - n, "%%%02X", *p);
  }
  out[n] = '\0';
  return n;
}

static void usage(void) {
  fprintf(stderr,
          "usage: login_attack -P PORT -a ADDR[,ADDR...] -c CONNS -u USER -p PASSWORD -d SECONDS -m MAIN_PAGE "
          "[-U PATH] [-w MS]\n");
  exit(2);
}

int main(int argc, char** argv) {
  char* addrs = NULL;
  const char *user = NULL, *password = NULL, *main_file = NULL;
  int conns = 1;
  double seconds = 0;
  int opt;
  while ((opt = getopt(argc, argv, "P:a:c:u:p:d:m:U:w:")) != -1) {
    switch (opt) {
      case 'P': port = atoi(optarg); break;
      case 'a': addrs = optarg; break;
      case 'c': conns = atoi(optarg); break;
      case 'u': user = optarg; break;
      case 'p': password = optarg; break;
      case 'd': seconds = atof(optarg); break;
      case 'm': main_file = optarg; break;
      case 'U': path = optarg; break;
      case 'w': pause_ms = atol(optarg); break;
      default: usage();
    }
  }
  if (!port || !addrs || conns < 1 || !user || !password || seconds <= 0 || !main_file) usage();

  FILE* f = fopen(main_file, "rb");
  if (!f) {
    perror(main_file);
    return 1;
  }
  buffer page = {0};
  char chunk[16384];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) append(&page, chunk, n);
  fclose(f);
  main_page = page.data;
  main_len = page.len;

  char form[1024], eu[400], ep[400];
  encode(eu, sizeof eu, user);
  encode(ep, sizeof ep, password);
  int form_len = snprintf(form, sizeof form, "u=%s&p=%s", eu, ep);
  request_len = (size_t)snprintf(request, sizeof request,
                                 "POST %s HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n"
                                 "Content-Type: application/x-www-form-urlencoded\r\n"
                                 "Content-Length: %d\r\n\r\n%s",
                                 path, port, form_len, form);

  connection* all = NULL;
  size_t count = 0;
  for (char* addr = strtok(addrs, ","); addr; addr = strtok(NULL, ",")) {
    all = realloc(all, (count + (size_t)conns) * sizeof *all);
    for (int i = 0; i < conns; ++i) all[count++] = (connection){.addr = addr};
  }
  start_time = now();
  end_time = start_time + seconds;
  for (size_t i = 0; i < count; ++i)
    if (pthread_create(&all[i].thread, NULL, run, &all[i]) != 0) {
      fprintf(stderr, "login_attack: cannot start a thread\n");
      return 1;
    }
  for (size_t i = 0; i < count; ++i) {
    pthread_join(all[i].thread, NULL);
    if (all[i].out.len) fwrite(all[i].out.data, 1, all[i].out.len, stdout);
  }
  return 0;
}
