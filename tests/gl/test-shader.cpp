// Shader programs against Mesa's real GLSL compiler and linker.
#include "gl-fixture.hpp"
#include "shader.hpp"

#include <gtest/gtest.h>

namespace {

const char *const VS =
    "#version 120\n"
    "uniform mat4 model_x;attribute vec3 vertex;attribute vec2 texcoord;"
    "void main(){gl_TexCoord[0].xy = texcoord;gl_Position = model_x * vec4(vertex, 1.f);}";
const char *const FS =
    "#version 120\n"
    "uniform float alpha;uniform vec4 tint;"
    "void main(){gl_FragColor = tint * gl_TexCoord[0].x;gl_FragColor.a *= alpha;}";

class shader_test : public ::testing::Test {
protected:
  void SetUp() override { gl_test_loop(); }
};
using shader_death_test = shader_test;

TEST_F(shader_test, locations_follow_the_names_and_the_program_lives_until_the_last_free)
{
  const char *uniforms[] = {"tint", "unused", "alpha", "model_x"};
  const char *attributes[] = {"texcoord", "nothing", "vertex"};
  shader_t *s = shader_pair_new(VS, FS, 4, uniforms, 3, attributes);
  ASSERT_EQ(s->n_uniforms, 4u);
  ASSERT_EQ(s->n_attributes, 3u);
  for (int i : {0, 2, 3}) {
    EXPECT_GE(s->uniforms[i], 0) << uniforms[i];
    EXPECT_EQ(s->uniforms[i], glGetUniformLocation(s->program, uniforms[i])) << uniforms[i];
  }
  EXPECT_EQ(s->uniforms[1], -1);
  for (int i : {0, 2}) {
    EXPECT_GE(s->attributes[i], 0) << attributes[i];
    EXPECT_EQ(s->attributes[i], glGetAttribLocation(s->program, attributes[i])) << attributes[i];
  }
  EXPECT_EQ(s->attributes[1], -1);

  // shader_use makes it current and reports only what is asked for.
  unsigned n_uniforms = 99, n_attributes = 99;
  GLint *u = NULL, *a = NULL;
  glUseProgram(0);
  shader_use(s, &n_uniforms, NULL, NULL, &a);
  GLint current = 0;
  glGetIntegerv(GL_CURRENT_PROGRAM, &current);
  EXPECT_EQ(GLuint(current), s->program);
  EXPECT_EQ(n_uniforms, 4u);
  EXPECT_EQ(n_attributes, 99u);
  EXPECT_EQ(u, nullptr);
  EXPECT_EQ(a, s->attributes);
  shader_use(s, NULL, &u, &n_attributes, NULL);
  EXPECT_EQ(u, s->uniforms);
  EXPECT_EQ(n_attributes, 3u);
  glUseProgram(0);

  GLuint program = s->program;
  EXPECT_EQ(s->refcnt, 1u);
  shader_ref(s);
  EXPECT_EQ(shader_free(s), s);
  EXPECT_TRUE(glIsProgram(program));
  EXPECT_EQ(shader_free(s), nullptr);
  EXPECT_FALSE(glIsProgram(program));

  s = shader_pair_new(VS, FS, 0, NULL, 0, NULL);  // no names needs no lists
  EXPECT_EQ(s->n_uniforms + s->n_attributes, 0u);
  shader_free(s);
}

TEST_F(shader_death_test, build_failures_end_with_the_compiler_log_and_bad_arguments_assert)
{
  // The fragment source is broken too: only the vertex shader's message may
  // appear, since nothing is compiled after the first failure.
  EXPECT_EXIT(shader_pair_new("#version 120\nvoid main(){ gl_Position = nonsense; }",
                              "#version 120\nbroken", 0, NULL, 0, NULL),
              ::testing::ExitedWithCode(1),
              "Fatal error: Error compiling vertex shader: \"[^\"]*nonsense[^\"]*\"\n");
  EXPECT_EXIT(shader_pair_new(VS, "#version 120\nvoid main(){ gl_FragColor = bogus_name; }", 0,
                              NULL, 0, NULL),
              ::testing::ExitedWithCode(1),
              "Fatal error: Error compiling fragment shader: \"[^\"]*bogus_name[^\"]*\"\n");
  // Both compile; only the linker notices the vertex shader has no main().
  EXPECT_EXIT(shader_pair_new("#version 120\nvoid helper(){}", FS, 0, NULL, 0, NULL),
              ::testing::ExitedWithCode(1),
              "Fatal error: Error linking shader program: \"[^\"]*main[^\"]*\"\n");
  EXPECT_DEATH(shader_pair_new(VS, FS, 2, NULL, 0, NULL), "uniforms \\|\\| !n_uniforms");
  EXPECT_DEATH(shader_pair_new(VS, FS, 0, NULL, 1, NULL), "attributes \\|\\| !n_attributes");
  EXPECT_DEATH(shader_pair_new(NULL, FS, 0, NULL, 0, NULL), "vs_src");
  EXPECT_DEATH(shader_pair_new(VS, NULL, 0, NULL, 0, NULL), "fs_src");
  EXPECT_DEATH(shader_use(NULL, NULL, NULL, NULL, NULL), "shader");
}

} // namespace
