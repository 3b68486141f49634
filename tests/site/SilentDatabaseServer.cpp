// For the site tests: a database server that has hung. Listens on a free
// port of 127.0.0.1, prints the port, then accepts connections and never
// answers, until it is ended.
#include <unistd.h>

#include <cstdio>

#include "support/SilentServer.h"

int main() {
  nemvo::testing::SilentServer server;
  std::printf("%d\n", server.Port());
  std::fflush(stdout);
  for (;;) pause();
}
