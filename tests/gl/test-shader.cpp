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

TEST_F(shader_test, locations_follow_the_names_given_and_unused_names_get_minus_one)
{
  const char *uniforms[] = {"tint", "unused", "alpha", "model_x"};
  const char *attributes[] = {"texcoord", "nothing", "vertex"};
  shader_t *s = shader_pair_new(VS, FS, 4, uniforms, 3, attributes);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->refcnt, 1u);
  EXPECT_TRUE(glIsProgram(s->program));
  ASSERT_EQ(s->n_uniforms, 4u);
  ASSERT_EQ(s->n_attributes, 3u);
  // One allocation: uniform locations right after the record, attributes after them.
  EXPECT_EQ(reinterpret_cast<char *>(s->uniforms), reinterpret_cast<char *>(s + 1));
  EXPECT_EQ(s->attributes, s->uniforms + 4);

  for (int i : {0, 2, 3}) {
    EXPECT_GE(s->uniforms[i], 0) << uniforms[i];
    EXPECT_EQ(s->uniforms[i], glGetUniformLocation(s->program, uniforms[i])) << uniforms[i];
  }
  EXPECT_EQ(s->uniforms[1], -1);
  EXPECT_NE(s->uniforms[0], s->uniforms[2]);
  for (int i : {0, 2}) {
    EXPECT_GE(s->attributes[i], 0) << attributes[i];
    EXPECT_EQ(s->attributes[i], glGetAttribLocation(s->program, attributes[i])) << attributes[i];
  }
  EXPECT_EQ(s->attributes[1], -1);
  EXPECT_NE(s->attributes[0], s->attributes[2]);
  EXPECT_EQ(shader_free(s), nullptr);
}

TEST_F(shader_test, no_names_needs_no_lists)
{
  shader_t *s = shader_pair_new(VS, FS, 0, NULL, 0, NULL);
  EXPECT_EQ(s->n_uniforms, 0u);
  EXPECT_EQ(s->n_attributes, 0u);
  EXPECT_TRUE(glIsProgram(s->program));
  shader_free(s);
}

TEST_F(shader_test, program_lives_until_the_last_holder_lets_go)
{
  shader_t *s = shader_pair_new(VS, FS, 0, NULL, 0, NULL);
  GLuint program = s->program;
  shader_ref(s);
  EXPECT_EQ(s->refcnt, 2u);
  EXPECT_EQ(shader_free(s), s);
  EXPECT_TRUE(glIsProgram(program));
  EXPECT_EQ(shader_free(s), nullptr);
  EXPECT_FALSE(glIsProgram(program));
}

TEST_F(shader_test, use_makes_the_program_current_and_fills_only_what_is_asked)
{
  const char *uniforms[] = {"alpha"};
  const char *attributes[] = {"vertex", "texcoord"};
  shader_t *s = shader_pair_new(VS, FS, 1, uniforms, 2, attributes);

  glUseProgram(0);
  shader_use(s, NULL, NULL, NULL, NULL);
  GLint current = 0;
  glGetIntegerv(GL_CURRENT_PROGRAM, &current);
  EXPECT_EQ(GLuint(current), s->program);

  unsigned n_uniforms = 99, n_attributes = 99;
  GLint *u = NULL, *a = NULL;
  glUseProgram(0);
  shader_use(s, &n_uniforms, NULL, NULL, &a);
  EXPECT_EQ(n_uniforms, 1u);
  EXPECT_EQ(n_attributes, 99u);
  EXPECT_EQ(u, nullptr);
  EXPECT_EQ(a, s->attributes);
  shader_use(s, NULL, &u, &n_attributes, NULL);
  EXPECT_EQ(u, s->uniforms);
  EXPECT_EQ(n_attributes, 2u);
  glUseProgram(0);
  shader_free(s);
}

using shader_death_test = shader_test;

TEST_F(shader_death_test, a_vertex_source_that_does_not_compile_ends_the_process_with_the_log)
{
  // The fragment source is broken too: only the vertex shader's message may appear,
  // since nothing is compiled after the first failure.
  EXPECT_EXIT(shader_pair_new("#version 120\nvoid main(){ gl_Position = nonsense; }",
                              "#version 120\nbroken", 0, NULL, 0, NULL),
              ::testing::ExitedWithCode(1),
              "Fatal error: Error compiling vertex shader: \"[^\"]*nonsense[^\"]*\"\n");
}

TEST_F(shader_death_test, a_fragment_source_that_does_not_compile_ends_the_process_with_the_log)
{
  EXPECT_EXIT(shader_pair_new(VS, "#version 120\nvoid main(){ gl_FragColor = bogus_name; }", 0,
                              NULL, 0, NULL),
              ::testing::ExitedWithCode(1),
              "Fatal error: Error compiling fragment shader: \"[^\"]*bogus_name[^\"]*\"\n");
}

TEST_F(shader_death_test, a_program_that_does_not_link_ends_the_process_with_the_log)
{
  // Both compile; the vertex shader has no main(), which only the linker notices.
  EXPECT_EXIT(shader_pair_new("#version 120\nvoid helper(){}", FS, 0, NULL, 0, NULL),
              ::testing::ExitedWithCode(1),
              "Fatal error: Error linking shader program: \"[^\"]*main[^\"]*\"\n");
}

TEST_F(shader_death_test, names_counted_but_not_given_are_a_programming_error)
{
  EXPECT_DEATH(shader_pair_new(VS, FS, 2, NULL, 0, NULL), "uniforms \\|\\| !n_uniforms");
  EXPECT_DEATH(shader_pair_new(VS, FS, 0, NULL, 1, NULL), "attributes \\|\\| !n_attributes");
  EXPECT_DEATH(shader_pair_new(NULL, FS, 0, NULL, 0, NULL), "vs_src");
  EXPECT_DEATH(shader_pair_new(VS, NULL, 0, NULL, 0, NULL), "fs_src");
  EXPECT_DEATH(shader_use(NULL, NULL, NULL, NULL, NULL), "shader");
}

} // namespace
