// arena: chunked bump allocator. See arena.hpp for the contract.
#include "arena/arena.hpp"

#include <cassert>
#include <cstdlib>
#include <cstring>

namespace {

// The word in front of each block holds the chunk's address.
static_assert(sizeof(chunk_t *) == 8);

void chunk_ref(chunk_t *chunk) {
  assert(chunk->arena);
  chunk->n_refs++;
  assert(chunk->n_refs != 0);
}

// The last reference does not lower the counter: it recycles the chunk, and
// the counter is set afresh when the chunk is taken again.
void chunk_unref(chunk_t *chunk) {
  assert(chunk);
  assert(chunk->arena);
  assert(chunk->n_refs > 0);
  if (chunk->n_refs == 1) {
    arena_t *arena = chunk->arena;
    arena_list_del(&chunk->link);
    arena_list_add(&chunk->link, &arena->free_chunks);
    if (arena->flags & ARENA_ZERO_FILL)
      memset(arena_chunk_data(chunk), 0, arena->chunk_size);
    return;
  }
  chunk->n_refs--;
}

// Make a fresh or recycled chunk current; false when out of memory.
bool next_chunk(arena_t *arena) {
  chunk_t *chunk;
  if (!arena_list_empty(&arena->free_chunks)) {
    chunk = arena_list_entry(arena->free_chunks.next, chunk_t, link);
    arena_list_del(&chunk->link);
  } else {
    size_t bytes = sizeof(chunk_t) + size_t(arena->chunk_size);
    void *mem = (arena->flags & ARENA_ZERO_FILL) ? calloc(1, bytes) : malloc(bytes);
    if (!mem) {
      arena->chunk = nullptr;
      return false;
    }
    chunk = static_cast<chunk_t *>(mem);
  }
  chunk->n_refs = 1;
  chunk->next_offset = 0;
  chunk->arena = arena;
  arena_list_add(&chunk->link, &arena->used_chunks);
  arena->chunk = chunk;
  return true;
}

}  // namespace

arena_t *arena_new(uint32_t chunk_size, uint32_t flags) {
  arena_t *arena = static_cast<arena_t *>(calloc(1, sizeof(arena_t)));
  if (!arena)
    return nullptr;
  arena->chunk_size = (chunk_size + (ARENA_CHUNK_ROUND - 1)) & ~(ARENA_CHUNK_ROUND - 1);
  arena->flags = flags;
  arena_list_init(&arena->free_chunks);
  arena_list_init(&arena->used_chunks);
  return arena;
}

void *arena_get(arena_t *arena, uint32_t size) {
  assert(arena);
  assert(size <= arena->chunk_size);
  uint32_t need = (size + 15) & ~7u;
  chunk_t *chunk = arena->chunk;
  if (!chunk || chunk->next_offset + need > arena->chunk_size) {
    // A chunk whose blocks are all back is recycled right here by dropping
    // our own reference, so the free list hands the same chunk back, empty.
    if (chunk)
      chunk_unref(chunk);
    if (!next_chunk(arena))
      return nullptr;
    chunk = arena->chunk;
  }
  chunk_ref(chunk);
  uint8_t *block = arena_chunk_data(chunk) + chunk->next_offset;
  memcpy(block, &chunk, sizeof chunk);
  chunk->next_offset += need;
  assert(arena->chunk->next_offset <= arena->chunk_size);
  return block + 8;
}

void arena_put(void *ptr) {
  assert(ptr);
  chunk_t *chunk;
  memcpy(&chunk, static_cast<uint8_t *>(ptr) - 8, sizeof chunk);
  chunk_unref(chunk);
}

void arena_reset(arena_t *arena) {
  assert(arena);
  arena->chunk = nullptr;
  if (arena->flags & ARENA_ZERO_FILL) {
    arena_link_t *pos, *n;
    arena_list_for_each_safe(pos, n, &arena->used_chunks)
      memset(arena_chunk_data(arena_list_entry(pos, chunk_t, link)), 0, arena->chunk_size);
  }
  arena_list_splice(&arena->used_chunks, &arena->free_chunks);
}

void arena_free(arena_t *arena) {
  assert(arena);
  arena_reset(arena);
  arena_link_t *pos, *n;
  arena_list_for_each_safe(pos, n, &arena->free_chunks)
    free(arena_list_entry(pos, chunk_t, link));
  free(arena);
}
