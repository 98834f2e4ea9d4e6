// tex: reference-counted GL textures made from RGBA pixels, drawn as a quad.
//
// tex_new() uploads width x height pixels (4 bytes each, R, G, B, A, straight
// alpha, top row first, left pixel first) into a GL texture; tex_render()
// draws it as one quad through a textured-quad program shared by every
// texture. The quad covers -1..1 on both axes; the caller's model_x (16
// floats, a column-major 4x4 matrix, not transposed) takes it straight to clip
// space, and alpha multiplies every texel's alpha before blending.
//
// Ownership: a tex_t is reference counted: nodes that draw a texture hold a
// reference each, caches one more. The shared program and quad buffers are
// made by the first tex_new() and live for the whole run. model_x stays the
// caller's; it is read only while drawing. buf is read only by tex_new().
//
// Every call needs the GL context current with its entry points loaded.
// Between tex_render and tex_render_end the quad program stays current: GL
// drawing of one's own in between must call tex_render_end first.
//
// Does NOT: read image headers (callers pass the size), make mipmaps, set
// wrap modes, check GL errors of the upload, or switch blending off again.
#pragma once

#include <glad/gl.h>

#include <cstddef>
#include <cstdint>

struct tex_t {
  GLuint id;        // the GL texture object
  uint32_t refcnt;  // holders; 1 after creation
};

static_assert(offsetof(tex_t, id) == 0);
static_assert(offsetof(tex_t, refcnt) == 4);
static_assert(sizeof(tex_t) == 8);

// Upload width x height RGBA pixels into a new texture; refcnt 1, never NULL.
tex_t *tex_new(unsigned width, unsigned height, const void *buf);
// Add a holder; returns tex.
tex_t *tex_ref(tex_t *tex);
// Drop a holder (NULL is ignored) and delete the texture with the last; always NULL.
tex_t *tex_free(tex_t *tex);
// Draw the texture's quad placed by model_x, its texel alpha multiplied by alpha.
// The first call of a run makes the quad program current, points the vertex
// attributes at the quad buffers and enables blending; the following calls
// only bind their texture, set the two uniforms and draw (4 GL calls a quad).
void tex_render(const tex_t *tex, const float *model_x, float alpha);
// Close a run of tex_render calls: bind texture 0 and make program 0 current.
// Call it before any other GL drawing and once the tree is drawn (the shell's
// render and the shader nodes do); without an open run it makes no GL call.
void tex_render_end(void);
