#pragma once
// What a FastCGI worker grants one web server connection: how long it waits
// for it, how slow it may be, how much of a request's head it holds, how many
// connections it keeps. A peer beyond them loses its request (or gets a
// refusal), never the worker.
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace nemvo {

struct TFastCGILimits {
  // The request's head (begin-request and every parameter) must arrive whole
  // within this of the connection's accept, or of the first byte of a later
  // request on a kept connection; reading the body and writing the answer
  // get this plus their bytes at `minRate`. Zero: no bound on any of them.
  std::chrono::seconds ioTimeout{60};
  // Bytes a second a body or an answer must move at, on average, beyond
  // the ioTimeout's grace. A login's body is under a kilobyte and its answer
  // a page of some 100 KiB, which any web server takes in far less than a
  // second: 1 KiB/s is a floor no honest peer comes near, and keeps a
  // trickling one to ioTimeout plus a second per KiB. An answer's bytes
  // count once the web server has first kept the worker waiting: what the
  // socket's buffer takes before is no sign of its reading. 0: ioTimeout
  // alone.
  int64_t minRate = 1024;
  // The parameters' size (names and values) and number; beyond them the
  // request is refused with 431 (Request Header Fields Too Large), and what
  // arrives beyond them is not held. A browser's request comes to a few
  // kilobytes and a few dozen parameters; nginx passes at most 32 KiB of
  // header lines by default, Apache up to 100 fields of 8 KiB, and the
  // program's own cases carry a 100 KB path and cookie. 256 KiB admits all
  // of them and still holds a worker's memory to a few megabytes with every
  // connection's head at the limit.
  size_t maxParamBytes = 256 * 1024;
  size_t maxParams = 512;
  // Connections one worker holds at once: kept ones between requests and
  // new ones whose head is on its way. When a new one comes beyond this, the
  // kept connection idle longest goes; a connection with bytes waiting never.
  size_t maxConnections = 16;
  // A kept connection idle this long is closed. Longer than nginx's 60 s for
  // its cached upstream connections, so that normally the web server, which
  // knows when it sends the next request, closes first.
  std::chrono::seconds keepAliveTimeout{120};
  // After the last answer on a connection the worker reads and drops what
  // the web server still sends, so that closing does not reset the
  // connection before the web server has read the answer; for at most this
  // long in all. The worker serves others meanwhile.
  std::chrono::milliseconds linger{2000};
  // How many processes take connections from the same socket: what the
  // worker tells a web server that asks for its figures (FCGI_MAX_CONNS,
  // FCGI_MAX_REQS).
  int workers = 1;
};

}  // namespace nemvo
