/*
 * The floor of a request that no action answers: nemvoweb still creates its
 * web module, and with it loads the client library, then writes nothing.
 * This program only loads the client library and writes nothing.
 */
#include <dlfcn.h>

int main(void) { return dlopen("libfbclient.so.2", RTLD_NOW) ? 0 : 2; }
