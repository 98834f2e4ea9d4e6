#include "clear-node.hpp"

#include "loop/fatal.hpp"

#include <glad/gl.h>

#include <cassert>

namespace {

constexpr tableau_ops_t CLEAR_NODE_OPS = {
    .prepare = nullptr,
    .render = clear_node_render,
    .free = nullptr,
};

}  // namespace

tableau_t *clear_node_new(const tableau_conf_t *conf)
{
  assert(conf);
  tableau_t *tableau = tableau_new(conf, &CLEAR_NODE_OPS, nullptr);
  if (!tableau)
    loop_fatal("Fatal error: Unable to create tableau \"%s\"\n", conf->name);
  return tableau;
}

void clear_node_render(tableau_t *, void *, void *, float)
{
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}
