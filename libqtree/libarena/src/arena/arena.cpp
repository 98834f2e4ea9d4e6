// arena: chunked bump allocator. See arena.hpp for the contract and for
// arena_get and arena_put, which live there so that they can be inlined.
#include "arena/arena.hpp"

#include <cassert>
#include <cstdlib>
#include <cstring>

// The word in front of each block holds the chunk's address.
static_assert(sizeof(chunk_t *) == 8);

namespace arena_internal {

void recycle(chunk_t *chunk)
{
  arena_t *arena = chunk->arena;
  arena_list_del(&chunk->link);
  arena_list_add(&chunk->link, &arena->free_chunks);
  if (arena->flags & ARENA_ZERO_FILL)
    memset(arena_chunk_data(chunk), 0, arena->chunk_size);
}

chunk_t *next_chunk(arena_t *arena)
{
  // A chunk whose blocks are all back is recycled right here by dropping our
  // own reference, so the free list hands the same chunk back, empty.
  chunk_t *chunk = arena->chunk;
  if (chunk)
    chunk_unref(chunk);
  if (!arena_list_empty(&arena->free_chunks)) {
    chunk = arena_list_entry(arena->free_chunks.next, chunk_t, link);
    arena_list_del(&chunk->link);
  } else {
    size_t bytes = sizeof(chunk_t) + size_t(arena->chunk_size);
    void *mem = (arena->flags & ARENA_ZERO_FILL) ? calloc(1, bytes) : malloc(bytes);
    if (!mem) {
      arena->chunk = nullptr;
      return nullptr;
    }
    chunk = static_cast<chunk_t *>(mem);
  }
  chunk->n_refs = 1;
  chunk->next_offset = 0;
  chunk->arena = arena;
  arena_list_add(&chunk->link, &arena->used_chunks);
  arena->chunk = chunk;
  return chunk;
}

}  // namespace arena_internal

arena_t *arena_new(uint32_t chunk_size, uint32_t flags)
{
  arena_t *arena = static_cast<arena_t *>(calloc(1, sizeof(arena_t)));
  if (!arena)
    return nullptr;
  arena->chunk_size = (chunk_size + (ARENA_CHUNK_ROUND - 1)) & ~(ARENA_CHUNK_ROUND - 1);
  arena->flags = flags;
  arena_list_init(&arena->free_chunks);
  arena_list_init(&arena->used_chunks);
  return arena;
}

void arena_reset(arena_t *arena)
{
  assert(arena);
  arena->chunk = nullptr;
  if (arena->flags & ARENA_ZERO_FILL) {
    arena_link_t *pos, *n;
    arena_list_for_each_safe(pos, n, &arena->used_chunks)
        memset(arena_chunk_data(arena_list_entry(pos, chunk_t, link)), 0, arena->chunk_size);
  }
  arena_list_splice(&arena->used_chunks, &arena->free_chunks);
}

void arena_free(arena_t *arena)
{
  assert(arena);
  arena_reset(arena);
  arena_link_t *pos, *n;
  arena_list_for_each_safe(pos, n, &arena->free_chunks) free(arena_list_entry(pos, chunk_t, link));
  free(arena);
}
