// shader: linked GLSL programs with their uniform and attribute locations.
//
// shader_pair_new() compiles a vertex and a fragment source ("#version 120"),
// links them, and looks up once the locations of the uniform and attribute
// names its caller gives, so that drawing code sets them by index. A name the
// linked program does not use gets location -1.
//
// Ownership: a shader_t is reference counted; the record and both location
// arrays are one allocation, released with the GL program by the
// shader_free() that drops the last holder. The names are not kept.
//
// Every call needs the GL context current with its entry points loaded.
//
// Does NOT: keep the sources, set uniforms, bind buffers or draw; recover
// from a compile or link error (the process ends with the compiler's log).
#pragma once

#include <glad/gl.h>

#include <cstddef>
#include <cstdint>

struct shader_t {
  GLuint program;         // the linked GL program
  uint32_t refcnt;        // holders; 1 after creation
  uint32_t n_uniforms;    // uniform names given at creation
  uint32_t n_attributes;  // attribute names given at creation
  GLint *uniforms;        // n_uniforms locations, in the order of the names
  GLint *attributes;      // n_attributes locations, right after the uniforms
};

static_assert(offsetof(shader_t, program) == 0);
static_assert(offsetof(shader_t, refcnt) == 4);
static_assert(offsetof(shader_t, n_uniforms) == 8);
static_assert(offsetof(shader_t, n_attributes) == 12);
static_assert(offsetof(shader_t, uniforms) == 16);
static_assert(offsetof(shader_t, attributes) == 24);
static_assert(sizeof(GLint) == 4);

// Build a program from two sources and look up the named locations; refcnt 1.
shader_t *shader_pair_new(const char *vs_src, const char *fs_src, unsigned n_uniforms,
                          const char **uniforms, unsigned n_attributes, const char **attributes);
// Add a holder.
void shader_ref(shader_t *shader);
// Drop a holder; the shader while holders remain, NULL once it was destroyed.
shader_t *shader_free(shader_t *shader);
// Make the program current and hand out whichever location arrays are asked for.
void shader_use(shader_t *shader, unsigned *n_uniforms, GLint **uniforms, unsigned *n_attributes,
                GLint **attributes);
