// Quadtree: the random model test, allocation failures and the assertions.
#include <gtest/gtest.h>

#include <set>

#include "qtree-model.hpp"

TEST(qtree_model, structure_and_searches_follow_the_model_and_all_memory_returns) {
  EXPECT_EQ(model_random_runs(qtree_model_run, 240, 1500), 0);
}

// The objects named by the refs of any node, inner ones too.
void referenced(node_t *n, std::set<qtree_object_t *> &seen) {
  for (int i = 0; n->children && i < 4; i++)
    referenced(&n->children[i], seen);
  for (qtree_link_t *l = n->refs.next; l != &n->refs; l = l->next)
    seen.insert(qtree_list_entry(l, ref_t, node_link)->object);
}

// Stacks of boxes across the centre lines until the k-th calloc fails: one in
// qtree_new, an object's, a ref's, a split's children, a ref in mid-split.
TEST(qtree_alloc, a_failed_allocation_returns_null_frees_that_object_and_leaks_nothing) {
  for (long k = 1, failed = ALLOC_GUARDED, before = alloc_live; failed; k++, before = alloc_live) {
    {
      std::set<qtree_object_t *> made, seen;
      calloc_fail = k;
      qtree_t *q = qtree_new(nullptr, 4, 4, 1);
      for (qtree_object_t *o = nullptr; q && made.size() < 400 && (o || made.empty()); made.insert(o)) {
        const float x = float(made.size() * 37 % 40) / 20 - 1, y = float(made.size() * 53 % 40) / 20 - 1;
        const aabb_t b = {{x, y}, {x + 0.25f, y + 0.25f}};
        if (!(o = qtree_object_new(q, nullptr, nullptr, &b, nullptr)))
          break;
      }
      failed = calloc_fail == 0, calloc_fail = 0;
      if (q) {  // the others may have lost refs, but no ref names the failed object
        referenced(&q->root, seen);
        for (qtree_object_t *o : seen)
          EXPECT_TRUE(made.count(o));
        EXPECT_LE(seen.size(), arena_live(q->object_arena));
        EXPECT_LE(arena_live(q->object_arena), made.size());
        EXPECT_EQ(made.size() < 400, failed);
        qtree_free(q);
      }
    }
    EXPECT_EQ(alloc_live, before) << "calloc " << k << " failed";
  }
}

TEST(qtree_death, misuse_stops_at_the_assertion_that_names_it) {
  static const aabb_t flip_x = {{1, 0}, {0, 1}}, nan_y = {{0, NAN}, {1, 1}}, all = {{-1, -1}, {1, 1}};
  static const qtree_search_cb_t four = [](void *, qtree_object_t *, const v2f_t *, const aabb_t *, void *) { return 4u; };
  static const qtree_search_cb_t nest = [](void *q, qtree_object_t *, const v2f_t *, const aabb_t *, void *) {
    return qtree_search_by_aabb(static_cast<qtree_t *>(q), nullptr, nullptr, &all, nest, q);
  };
  const struct { void (*call)(qtree_t *, qtree_object_t *); const char *text; } rows[] = {
      {[](qtree_t *q, qtree_object_t *) { qtree_object_new(q, nullptr, nullptr, &flip_x, nullptr); }, "Assertion .object_aabb->min.x"},
      {[](qtree_t *q, qtree_object_t *) { qtree_object_new(q, nullptr, nullptr, &nan_y, nullptr); }, "Assertion .object_aabb->min.y"},
      {[](qtree_t *q, qtree_object_t *o) { qtree_object_move(q, o, nullptr, nullptr, &flip_x); }, "object_aabb \\|\\| object_aabb->min.x"},
      {[](qtree_t *q, qtree_object_t *o) { qtree_object_move(q, o, nullptr, nullptr, &nan_y); }, "object_aabb \\|\\| object_aabb->min.y"},
      {[](qtree_t *q, qtree_object_t *) { qtree_search_by_aabb(q, nullptr, nullptr, &all, four, nullptr); }, "Assertion .0. failed"},
      {[](qtree_t *q, qtree_object_t *) { qtree_search_by_point(q, &all.min, four, nullptr); }, "Assertion .0. failed"},
      {[](qtree_t *q, qtree_object_t *) { qtree_search_by_aabb(q, nullptr, nullptr, &all, nest, q); }, "qtree->asip < qtree->max_asip"},
      {[](qtree_t *, qtree_object_t *) {  // an index made with max_asip 0 cannot be box-searched at all
         qtree_search_by_aabb(qtree_new(nullptr, 4, 4, 0), nullptr, nullptr, &all, nullptr, nullptr);
       }, "qtree->asip < qtree->max_asip"},
  };
  qtree_t *q = qtree_new(nullptr, 4, 4, 2);
  qtree_object_t *o = qtree_object_new(q, nullptr, nullptr, &all, nullptr);
  for (const auto &row : rows)
    EXPECT_DEATH(row.call(q, o), row.text);
  qtree_free(q);
}
