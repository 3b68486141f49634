/*
 * The client library as the floor programs use it: loaded by name, the few
 * entry points a login needs, the parameter block nemvoweb sends (user_name,
 * password) and the SQL dialect asked after the attach.
 */
#ifndef NEMVO_BENCH_FLOOR_CLIENT_H
#define NEMVO_BENCH_FLOOR_CLIENT_H

#include <dlfcn.h>
#include <ibase.h>
#include <string.h>
#include <unistd.h>

typedef ISC_STATUS (*attach_fn)(ISC_STATUS*, short, const ISC_SCHAR*, isc_db_handle*, short, const ISC_SCHAR*);
typedef ISC_STATUS (*info_fn)(ISC_STATUS*, isc_db_handle*, short, const ISC_SCHAR*, short, ISC_SCHAR*);
typedef ISC_LONG (*vax_fn)(const ISC_SCHAR*, short);
typedef ISC_STATUS (*detach_fn)(ISC_STATUS*, isc_db_handle*);
typedef ISC_LONG (*interprete_fn)(ISC_SCHAR*, const ISC_STATUS**);

struct floor_client {
  attach_fn attach;
  info_fn info;
  vax_fn vax;
  detach_fn detach;
  interprete_fn interprete;
};

/* Loads the client library and binds the entry points; 0 on success. */
static inline int floor_load_client(struct floor_client* c) {
  void* lib = dlopen("libfbclient.so.2", RTLD_NOW);
  if (!lib) return 1;
  void* p;
#define FLOOR_BIND(var, name) (p = dlsym(lib, name), memcpy(&(var), &p, sizeof p), p != NULL)
  return FLOOR_BIND(c->attach, "isc_attach_database") && FLOOR_BIND(c->info, "isc_database_info") &&
                 FLOOR_BIND(c->vax, "isc_vax_integer") && FLOOR_BIND(c->detach, "isc_detach_database") &&
                 FLOOR_BIND(c->interprete, "isc_interprete")
             ? 0
             : 1;
#undef FLOOR_BIND
}

/* The parameter block into `dpb` (room for 520 bytes); its length, or 0 when
 * a name or password is longer than 255 bytes. */
static inline size_t floor_dpb(char* dpb, const char* user, const char* password) {
  size_t n = strlen(user), m = strlen(password), len = 0;
  if (n > 255 || m > 255) return 0;
  dpb[len++] = isc_dpb_version1;
  dpb[len++] = isc_dpb_user_name;
  dpb[len++] = (char)n;
  memcpy(dpb + len, user, n);
  len += n;
  dpb[len++] = isc_dpb_password;
  dpb[len++] = (char)m;
  memcpy(dpb + len, password, m);
  return len + m;
}

/* The attachment's SQL dialect (1 when the server does not say). */
static inline int floor_dialect(const struct floor_client* c, isc_db_handle* db) {
  ISC_STATUS status[ISC_STATUS_LENGTH] = {0};
  const char items[] = {isc_info_db_sql_dialect};
  char buffer[512];
  if (c->info(status, db, 1, items, sizeof buffer, buffer) == 0 && buffer[0] == isc_info_db_sql_dialect)
    return (int)c->vax(buffer + 3, (short)c->vax(buffer + 1, 2));
  return 1;
}

/* Reads up to `size` bytes of `fd` into `buffer` (which may be null: nothing
 * is read); the number read, short only at the file's end or an error. */
static inline size_t floor_read_all(int fd, char* buffer, size_t size) {
  size_t got = 0;
  while (buffer && got < size) {
    ssize_t r = read(fd, buffer + got, size - got);
    if (r <= 0) break;
    got += (size_t)r;
  }
  return got;
}

#endif
