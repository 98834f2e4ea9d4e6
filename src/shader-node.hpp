// shader-node: a scene node kind that runs a caller's GLSL program over the
// whole viewport (the game's plasma background is one).
//
// The node draws a quad whose positions are already in clip space (-1..1,
// no matrix) and whose texture coordinates equal the positions' x and y, so
// the fragment source sees (0, 0) in the middle and (1, 1) at the top right.
// The program must declare and use the attributes "vertex" (vec3) and
// "texcoord" (vec2). Before each draw, with the program current, the node
// calls its uniform callback with the node's effective opacity.
//
// Ownership: the node holds one reference to its program and releases it,
// with the shader_node_t, when the scene node is freed. The quad's two
// buffers are made by the first shader node and live for the whole run.
//
// Does NOT: set any uniform itself, apply a matrix, switch blending off.
#pragma once

#include "shader.hpp"

#include "tableau/tableau.hpp"

#include <cstddef>

// Sets the program's uniforms: cb_data, the render argument (the loop),
// n_uniforms, the uniform locations, cb_arg and the node's effective opacity.
typedef void (*shader_node_uniform_cb_t)(void *cb_data, void *arg, unsigned n_uniforms,
                                         const GLint *uniforms, void *cb_arg, float alpha);

struct shader_node_t {
  shader_t *shader;                     // one reference held by the node
  shader_node_uniform_cb_t uniform_cb;  // may be NULL
  void *cb_data;                        // first argument of uniform_cb
  void *cb_arg;                         // fifth argument of uniform_cb
};

static_assert(offsetof(shader_node_t, shader) == 0);
static_assert(offsetof(shader_node_t, uniform_cb) == 1 * sizeof(void *));
static_assert(offsetof(shader_node_t, cb_data) == 2 * sizeof(void *));
static_assert(offsetof(shader_node_t, cb_arg) == 3 * sizeof(void *));

// A shader node drawing with shader (the node takes its own reference); never NULL.
tableau_t *shader_node_new_shader(const tableau_conf_t *conf, shader_t *shader, void *cb_arg,
                                  shader_node_uniform_cb_t uniform_cb, void *cb_data);
// A shader node that is the only holder of a new program built from the sources; never NULL.
tableau_t *shader_node_new_src(const tableau_conf_t *conf, const char *vs_src, const char *fs_src,
                               void *cb_arg, shader_node_uniform_cb_t uniform_cb, void *cb_data,
                               unsigned n_uniforms, const char **uniforms);
// The render slot: program current, uniform callback, then the full-viewport quad.
void shader_node_render(tableau_t *tableau, shader_node_t *shader_node, void *arg, float alpha);
// The free slot: drop the program reference and release the object.
void shader_node_free(tableau_t *tableau, shader_node_t *shader_node);
