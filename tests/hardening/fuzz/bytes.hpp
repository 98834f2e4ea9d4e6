// bytes: reads a fuzzer's input as a stream of small decisions.
//
// Every read past the end yields zeros, so any input, even an empty one, is a
// complete operation sequence and the targets never need to reject input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

struct bytes_t {
  const uint8_t *data;  // the fuzzer's input; not owned
  size_t size;          // bytes in data
  size_t pos;           // next byte to read
};

// One byte, or 0 past the end.
inline uint8_t bytes_u8(bytes_t *in) { return in->pos < in->size ? in->data[in->pos++] : 0; }

// Two bytes, little end first.
inline uint16_t bytes_u16(bytes_t *in) {
  uint16_t lo = bytes_u8(in);
  return uint16_t(lo | (bytes_u8(in) << 8));
}

// Whether any input is left to decide another operation.
inline bool bytes_more(const bytes_t *in) { return in->pos < in->size; }

// A model or invariant check of the fuzz targets. Unlike assert it names the
// target's own check, so a crash tells the library's assertions from ours.
#define CHECK(expr)                                                                  \
  do {                                                                               \
    if (!(expr)) {                                                                   \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #expr);      \
      abort();                                                                       \
    }                                                                                \
  } while (0)
