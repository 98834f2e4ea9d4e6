// The game against the allocator: frames of play through the real main loop and the real render
// allocate only what they make, and every failed allocation of the game's start-up and playfield
// is fatal with its message.
//
// The link routes malloc and calloc of the statically linked code (the game, the shell, the
// drawing modules, the four libraries; none of them calls realloc or an aligned allocator) through
// the wrappers below; the shared libraries (SDL, the GL driver) call the allocator directly and
// are not counted, which is what this suite wants.
#include "harness.hpp"

#include <sys/wait.h>

bool counting, in_child;
long allocations, failing = -1;  // the allocation to fail, counted from 0

extern "C" {
void *__real_malloc(size_t size);
void *__real_calloc(size_t n, size_t size);
[[noreturn]] void __real_exit(int status);
void *__wrap_malloc(size_t size) { return counting && allocations++ == failing ? nullptr : __real_malloc(size); }
void *__wrap_calloc(size_t n, size_t m) { return counting && allocations++ == failing ? nullptr : __real_calloc(n, m); }
// A forked child has no audio thread for SDL_Quit, an exit handler, to join: it leaves at once.
[[noreturn]] void __wrap_exit(int status) { in_child ? _exit(status) : __real_exit(status); }
}

// One frame of 20 ms through the real loop holding a key: what it allocated beyond the chunks that
// the arenas took.
long frame(loop_t *loop, game_t *game, SDL_Scancode key = SDL_SCANCODE_UNKNOWN) {
  auto chunks = [game](long n = 0) {
    for (const arena_t *a : {game->arena, game->qtree->node_arena, game->qtree->ref_arena, game->qtree->object_arena})
      for (const arena_link_t *head : {&a->free_chunks, &a->used_chunks})
        for (const arena_link_t *l = head->next; l != head; l = l->next)
          n++;
    return n;
  };
  const long before = chunks();
  harness_keys[key] = 1, harness_now += GAME_STEP_MS, allocations = 0, counting = true, harness_frame(loop);
  harness_keys[key] = 0, counting = false;
  return allocations - (chunks() - before);
}

TEST(game_alloc, frames_allocate_only_what_they_make_and_every_failed_allocation_of_the_builders_is_fatal) {
  loop_t *loop;
  game_t *game = harness_game(&loop);
  harness_frame(loop);  // the first frame of a playfield draws everything once
  // The adult walks right and back through a baby, which it picks up and carries, then down and back
  // (the arrows' scancodes are in a row); four viruses rise unseen past the top and come back seen
  // in columns out of its way.
  harness_place(game, harness_record(game, 10), 0.2f, 0.0f);
  for (int i = 0; i < 4; i++)
    harness_place(game, game->virus[i], -0.8f + 0.1f * i, 0.9f);
  for (int f = 0; f < 200; f++)
    ASSERT_EQ(frame(loop, game, SDL_Scancode(SDL_SCANCODE_RIGHT + f / 10 % 4)), 0) << "frame " << f << " made nothing";
  EXPECT_TRUE(game->adult->held && tableau_get_active(game->virus[0]->node));
  // An infected baby and the baby that replaces it (both it and the virus sent away land near
  // (0, -1)): a node each with its texture node, and records from the arenas.
  harness_place(game, harness_record(game, 11), 0.5f, -0.5f), harness_place(game, game->virus[5], 0.5f, -0.6f);
  tableau_set_active(game->virus[5]->node, 1);
  harness_rand = {0, 1 << 30, 1 << 24, 1 << 24, 1 << 30};
  EXPECT_EQ(frame(loop, game), 4);
  EXPECT_EQ(harness_record(game, 11)->kind, (uint32_t)ENTITY_VIRUS);

  // Each allocation of the game's start-up and first playfield, failed in a child of its own, ends
  // it with status 1 and a fatal message; the game's own are all met, in order.
  std::string seen;
  for (long n = 0, status = 1; status; n++) {
    FILE *err = tmpfile();
    if (fork() == 0) {
      dup2(fileno(err), 2), alarm(10), in_child = !chdir("assets");  // no effects to load: no mixer
      failing = n, allocations = 0, counting = true, game_reset(game_init(loop, 0, nullptr)), _exit(0);
    }
    char message[256] = "";
    int wait_status = 0;
    (void)!wait(&wait_status), (void)!fgets(message, sizeof message, (rewind(err), err)), fclose(err);
    status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
    ASSERT_TRUE(!status || (status == 1 && !strncmp(message, "Fatal error: ", 13))) << n << ": " << message;
    seen += seen.find(message) == std::string::npos ? message : "";
  }
  size_t at = 0;
  for (const char *message : {"Unable to allocate game_t", "Unable to allocate qtree_t",
    "Unable to create tableau \"game\"", "Unable to create tableau \"babies\"", "Unable to create tableau \"viruses\"",
    "Unable to create tableau \"score\"", "Unable to allocate arena_t", "unale to allocate tv_t",
    "Unable to update qtree object"})
    EXPECT_NE(at = seen.find("Fatal error: " + std::string(message) + "\n", at), std::string::npos) << message << seen;
}
