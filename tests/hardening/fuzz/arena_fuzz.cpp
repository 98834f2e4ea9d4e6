// arena_fuzz: random get/put/reset sequences on one arena, checked after every
// step against a model of where each block must sit and how every chunk is
// counted.
//
// Each live block is filled with a byte of its own, so a block handed out
// twice, or a chunk recycled while a block in it is live, shows up as a
// changed pattern. Chunk bookkeeping is checked from the lists themselves:
// the current chunk heads used_chunks, every used chunk counts exactly its
// live blocks (plus one while current), free chunks hold none, and chunks
// are allocated from the system only when none is free.
#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <vector>

#include "arena/arena.hpp"
#include "bytes.hpp"

namespace {

struct block_t {
  uint8_t *ptr;     // what arena_get returned
  uint32_t size;    // bytes requested
  uint8_t fill;     // every byte of the block holds this
  chunk_t *chunk;   // the chunk the block was carved from
};

constexpr uint32_t CHUNK_SIZES[] = {1, 8192, 8193, 16384, 20000};
constexpr size_t LIVE_MAX = 2048;

chunk_t *chunk_of(const uint8_t *ptr) {
  chunk_t *chunk;
  memcpy(&chunk, ptr - 8, sizeof chunk);
  return chunk;
}

void check_block(const block_t &b) {
  CHECK(chunk_of(b.ptr) == b.chunk);
  for (uint32_t i = 0; i < b.size; i++) CHECK(b.ptr[i] == b.fill);
}

size_t list_length(const arena_link_t *head) {
  size_t n = 0;
  for (const arena_link_t *pos = head->next; pos != head; pos = pos->next) n++;
  return n;
}

void check_arena(arena_t *arena, const std::vector<block_t> &live, size_t allocated) {
  std::map<chunk_t *, uint32_t> counts;
  for (const block_t &b : live) counts[b.chunk]++;
  if (arena->chunk) CHECK(arena->used_chunks.next == &arena->chunk->link);
  size_t used = 0;
  for (arena_link_t *pos = arena->used_chunks.next; pos != &arena->used_chunks; pos = pos->next) {
    chunk_t *chunk = arena_list_entry(pos, chunk_t, link);
    uint32_t own = chunk == arena->chunk ? 1 : 0;
    CHECK(chunk->arena == arena);
    CHECK(chunk->next_offset <= arena->chunk_size);
    CHECK(chunk->next_offset % 8 == 0);
    CHECK(chunk->n_refs == counts[chunk] + own);
    CHECK(chunk->n_refs > 0);
    used++;
  }
  for (arena_link_t *pos = arena->free_chunks.next; pos != &arena->free_chunks; pos = pos->next) {
    chunk_t *chunk = arena_list_entry(pos, chunk_t, link);
    CHECK(chunk != arena->chunk);
    CHECK(!counts.count(chunk) || counts[chunk] == 0);
  }
  // Every chunk with a live block is on the used list.
  size_t holding = 0;
  for (auto &[chunk, n] : counts) holding += n > 0 && chunk != arena->chunk;
  CHECK(used == holding + (arena->chunk ? 1 : 0));
  CHECK(used + list_length(&arena->free_chunks) == allocated);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  bytes_t in = {data, size, 0};
  const uint8_t head = bytes_u8(&in);
  const uint32_t flags = head & 1 ? ARENA_ZERO_FILL : 0;
  arena_t *arena = arena_new(CHUNK_SIZES[(head >> 1) % 5], flags);
  CHECK(arena);
  CHECK(arena->chunk_size % ARENA_CHUNK_ROUND == 0 && arena->chunk_size >= 8192);
  std::vector<block_t> live;
  size_t allocated = 0;
  uint8_t next_fill = 1;

  while (bytes_more(&in)) {
    const uint8_t op = bytes_u8(&in);
    if (op < 160 && live.size() < LIVE_MAX) {
      // Mostly small records as the tree and the game ask for, now and then
      // anything up to the largest block a chunk can serve.
      uint32_t sz = op < 120 ? bytes_u8(&in) : bytes_u16(&in) % (arena->chunk_size - 8 + 1);
      chunk_t *before = arena->chunk;
      uint32_t offset = before ? before->next_offset : 0;
      const uint32_t need = (sz + 15) & ~7u;
      const bool fits = before && offset + need <= arena->chunk_size;
      chunk_t *recycled = nullptr;
      if (!fits) {
        // The current chunk's own reference is dropped first, which may put
        // it on the free list just in time to be taken again.
        bool drops = before && before->n_refs == 1;
        if (drops) recycled = before;
        else if (!arena_list_empty(&arena->free_chunks))
          recycled = arena_list_entry(arena->free_chunks.next, chunk_t, link);
      }
      uint8_t *p = static_cast<uint8_t *>(arena_get(arena, sz));
      CHECK(p);
      CHECK(reinterpret_cast<uintptr_t>(p) % 8 == 0);
      CHECK(chunk_of(p) == arena->chunk);
      if (fits) {
        CHECK(arena->chunk == before);
        CHECK(p == arena_chunk_data(before) + offset + 8);
      } else {
        if (recycled) CHECK(arena->chunk == recycled);
        else allocated++;
        CHECK(p == arena_chunk_data(arena->chunk) + 8);
      }
      if (flags & ARENA_ZERO_FILL)
        for (uint32_t i = 0; i < sz; i++) CHECK(p[i] == 0);
      block_t b = {p, sz, next_fill, arena->chunk};
      next_fill = uint8_t(next_fill % 255 + 1);
      memset(p, b.fill, sz);
      live.push_back(b);
    } else if (op < 240 && !live.empty()) {
      size_t i = bytes_u16(&in) % live.size();
      check_block(live[i]);
      arena_put(live[i].ptr);
      live[i] = live.back();
      live.pop_back();
    } else if (op >= 250) {
      arena_reset(arena);
      live.clear();
      CHECK(!arena->chunk);
      CHECK(arena_list_empty(&arena->used_chunks));
    }
    check_arena(arena, live, allocated);
  }
  for (const block_t &b : live) check_block(b);
  arena_free(arena);
  return 0;
}
