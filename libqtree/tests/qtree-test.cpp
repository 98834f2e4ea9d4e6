// Quadtree: the random model test and the assertions.
#include <gtest/gtest.h>

#include "qtree-model.hpp"

TEST(qtree_model, follows_the_model_and_returns_all_memory) { EXPECT_EQ(model_random_runs(qtree_model_run, 288, 1500), 0); }

TEST(qtree_death, misuse_stops_at_the_assertion_that_names_it) {
  static const aabb_t flip_x = {{1, 0}, {0, 1}}, nan_y = {{0, NAN}, {1, 1}}, all = {{-1, -1}, {1, 1}};
  static const qtree_search_cb_t four = [](void *, qtree_object_t *, const v2f_t *, const aabb_t *, void *) { return 4u; };
  static const qtree_search_cb_t nest = [](void *q, qtree_object_t *, const v2f_t *, const aabb_t *, void *) {
    return qtree_search_by_aabb(static_cast<qtree_t *>(q), nullptr, nullptr, &all, nest, q);
  };
  const struct { void (*call)(qtree_t *, qtree_object_t *); const char *text; } rows[] = {
      {[](qtree_t *q, qtree_object_t *) { qtree_object_new(q, nullptr, nullptr, &flip_x, nullptr); }, "Assertion .object_aabb->min.x"},
      {[](qtree_t *q, qtree_object_t *o) { qtree_object_move(q, o, nullptr, nullptr, &nan_y); }, "object_aabb \\|\\| object_aabb->min.y"},
      {[](qtree_t *q, qtree_object_t *) { qtree_search_by_aabb(q, nullptr, nullptr, &all, four, nullptr); }, "Assertion .0. failed"},
      {[](qtree_t *q, qtree_object_t *) { qtree_search_by_aabb(q, nullptr, nullptr, &all, nest, q); }, "qtree->asip < qtree->max_asip"},
  };
  qtree_t *q = qtree_new(nullptr, 4, 4, 2);
  qtree_object_t *o = qtree_object_new(q, nullptr, nullptr, &all, nullptr);
  for (const auto &row : rows) EXPECT_DEATH(row.call(q, o), row.text);
  qtree_free(q);
}
