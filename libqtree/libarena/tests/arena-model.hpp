// A reference model of one arena, driven by a stream of bytes: the random
// model test and the fuzz entry both run arena_model_run, which aborts with the
// failed check at the first difference. Also what the quadtree's model
// shares: the byte reader, the check, the random runs, the allocation guard.
//
// The model predicts every block's address (chunk data + offset + 8), which
// chunk is current and which one is taken next (keeping used_chunks and
// free_chunks in order: a new current chunk and a recycled one go to the
// front, a reset puts the used ones in front of the free ones), and each
// used chunk's count and offset. Blocks are filled with a byte of their own,
// so with zero-fill a chunk that was not cleared shows in the next blocks
// carved from it.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <vector>

#include "arena/arena.hpp"

#define MODEL_CHECK(e) \
  ((e) ? void(0) : (fprintf(stderr, "%s:%d: model check failed: %s\n", __FILE__, __LINE__, #e), abort()))

// Decisions read from the input; past its end every read is 0.
struct model_bytes_t {
  const uint8_t *p, *end;
  uint32_t u8() { return p < end ? *p++ : 0; }
};

// The allocation guard of the test executables: counts live malloc/calloc
// blocks, so that a leak shows as a count that does not come back, and fails
// the calloc that calloc_fail counts down to. Sanitized builds leave it out:
// their allocator owns these names and LeakSanitizer finds the leaks.
#ifdef ARENA_ALLOC_GUARD
constexpr bool ALLOC_GUARDED = true;
extern "C" void *__libc_malloc(size_t), *__libc_calloc(size_t, size_t), __libc_free(void *);
long alloc_live, calloc_fail;
extern "C" void *malloc(size_t n) noexcept { return alloc_live++, __libc_malloc(n); }
extern "C" void *calloc(size_t n, size_t s) noexcept {
  return calloc_fail && !--calloc_fail ? nullptr : (alloc_live++, __libc_calloc(n, s));
}
extern "C" void free(void *p) noexcept { alloc_live -= p != nullptr, __libc_free(p); }
#else
constexpr bool ALLOC_GUARDED = false;
inline long alloc_live, calloc_fail;
#endif

// Runs a model on random inputs whose first byte counts up; the blocks it left live.
inline long model_random_runs(void (*run)(const uint8_t *, size_t), int runs, size_t size) {
  std::vector<uint8_t> bytes(size);
  std::mt19937 rng(1);
  const long before = alloc_live;
  for (int i = 0; i < runs; i++)
    std::generate(bytes.begin(), bytes.end(), [&] { return uint8_t(rng()); }), bytes[0] = uint8_t(i), run(bytes.data(), size);
  return alloc_live - before;
}

// Requested chunk size and the size the arena keeps.
constexpr uint32_t ARENA_SIZES[][2] = {{0, 0}, {1, 8192}, {8192, 8192}, {8193, 16384}, {20000, 24576}, {0xffffe001, 0}};

struct arena_model_t {
  arena_t *a;
  bool zero, armed = false;                        // armed: the next chunk from the system fails
  std::map<chunk_t *, uint32_t> offset{}, live{};  // per chunk
  std::vector<chunk_t *> used{}, free{};           // front first
  std::vector<std::pair<void *, chunk_t *>> blocks{};
  chunk_t *current = nullptr; uint8_t fill = 0;    // the current chunk; the byte the next block is filled with

  void recycle(chunk_t *c) { used.erase(std::find(used.begin(), used.end(), c)), free.insert(free.begin(), c); }
  void get(uint32_t size) {
    const uint32_t need = 8 + (size + 7) / 8 * 8, next = !current || offset[current] + need > a->chunk_size;  // next: a new chunk
    if (next && current && !live[current]) recycle(current);  // the arena's own reference was its last
    if (next && free.empty() && armed) return armed = false, current = nullptr, MODEL_CHECK(!arena_get(a, size) && !a->chunk);
    uint8_t *p = static_cast<uint8_t *>(arena_get(a, size));
    if (next) {  // the last recycled chunk, else a new one
      used.insert(used.begin(), current = free.empty() ? a->chunk : free.front());
      free.erase(free.begin(), free.begin() + !free.empty());
      offset[current] = live[current] = 0;
    }
    MODEL_CHECK(current && p == arena_chunk_data(current) + offset[current] + 8 &&
                (!zero || std::count(p, p + size, 0) == long(size)));
    memset(p, fill = uint8_t(fill % 255 + 1), size);
    blocks.push_back({p, current}), offset[current] += need, live[current]++;
  }
  void put(size_t i) {
    const auto [p, c] = blocks[i];
    blocks.erase(blocks.begin() + long(i)), arena_put(p);
    if (!--live[c] && c != current) recycle(c);
  }
  void check() {
    MODEL_CHECK(a->chunk == current);
    for (chunk_t *c : used) MODEL_CHECK(c->n_refs == live[c] + (c == current) && c->next_offset == offset[c]);
  }
};

// One arena's life from the bytes: its size and flag, then gets of small,
// large and chunk-filling sizes, puts, failed chunk allocations and resets.
inline void arena_model_run(const uint8_t *data, size_t size) {
  model_bytes_t in{data, data + size};
  const uint32_t head = in.u8(), *row = ARENA_SIZES[1 + head % 4];
  arena_model_t m{arena_new(row[0], head & 4 ? 0 : ARENA_ZERO_FILL), !(head & 4)};
  MODEL_CHECK(m.a && m.a->chunk_size == row[1] && !m.a->chunk);
  for (uint32_t op; in.p < in.end; m.check()) {
    const uint32_t rest = m.current ? m.a->chunk_size - m.offset[m.current] : 0;
    if ((op = in.u8()) < 90) m.get(op < 60 ? in.u8() : in.u8() * 97 % (m.a->chunk_size - 7));  // small or large
    else if (op < 110) m.get(rest >= 8 ? rest - 8 + (op & 1) : op & 7);  // exactly the room left, or 8 bytes more
    else if (op < 240 && !m.blocks.empty()) m.put(in.u8() % m.blocks.size());
    else if (op < 248 && m.zero && ALLOC_GUARDED) m.armed = true, calloc_fail = 1;
    else if (op >= 248)  // every used chunk goes to the front of the free ones, in order
      arena_reset(m.a), m.free.insert(m.free.begin(), m.used.begin(), m.used.end()), m.used.clear(), m.blocks.clear(),
          m.current = nullptr;
  }
  arena_free(m.a), calloc_fail = 0;
}
