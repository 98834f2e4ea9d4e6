// tex-node: a scene node kind that draws a texture through its caller's matrix.
//
// The node's object is a tex_node_t: a texture reference and a pointer to
// the caller's model matrix (16 floats, column-major). The matrix is not
// copied: the caller moves the picture by rewriting it in place and marking
// the tree dirty. The node's effective opacity from the scene walk becomes
// the textured-quad program's "alpha".
//
// Ownership: the node holds one reference to its texture and releases it,
// with the tex_node_t, when the scene node is freed. The matrix stays the
// caller's and must outlive the node.
//
// Does NOT: copy or check the matrix before the first draw, prepare anything
// per frame, mark the tree dirty.
#pragma once

#include "tex.hpp"

#include "tableau/tableau.hpp"

#include <cstddef>

struct tex_node_t {
  tex_t *tex;            // one reference held by the node
  const float *model_x;  // the caller's 4x4 matrix, read at every draw
};

static_assert(offsetof(tex_node_t, tex) == 0);
static_assert(offsetof(tex_node_t, model_x) == sizeof(void *));

// A texture node showing tex (the node takes its own reference); never NULL.
tableau_t *tex_node_new_tex(const tableau_conf_t *conf, tex_t *tex, const float *model_x);
// A texture node that is the only holder of a new texture made from buf; never NULL.
tableau_t *tex_node_new_buf(const tableau_conf_t *conf, unsigned width, unsigned height,
                            const void *buf, const float *model_x);
// The render slot: draw the texture with the node's effective opacity.
void tex_node_render(tableau_t *tableau, tex_node_t *tex_node, void *arg, float alpha);
// The free slot: drop the texture reference and release the object.
void tex_node_free(tableau_t *tableau, tex_node_t *tex_node);
