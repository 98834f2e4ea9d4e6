// harness: start-up of the real application for the game suites.
#include "harness.hpp"

#include "app.hpp"
#include "tex-node.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

uint32_t harness_now = 1000;
uint8_t harness_keys[SDL_NUM_SCANCODES];

namespace {

uint32_t fake_clock(void)
{
  return harness_now;
}

const uint8_t *fake_keyboard(void)
{
  return harness_keys;
}

// The build's own rendering of an asset, linked into the working directory.
void provide(const std::string &dir, const char *name)
{
  std::string built = std::string(ORB_ASSETS_DIR) + "/" + name, here = dir + "/" + name;
  ASSERT_EQ(symlink(built.c_str(), here.c_str()), 0) << here;
}

}  // namespace

loop_t *harness_start(bool sfx)
{
  setenv("SDL_VIDEODRIVER", "offscreen", 1);
  setenv("SDL_AUDIODRIVER", "dummy", 1);

  char tmpl[] = "/tmp/orb-game-XXXXXX";
  char *dir = mkdtemp(tmpl);
  EXPECT_NE(dir, nullptr);
  std::string assets = std::string(dir) + "/assets";
  EXPECT_EQ(mkdir(assets.c_str(), 0700), 0);
  for (const char *name : {"quietmoth.ogg", "game.ogg"})
    provide(assets, name);
  if (sfx)
    for (const char *name :
         {"baby-infected.wav", "baby-held.wav", "baby-rescued.wav", "adult-infected.wav"})
      provide(assets, name);
  EXPECT_EQ(chdir(dir), 0);

  loop_clock = fake_clock;
  game_keyboard = fake_keyboard;
  memset(harness_keys, 0, sizeof harness_keys);

  static char arg0[] = "orb", arg1[] = "--window";
  static char *argv[] = {arg0, arg1, nullptr};
  return loop_startup(2, argv, app_contexts);
}

game_t *harness_game(loop_t **loop_out)
{
  loop_t *loop = harness_start();
  loop_context_enter(loop, 2);
  if (loop_out)
    *loop_out = loop;
  return static_cast<game_t *>(loop_context(loop, 2));
}

void harness_frame(loop_t *loop)
{
  // SDL_PollEvent queues a sentinel that ends one round of polling; the
  // round that met our quit event left its sentinel behind, and a quit
  // queued after it would not be seen until a second update had run.
  SDL_FlushEvent(SDL_POLLSENTINEL);
  SDL_Event quit = {};
  quit.type = SDL_QUIT;
  SDL_PushEvent(&quit);
  loop_run(loop);
}

void harness_step(loop_t *loop, game_t *game, uint32_t ms)
{
  harness_now += ms;
  game_update(loop, game);
}

void harness_key(SDL_Keycode sym, SDL_Scancode scancode)
{
  SDL_Event e = {};
  e.type = SDL_KEYDOWN;
  e.key.state = SDL_PRESSED;
  e.key.keysym.sym = sym;
  e.key.keysym.scancode = scancode;
  SDL_PushEvent(&e);
  e.type = SDL_KEYUP;
  e.key.state = SDL_RELEASED;
  SDL_PushEvent(&e);
}

std::vector<tableau_t *> harness_children(tableau_t *node, int layer)
{
  std::vector<tableau_t *> out;
  tableau_link_t *head = &node->layers[layer];
  for (tableau_link_t *l = head->next; l != head; l = l->next)
    out.push_back(reinterpret_cast<tableau_t *>(reinterpret_cast<char *>(l) -
                                                offsetof(tableau_t, link)));
  return out;
}

entity_t *harness_entity(tableau_t *sprite)
{
  auto *tex_node = static_cast<tex_node_t *>(sprite->object);
  return reinterpret_cast<entity_t *>(const_cast<char *>(
      reinterpret_cast<const char *>(tex_node->model_x) - offsetof(entity_t, model_x)));
}

std::vector<entity_t *> harness_entities(game_t *game)
{
  std::vector<entity_t *> out;
  aabb_t all = {{-1.0f, -1.0f}, {1.0f, 1.0f}};
  qtree_search_by_aabb(
      game->qtree, nullptr, nullptr, &all,
      [](void *ctx, qtree_object_t *, const v2f_t *, const aabb_t *, void *data) -> uint32_t {
        static_cast<std::vector<entity_t *> *>(ctx)->push_back(static_cast<entity_t *>(data));
        return QTREE_CONTINUE;
      },
      &out);
  return out;
}

void harness_place(game_t *game, entity_t *entity, float x, float y)
{
  entity->x = x;
  entity->y = y;
  entity_update(game->qtree, entity);
}

void harness_clear_field(game_t *game)
{
  // Far outside the square from -1 to 1 nothing is found by any search.
  float x = -5.0f;
  for (tableau_t *node : harness_children(game->babies, 0)) {
    harness_place(game, harness_entity(node), x, 5.0f);
    x += 0.5f;
  }
  for (entity_t *virus : game->virus)
    harness_place(game, virus, 5.0f, -5.0f);
}
