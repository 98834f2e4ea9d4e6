// arena: a chunked bump allocator with per-chunk reference counts.
//
// Blocks are carved one after the other from large chunks; each chunk counts
// its live blocks and is recycled as a whole once none is left, so single
// blocks are never reused. arena_reset drops every block at once. This suits
// many small records of short or bounded life (the quadtree's nodes, refs and
// objects, the game's entities).
//
// Layout: a chunk is a chunk_t header followed by chunk_size data bytes. Each
// block is preceded by one 8-byte word holding its chunk's address, which is
// how arena_put finds the chunk without an arena argument. A block of size
// bytes takes (size + 15) & ~7 bytes of its chunk, so every block is 8-byte
// aligned.
//
// Zero-fill (flag bit 0): every byte arena_get hands out reads as zero; new
// chunks come zeroed and a chunk's data is cleared when it is recycled or the
// arena is reset.
//
// Ownership: the arena owns its chunks; chunks go back to the system only in
// arena_free, so an arena holds the largest number of chunks it ever needed at
// once. Pointers from arena_get die with arena_reset or arena_free.
//
// Limits and failures: the largest block is chunk_size - 8 bytes (the chunk
// word must fit too). The entry assertion admits sizes up to chunk_size, so a
// request between the two limits passes it and aborts at the assertion after
// carving ("arena->chunk->next_offset <= arena->chunk_size"); keep blocks well
// below the chunk size. Other assertions: a null arena, block or chunk; a
// block put back to a chunk with no live block; a chunk counting more than
// 2^32 - 1 blocks. Running out of memory is not an assertion: arena_new and
// arena_get return null.
//
// Does NOT: lock (one thread only), search earlier chunks for room, shrink,
// reuse a block before its whole chunk is recycled, or print anything (a null
// result means the system is out of memory; the caller decides).
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "arena/arena-list.hpp"

constexpr uint32_t ARENA_CHUNK_ROUND = 8192;  // chunk sizes are multiples of this
constexpr uint32_t ARENA_ZERO_FILL = 1;       // flag: hand out zeroed bytes only

struct arena_t;

struct chunk_t {
  arena_t *arena;        // owner; never null in a chunk in use
  arena_link_t link;     // place in free_chunks or used_chunks
  uint32_t n_refs;       // live blocks, plus one while current
  uint32_t next_offset;  // first data byte not handed out yet
  // chunk_size data bytes follow
};

struct arena_t {
  chunk_t *chunk;            // current chunk; null before the first request,
                             // after arena_reset and after a failed allocation
  uint32_t chunk_size;       // data bytes per chunk, a multiple of 8192
  uint32_t flags;            // bit 0: zero-fill
  arena_link_t free_chunks;  // empty chunks; last recycled first reused
  arena_link_t used_chunks;  // current chunk first, then chunks with live blocks
};

// The data must start 8-byte aligned behind the header for the blocks to be.
static_assert(sizeof(chunk_t) == 32);
static_assert(offsetof(chunk_t, link) == 8);
static_assert(offsetof(chunk_t, n_refs) == 24);
static_assert(offsetof(chunk_t, next_offset) == 28);
static_assert(sizeof(arena_t) == 48);
static_assert(offsetof(arena_t, chunk_size) == 8);
static_assert(offsetof(arena_t, flags) == 12);
static_assert(offsetof(arena_t, free_chunks) == 16);
static_assert(offsetof(arena_t, used_chunks) == 32);

// A new arena (chunk_size rounded up to 8192 in 32-bit arithmetic); null when out of memory.
arena_t *arena_new(uint32_t chunk_size, uint32_t flags);
// size usable bytes, 8-byte aligned; null when a needed chunk cannot be allocated.
inline void *arena_get(arena_t *arena, uint32_t size);
// Release a block from arena_get; its chunk is recycled when its last block goes.
inline void arena_put(void *ptr);
// Release every block at once; all chunks become free, the current one first.
void arena_reset(arena_t *arena);
// Reset, then give every chunk and the arena record back to the system.
void arena_free(arena_t *arena);
// The data bytes of a chunk (behind its header).
inline uint8_t *arena_chunk_data(chunk_t *chunk)
{
  return reinterpret_cast<uint8_t *>(chunk + 1);
}

// ---------------------------------------------------------------------------
// arena_get and arena_put are defined here so that a block taken from the
// current chunk and given back costs a few instructions and no call; what
// happens when a chunk changes hands is in arena.cpp. Not for callers.
// ---------------------------------------------------------------------------

namespace arena_internal {

// The current chunk is missing or too full: drop it, make a fresh or
// recycled chunk current and return it; null when out of memory.
chunk_t *next_chunk(arena_t *arena);
// Move a chunk whose last reference goes to the free chunks, cleared when zero-filling.
void recycle(chunk_t *chunk);

inline void chunk_ref(chunk_t *chunk)
{
  assert(chunk->arena);
  chunk->n_refs++;
  assert(chunk->n_refs != 0);
}

// The last reference does not lower the counter: it recycles the chunk, and
// the counter is set afresh when the chunk is taken again.
inline void chunk_unref(chunk_t *chunk)
{
  assert(chunk);
  assert(chunk->arena);
  assert(chunk->n_refs > 0);
  if (chunk->n_refs == 1)
    recycle(chunk);
  else
    chunk->n_refs--;
}

}  // namespace arena_internal

inline void *arena_get(arena_t *arena, uint32_t size)
{
  assert(arena);
  assert(size <= arena->chunk_size);
  const uint32_t need = (size + 15) & ~7u;
  chunk_t *chunk = arena->chunk;
  if (!chunk || chunk->next_offset + need > arena->chunk_size) {
    chunk = arena_internal::next_chunk(arena);
    if (!chunk)
      return nullptr;
  }
  // The block is carved before the chunk is counted and the chunk word goes
  // in last, which nothing can tell apart from the other order, so that the
  // offset is read once: the counter's store and a store through bytes could
  // alias it, and would make the compiler read it again.
  const uint32_t offset = chunk->next_offset;
  chunk->next_offset = offset + need;
  assert(arena->chunk->next_offset <= arena->chunk_size);
  arena_internal::chunk_ref(chunk);
  uint8_t *block = arena_chunk_data(chunk) + offset;
  memcpy(block, &chunk, sizeof chunk);
  return block + 8;
}

inline void arena_put(void *ptr)
{
  assert(ptr);
  chunk_t *chunk;
  memcpy(&chunk, static_cast<uint8_t *>(ptr) - 8, sizeof chunk);
  arena_internal::chunk_unref(chunk);
}
