// Chunk arena: sizes, block layout, chunk recycling, zero-fill and reset order.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <vector>

#include "arena/arena.hpp"

namespace {

size_t count_chunks(const arena_link_t *head) {
  size_t n = 0;
  for (const arena_link_t *l = head->next; l != head; l = l->next)
    n++;
  return n;
}

// The chunks of a list, front first.
std::vector<chunk_t *> chunks_of(arena_link_t *head) {
  std::vector<chunk_t *> v;
  for (arena_link_t *l = head->next; l != head; l = l->next)
    v.push_back(arena_list_entry(l, chunk_t, link));
  return v;
}

chunk_t *chunk_of(void *block) {
  chunk_t *chunk;
  memcpy(&chunk, static_cast<uint8_t *>(block) - 8, sizeof chunk);
  return chunk;
}

bool all_zero(const void *p, size_t n) {
  const uint8_t *b = static_cast<const uint8_t *>(p);
  for (size_t i = 0; i < n; i++)
    if (b[i])
      return false;
  return true;
}

// 144-byte blocks take 152 bytes: 53 fit in one 8192-byte chunk.
constexpr uint32_t BLOCK = 144;
constexpr int PER_CHUNK = 8192 / 152;

// Fills the current chunk (a new one when the last is full) with dirty blocks.
std::vector<void *> fill_chunk(arena_t *arena, int fill = 0x5a) {
  std::vector<void *> blocks;
  for (int i = 0; i < PER_CHUNK; i++) {
    blocks.push_back(arena_get(arena, BLOCK));
    memset(blocks.back(), fill, BLOCK);
  }
  return blocks;
}

void put_all(const std::vector<void *> &blocks) {
  for (void *p : blocks)
    arena_put(p);
}

}  // namespace

TEST(arena_new, rounds_chunk_size_up_to_a_multiple_of_8192) {
  const uint32_t cases[][2] = {{1, 8192}, {8192, 8192}, {8193, 16384}, {16385, 24576}};
  for (auto &c : cases) {
    arena_t *arena = arena_new(c[0], 1);
    ASSERT_NE(arena, nullptr);
    EXPECT_EQ(arena->chunk_size, c[1]) << "requested " << c[0];
    EXPECT_EQ(arena->chunk, nullptr);
    EXPECT_EQ(count_chunks(&arena->used_chunks) + count_chunks(&arena->free_chunks), 0u);
    arena_free(arena);
  }
}

TEST(arena_get, blocks_take_size_plus_a_chunk_word_rounded_to_8) {
  arena_t *arena = arena_new(8192, 1);
  uint8_t *a = static_cast<uint8_t *>(arena_get(arena, BLOCK));
  EXPECT_EQ(a, arena_chunk_data(arena->chunk) + 8);
  EXPECT_EQ(arena->chunk->n_refs, 2u);
  // Every size from 0 to 24 keeps blocks 8-byte aligned, apart and in the chunk.
  for (uint32_t size = 0; size <= 24; size++) {
    uint32_t before = arena->chunk->next_offset;
    uint8_t *p = static_cast<uint8_t *>(arena_get(arena, size));
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 8, 0u);
    EXPECT_EQ(arena->chunk->next_offset - before, (size + 15) & ~7u) << "size " << size;
    EXPECT_EQ(chunk_of(p), arena->chunk);
  }
  EXPECT_EQ(arena->chunk->n_refs, 27u);
  arena_free(arena);
}

TEST(arena_get, a_request_that_does_not_fit_starts_a_new_chunk_in_front) {
  arena_t *arena = arena_new(8192, 1);
  fill_chunk(arena);
  chunk_t *first = arena->chunk;
  EXPECT_EQ(first->next_offset, uint32_t(PER_CHUNK * 152));
  void *next = arena_get(arena, BLOCK);
  EXPECT_EQ(chunk_of(next), arena->chunk);
  EXPECT_EQ(chunks_of(&arena->used_chunks), (std::vector<chunk_t *>{arena->chunk, first}));
  // The old chunk lost the arena's own reference, not the blocks' ones.
  EXPECT_EQ(first->n_refs, uint32_t(PER_CHUNK));
  // The largest block that fits exactly fills a fresh chunk.
  void *big = arena_get(arena, 8192 - 8);
  EXPECT_EQ(arena->chunk->next_offset, 8192u);
  EXPECT_EQ(chunk_of(big), arena->chunk);
  arena_free(arena);
}

TEST(arena_recycle, an_emptied_current_chunk_is_taken_again_from_offset_0_zeroed) {
  arena_t *arena = arena_new(8192, 1);
  put_all(fill_chunk(arena));
  chunk_t *chunk = arena->chunk;
  uint8_t *again = static_cast<uint8_t *>(arena_get(arena, BLOCK));
  EXPECT_EQ(arena->chunk, chunk);
  EXPECT_EQ(again, arena_chunk_data(chunk) + 8);
  EXPECT_EQ(chunk->n_refs, 2u);
  EXPECT_TRUE(all_zero(arena_chunk_data(chunk) + 8, 8192 - 8));
  EXPECT_EQ(count_chunks(&arena->used_chunks), 1u);
  EXPECT_EQ(count_chunks(&arena->free_chunks), 0u);
  arena_free(arena);
}

TEST(arena_recycle, emptied_old_chunks_go_zeroed_to_free_chunks_last_first) {
  arena_t *arena = arena_new(8192, 1);
  std::vector<std::vector<void *>> by_chunk;
  std::vector<chunk_t *> chunks;
  for (int c = 0; c < 3; c++) {
    by_chunk.push_back(fill_chunk(arena));
    chunks.push_back(arena->chunk);
  }
  arena_get(arena, BLOCK);  // a fourth chunk becomes current
  for (int c : {1, 0}) {
    arena_put(by_chunk[c].back());
    by_chunk[c].pop_back();
    EXPECT_EQ(chunks[c]->n_refs, uint32_t(PER_CHUNK - 1));
    put_all(by_chunk[c]);
  }
  put_all(by_chunk[2]);
  EXPECT_EQ(chunks_of(&arena->free_chunks),
            (std::vector<chunk_t *>{chunks[2], chunks[0], chunks[1]}));
  for (chunk_t *c : chunks)
    EXPECT_TRUE(all_zero(arena_chunk_data(c), 8192));
  // Filling the current chunk takes the last recycled one, not a new allocation.
  for (int i = 1; i < PER_CHUNK; i++)
    arena_get(arena, BLOCK);
  void *d = arena_get(arena, BLOCK);
  EXPECT_EQ(arena->chunk, chunks[2]);
  EXPECT_EQ(d, arena_chunk_data(chunks[2]) + 8);
  EXPECT_EQ(count_chunks(&arena->used_chunks), 2u);
  EXPECT_EQ(count_chunks(&arena->free_chunks), 2u);
  arena_free(arena);
}

TEST(arena_recycle, without_zero_fill_recycled_bytes_keep_their_contents) {
  arena_t *arena = arena_new(8192, 0);
  std::vector<void *> blocks = fill_chunk(arena, 0x77);
  put_all(blocks);
  uint8_t *q = static_cast<uint8_t *>(arena_get(arena, BLOCK));
  ASSERT_EQ(q, blocks[0]);
  EXPECT_EQ(q[0], 0x77);
  EXPECT_EQ(q[BLOCK - 1], 0x77);
  arena_free(arena);
}

TEST(arena_reset, the_most_recently_current_chunk_is_reused_first_and_zeroed) {
  arena_t *arena = arena_new(8192, 1);
  std::vector<chunk_t *> chunks;
  for (int c = 0; c < 3; c++) {
    fill_chunk(arena, 0xee);
    chunks.push_back(arena->chunk);
  }
  // One chunk already free before the reset must come after the used ones.
  std::vector<void *> spare_blocks = fill_chunk(arena);
  chunk_t *spare = arena->chunk;
  fill_chunk(arena, 0xee);
  chunks.push_back(arena->chunk);
  put_all(spare_blocks);
  ASSERT_EQ(chunks_of(&arena->free_chunks), std::vector<chunk_t *>{spare});
  arena_reset(arena);
  EXPECT_EQ(arena->chunk, nullptr);
  EXPECT_EQ(count_chunks(&arena->used_chunks), 0u);
  EXPECT_EQ(chunks_of(&arena->free_chunks),
            (std::vector<chunk_t *>{chunks[3], chunks[2], chunks[1], chunks[0], spare}));
  for (int c = 0; c < 4; c++)
    EXPECT_TRUE(all_zero(arena_chunk_data(chunks[c]), 8192)) << "chunk " << c;
  uint8_t *p = static_cast<uint8_t *>(arena_get(arena, BLOCK));
  EXPECT_EQ(arena->chunk, chunks[3]);
  EXPECT_EQ(p, arena_chunk_data(chunks[3]) + 8);
  EXPECT_EQ(arena->chunk->n_refs, 2u);
  arena_free(arena);
}

TEST(arena_memory, chunks_are_bounded_by_the_most_live_at_once) {
  arena_t *arena = arena_new(8192, 1);
  // A sliding window of 100 live blocks spans at most 3 chunks of 53, plus
  // the chunk the next block comes from.
  std::deque<void *> live;
  size_t most = 0;
  for (int i = 0; i < 100000; i++) {
    void *p = arena_get(arena, BLOCK);
    ASSERT_NE(p, nullptr);
    live.push_back(p);
    if (live.size() > 100) {
      arena_put(live.front());
      live.pop_front();
    }
    most = std::max(most, count_chunks(&arena->used_chunks) + count_chunks(&arena->free_chunks));
  }
  EXPECT_LE(most, 4u);
  put_all(std::vector<void *>(live.begin(), live.end()));
  arena_free(arena);
}

TEST(arena_death, caller_mistakes_fail_their_assertions) {
  arena_t *arena = arena_new(8192, 1);
  EXPECT_DEATH(arena_get(arena, 8193), "size <= arena->chunk_size");
  // Passes the entry check but cannot hold the chunk word as well.
  EXPECT_DEATH(arena_get(arena, 8192), "arena->chunk->next_offset <= arena->chunk_size");
  EXPECT_DEATH(arena_get(nullptr, 8), "Assertion .arena. failed");
  EXPECT_DEATH(arena_put(nullptr), "Assertion .ptr. failed");
  EXPECT_DEATH(arena_reset(nullptr), "Assertion .arena. failed");
  arena_free(arena);
}
