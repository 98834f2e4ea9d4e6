// Chunk arena: the random model test, the chunk-size table and the assertions.
#include <gtest/gtest.h>

#include "arena-model.hpp"

TEST(arena_model, follows_the_model_and_returns_all_memory) { EXPECT_EQ(model_random_runs(arena_model_run, 400, 2000), 0); }

TEST(arena_new, rounds_the_chunk_size_up_to_8192_in_32_bit_arithmetic) {
  for (const auto &[request, size] : ARENA_SIZES) {
    arena_t *a = arena_new(request, ARENA_ZERO_FILL);
    EXPECT_EQ(a->chunk_size, size) << "requested " << request;
    arena_free(a);
  }
}

TEST(arena_death, misuse_stops_at_the_assertion_that_names_it) {
  const struct { void (*call)(); const char *text; } rows[] = {
      {[] { arena_get(arena_new(8192, 0), 8193); }, "size <= arena->chunk_size"},
      // Passes the entry check, but the chunk word does not fit as well.
      {[] { arena_get(arena_new(8192, 0), 8192); }, "arena->chunk->next_offset <= arena->chunk_size"},
      // A block put back after a reset: its cleared chunk word names no chunk.
      {[] { arena_t *a = arena_new(8192, ARENA_ZERO_FILL); void *p = arena_get(a, 8); arena_reset(a), arena_put(p); },
       "Assertion .chunk. failed"},
  };
  for (const auto &row : rows) EXPECT_DEATH(row.call(), row.text);
}
