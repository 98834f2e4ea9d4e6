// Quadtree structure and objects: placement, splitting, moving, resetting.
#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "qtree-check.hpp"
#include "qtree/qtree.hpp"

namespace {

aabb_t box(float x0, float y0, float x1, float y1) { return {{x0, y0}, {x1, y1}}; }

std::vector<const node_t *> leaves_of(qtree_object_t *o) {
  std::vector<const node_t *> nodes;
  for (qtree_link_t *l = o->refs.next; l != &o->refs; l = l->next)
    nodes.push_back(qtree_list_entry(l, ref_t, object_link)->node);
  return nodes;
}

uint32_t points_at(qtree_t *q, float x, float y) {
  const v2f_t p = {x, y};
  return qtree_search_by_point(q, &p, nullptr, nullptr);
}

ref_t *first_ref(qtree_object_t *o) { return qtree_list_entry(o->refs.next, ref_t, object_link); }

}  // namespace

TEST(qtree_new, a_null_box_gives_the_unit_square_around_the_origin) {
  qtree_t *q = qtree_new(nullptr, 4, 4, 1);
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(q->aabb.min.x, -1.0f);
  EXPECT_EQ(q->aabb.max.y, 1.0f);
  EXPECT_EQ(q->root.center.x, 0.0f);
  EXPECT_EQ(q->root.center.y, 0.0f);
  EXPECT_EQ(q->root.children, nullptr);
  EXPECT_EQ(q->node_arena->chunk_size, 8192u);
  EXPECT_EQ(q->ref_arena->chunk_size, 8192u);
  EXPECT_EQ(q->object_arena->chunk_size, 8192u);
  EXPECT_EQ(q->node_arena->flags & 1, 1u);
  qtree_free(q);
  const aabb_t root = box(-3, 2, 5, 4);
  q = qtree_new(&root, 1, 2, 13);
  EXPECT_EQ(q->root.center.x, 1.0f);
  EXPECT_EQ(q->root.center.y, 3.0f);
  EXPECT_EQ(q->object_arena->chunk_size, 16384u);  // (13 + 4) * 512 rounded up
  qtree_free(q);
}

TEST(qtree_object, placement_shifts_by_offset_and_half_sizes_of_align) {
  qtree_t *q = qtree_new(nullptr, 4, 4, 1);
  const aabb_t b = box(0, 0, 0.5f, 0.25f);
  const v2f_t offset = {0.5f, -0.5f}, align = {-1, -1};
  // Placed box (0.25, -0.625)..(0.75, -0.375): only lower right reaches it.
  qtree_object_t *o = qtree_object_new(q, &offset, &align, &b, nullptr);
  EXPECT_EQ(points_at(q, 0.25f, -0.625f), 1u);
  EXPECT_EQ(points_at(q, 0.75f, -0.375f), 1u);
  EXPECT_EQ(points_at(q, 0.24f, -0.5f), 0u);
  EXPECT_EQ(points_at(q, 0.25f, -0.3f), 0u);
  // Moving only the align keeps offset and box.
  const v2f_t centred = {0, 0};
  qtree_object_move(q, o, nullptr, &centred, nullptr);
  EXPECT_EQ(o->offset.x, 0.5f);
  EXPECT_EQ(o->aabb.max.x, 0.5f);
  EXPECT_EQ(points_at(q, 1.0f, -0.25f), 1u);
  EXPECT_TRUE(test_check_tree(q, {o}));
  qtree_free(q);
}

TEST(qtree_split, four_objects_stay_in_the_root_and_the_fifth_splits_it) {
  qtree_t *q = qtree_new(nullptr, 4, 4, 1);
  std::vector<qtree_object_t *> objects;
  const aabb_t spots[5] = {box(-0.6f, 0.4f, -0.5f, 0.5f), box(0.4f, 0.4f, 0.5f, 0.5f),
                           box(-0.1f, 0.4f, 0.1f, 0.5f), box(-0.5f, -0.5f, -0.4f, -0.4f),
                           box(0.4f, -0.5f, 0.5f, -0.4f)};
  for (int i = 0; i < 4; i++)
    objects.push_back(qtree_object_new(q, nullptr, nullptr, &spots[i], nullptr));
  EXPECT_EQ(q->root.children, nullptr);
  EXPECT_EQ(q->root.n_objects, 4u);
  // The object straddling x = 0 keeps its ref in quadrant 0 and gets a new one in 1.
  ref_t *kept[4];
  for (int i = 0; i < 4; i++)
    kept[i] = first_ref(objects[i]);
  objects.push_back(qtree_object_new(q, nullptr, nullptr, &spots[4], nullptr));
  ASSERT_NE(q->root.children, nullptr);
  EXPECT_EQ(q->root.n_objects, 0u);
  EXPECT_EQ(test_list_length(&q->root.refs), 0u);
  node_t *c = q->root.children;
  EXPECT_EQ(c[0].n_objects, 2u);
  EXPECT_EQ(c[1].n_objects, 2u);
  EXPECT_EQ(c[2].n_objects, 1u);
  EXPECT_EQ(c[3].n_objects, 1u);
  EXPECT_EQ(c[1].center.x, 0.5f);
  EXPECT_EQ(c[1].center.y, 0.5f);
  EXPECT_EQ(c[2].center.x, -0.5f);
  EXPECT_EQ(c[2].center.y, -0.5f);
  for (int i = 0; i < 4; i++)
    EXPECT_EQ(first_ref(objects[i]), kept[i]) << "object " << i << " got a new ref";
  EXPECT_EQ(leaves_of(objects[2]), (std::vector<const node_t *>{&c[0], &c[1]}));
  // Refs keep their order through the split: quadrant 1 holds object 1, then 2.
  EXPECT_EQ(qtree_list_entry(c[1].refs.next, ref_t, node_link)->object, objects[1]);
  EXPECT_TRUE(test_check_tree(q, objects));
  qtree_free(q);
}

TEST(qtree_split, identical_boxes_end_together_in_one_leaf_at_max_depth) {
  qtree_t *q = qtree_new(nullptr, 4, 4, 1);
  const aabb_t spot = box(0.3f, 0.3f, 0.31f, 0.31f);
  std::vector<qtree_object_t *> objects;
  for (int i = 0; i < 5; i++)
    objects.push_back(qtree_object_new(q, nullptr, nullptr, &spot, nullptr));
  std::vector<test_leaf_t> leaves = test_leaves(q);
  EXPECT_EQ(leaves.size(), 13u);  // four levels of splits, three siblings each, plus the leaf
  int holding = 0;
  for (const test_leaf_t &leaf : leaves) {
    if (leaf.node->n_objects) {
      holding++;
      EXPECT_EQ(leaf.depth, 4u);
      EXPECT_EQ(leaf.node->n_objects, 5u);
    }
  }
  EXPECT_EQ(holding, 1);
  for (int i = 0; i < 20; i++)
    objects.push_back(qtree_object_new(q, nullptr, nullptr, &spot, nullptr));
  EXPECT_EQ(test_leaves(q).size(), 13u);
  EXPECT_EQ(leaves_of(objects[0])[0]->n_objects, 25u);
  EXPECT_TRUE(test_check_tree(q, objects));
  qtree_free(q);
}

TEST(qtree_split, a_zero_box_at_the_centre_is_in_all_four_children) {
  qtree_t *q = qtree_new(nullptr, 4, 4, 1);
  std::vector<qtree_object_t *> objects;
  const aabb_t far[5] = {box(-0.9f, 0.8f, -0.8f, 0.9f), box(0.8f, 0.8f, 0.9f, 0.9f),
                         box(-0.9f, -0.9f, -0.8f, -0.8f), box(0.8f, -0.9f, 0.9f, -0.8f),
                         box(0.5f, 0.5f, 0.6f, 0.6f)};
  for (const aabb_t &b : far)
    objects.push_back(qtree_object_new(q, nullptr, nullptr, &b, nullptr));
  ASSERT_NE(q->root.children, nullptr);
  const aabb_t dot = box(0, 0, 0, 0);
  qtree_object_t *o = qtree_object_new(q, nullptr, nullptr, &dot, nullptr);
  node_t *c = q->root.children;
  EXPECT_EQ(leaves_of(o), (std::vector<const node_t *>{&c[0], &c[1], &c[2], &c[3]}));
  objects.push_back(o);
  EXPECT_TRUE(test_check_tree(q, objects));
  qtree_free(q);
}

TEST(qtree_object, outside_the_root_it_exists_in_no_node_until_moved_in) {
  qtree_t *q = qtree_new(nullptr, 4, 4, 1);
  int tag = 7;
  const aabb_t out = box(1.5f, 1.5f, 2, 2);
  qtree_object_t *o = qtree_object_new(q, nullptr, nullptr, &out, &tag);
  ASSERT_NE(o, nullptr);
  EXPECT_EQ(o->data, &tag);
  EXPECT_EQ(test_list_length(&o->refs), 0u);
  const aabb_t all = box(-5, -5, 5, 5);
  EXPECT_EQ(qtree_search_by_aabb(q, nullptr, nullptr, &all, nullptr, nullptr), 0u);
  // An offset alone brings it in: the placed box now touches the corner (1, 1).
  const v2f_t back = {-0.5f, -0.5f};
  EXPECT_EQ(qtree_object_move(q, o, &back, nullptr, nullptr), o);
  EXPECT_EQ(test_list_length(&o->refs), 1u);
  EXPECT_EQ(qtree_search_by_aabb(q, nullptr, nullptr, &all, nullptr, nullptr), 1u);
  // Touching the root along an edge only is inside: edges are closed.
  const aabb_t edge = box(-2, -0.5f, -1, 0.5f);
  qtree_object_t *e = qtree_object_new(q, nullptr, nullptr, &edge, nullptr);
  EXPECT_EQ(test_list_length(&e->refs), 1u);
  // A NaN placement overlaps nothing.
  const v2f_t nan = {std::numeric_limits<float>::quiet_NaN(), 0};
  qtree_object_move(q, e, &nan, nullptr, nullptr);
  EXPECT_EQ(test_list_length(&e->refs), 0u);
  EXPECT_TRUE(test_check_tree(q, {o, e}));
  qtree_free(q);
}

TEST(qtree_object, moving_with_nothing_given_reinserts_with_new_refs) {
  qtree_t *q = qtree_new(nullptr, 4, 4, 1);
  std::vector<qtree_object_t *> objects;
  for (int i = 0; i < 8; i++) {
    const aabb_t b = box(-0.9f + 0.2f * i, -0.1f, -0.8f + 0.2f * i, 0.1f);
    objects.push_back(qtree_object_new(q, nullptr, nullptr, &b, nullptr));
  }
  qtree_object_t *o = objects[3];
  std::vector<const node_t *> before = leaves_of(o);
  std::set<ref_t *> old_refs;
  for (qtree_link_t *l = o->refs.next; l != &o->refs; l = l->next)
    old_refs.insert(qtree_list_entry(l, ref_t, object_link));
  ASSERT_EQ(qtree_object_move(q, o, nullptr, nullptr, nullptr), o);
  EXPECT_EQ(leaves_of(o), before);
  for (qtree_link_t *l = o->refs.next; l != &o->refs; l = l->next)
    EXPECT_EQ(old_refs.count(qtree_list_entry(l, ref_t, object_link)), 0u);
  // A re-inserted object goes to the tail of its leaves.
  for (const node_t *leaf : leaves_of(o))
    EXPECT_EQ(qtree_list_entry(leaf->refs.prev, ref_t, node_link)->object, o);
  EXPECT_TRUE(test_check_tree(q, objects));
  qtree_object_free(q, objects[0]);
  objects.erase(objects.begin());
  EXPECT_TRUE(test_check_tree(q, objects));
  qtree_free(q);
}

TEST(qtree_reset, the_root_is_one_empty_leaf_and_records_start_over_zeroed) {
  const aabb_t root = box(-2, -1, 6, 3);
  qtree_t *q = qtree_new(&root, 2, 5, 2);
  for (int i = 0; i < 200; i++) {
    const aabb_t b = box(-2 + 0.04f * i, -1 + 0.02f * i, -1.9f + 0.04f * i, -0.9f + 0.02f * i);
    qtree_object_new(q, nullptr, nullptr, &b, nullptr);
  }
  chunk_t *last_objects = q->object_arena->chunk;
  qtree_reset(q);
  EXPECT_EQ(q->root.children, nullptr);
  EXPECT_EQ(q->root.n_objects, 0u);
  EXPECT_EQ(q->root.center.x, 2.0f);
  EXPECT_EQ(q->root.center.y, 1.0f);
  EXPECT_EQ(q->aabb.max.x, 6.0f);
  EXPECT_EQ(q->max_objects, 2u);
  const aabb_t b = box(0, 0, 0.1f, 0.1f);
  qtree_object_t *o = qtree_object_new(q, nullptr, nullptr, &b, nullptr);
  EXPECT_EQ(q->object_arena->chunk, last_objects);
  EXPECT_EQ(reinterpret_cast<uint8_t *>(o), arena_chunk_data(last_objects) + 8);
  EXPECT_EQ(o->hit_links[1].next, &o->hit_links[1]);
  EXPECT_EQ(o->offset.x, 0.0f);
  EXPECT_EQ(o->align.y, 0.0f);
  EXPECT_EQ(qtree_search_by_aabb(q, nullptr, nullptr, &root, nullptr, nullptr), 1u);
  EXPECT_TRUE(test_check_tree(q, {o}));
  qtree_free(q);
}

TEST(qtree_death, invalid_boxes_fail_their_assertions) {
  qtree_t *q = qtree_new(nullptr, 4, 4, 1);
  const aabb_t flipped_x = box(1, 0, 0, 1), flipped_y = box(0, 1, 1, 0);
  const aabb_t nan_x = box(std::numeric_limits<float>::quiet_NaN(), 0, 1, 1);
  EXPECT_DEATH(qtree_object_new(q, nullptr, nullptr, &flipped_x, nullptr),
               "object_aabb->min.x <= object_aabb->max.x");
  EXPECT_DEATH(qtree_object_new(q, nullptr, nullptr, &flipped_y, nullptr),
               "object_aabb->min.y <= object_aabb->max.y");
  EXPECT_DEATH(qtree_object_new(q, nullptr, nullptr, &nan_x, nullptr),
               "object_aabb->min.x <= object_aabb->max.x");
  EXPECT_DEATH(qtree_object_new(q, nullptr, nullptr, nullptr, nullptr),
               "Assertion .object_aabb. failed");
  const aabb_t ok = box(0, 0, 1, 1);
  qtree_object_t *o = qtree_object_new(q, nullptr, nullptr, &ok, nullptr);
  EXPECT_DEATH(qtree_object_move(q, o, nullptr, nullptr, &flipped_x),
               "!object_aabb \\|\\| object_aabb->min.x <= object_aabb->max.x");
  EXPECT_DEATH(qtree_object_move(q, o, nullptr, nullptr, &flipped_y),
               "!object_aabb \\|\\| object_aabb->min.y <= object_aabb->max.y");
  EXPECT_DEATH(qtree_object_move(q, nullptr, nullptr, nullptr, &ok), "Assertion .object. failed");
  EXPECT_DEATH(qtree_object_free(nullptr, o), "Assertion .qtree. failed");
  qtree_free(q);
}
