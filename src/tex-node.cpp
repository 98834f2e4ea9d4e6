#include "tex-node.hpp"

#include "loop/fatal.hpp"
#include "slot.hpp"

#include <cassert>
#include <cstdlib>

namespace {

constexpr tableau_ops_t TEX_NODE_OPS = {
    .prepare = nullptr,
    .render = slot<tex_node_render>::call,
    .free = slot<tex_node_free>::call,
};

}  // namespace

tableau_t *tex_node_new_tex(const tableau_conf_t *conf, tex_t *tex, const float *model_x)
{
  assert(conf);
  tex_node_t *tex_node = static_cast<tex_node_t *>(calloc(1, sizeof(tex_node_t)));
  if (!tex_node)
    loop_fatal("Fatal error: Unable to allocate tex_node \"%s\"\n", conf->name);
  tableau_t *tableau = tableau_new(conf, &TEX_NODE_OPS, tex_node);
  if (!tableau)
    loop_fatal("Fatal error: Unable to create tableau \"%s\"\n", conf->name);
  tex_node->tex = tex_ref(tex);
  tex_node->model_x = model_x;
  return tableau;
}

tableau_t *tex_node_new_buf(const tableau_conf_t *conf, unsigned width, unsigned height,
                            const void *buf, const float *model_x)
{
  tex_t *tex = tex_new(width, height, buf);
  tableau_t *tableau = tex_node_new_tex(conf, tex, model_x);
  // The node is now the texture's only holder: freeing it deletes the texture.
  tex_free(tex);
  return tableau;
}

void tex_node_render(tableau_t *tableau, tex_node_t *tex_node, void *, float alpha)
{
  assert(tableau);
  assert(tex_node);
  tex_render(tex_node->tex, tex_node->model_x, alpha);
}

void tex_node_free(tableau_t *tableau, tex_node_t *tex_node)
{
  assert(tableau);
  assert(tex_node);
  tex_free(tex_node->tex);
  free(tex_node);
}
