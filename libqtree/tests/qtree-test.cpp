// Quadtree structure and objects: placement, splitting, moving, resetting.
// The random model test covers the general case; these pin the exact layout.
#include <gtest/gtest.h>

#include <limits>
#include <set>
#include <vector>

#include "qtree-check.hpp"
#include "qtree/qtree.hpp"

namespace {

aabb_t box(float x0, float y0, float x1, float y1) { return {{x0, y0}, {x1, y1}}; }

qtree_object_t *add(qtree_t *q, const aabb_t &b) {
  return qtree_object_new(q, nullptr, nullptr, &b, nullptr);
}

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

TEST(qtree_object, placement_shifts_by_offset_and_half_sizes_of_align) {
  qtree_t *q = qtree_new(nullptr, 4, 4, 1);
  const aabb_t b = box(0, 0, 0.5f, 0.25f);
  const v2f_t offset = {0.5f, -0.5f}, align = {-1, -1};
  // Placed box (0.25, -0.625)..(0.75, -0.375).
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
  const aabb_t spots[5] = {box(-0.6f, 0.4f, -0.5f, 0.5f), box(0.4f, 0.4f, 0.5f, 0.5f),
                           box(-0.1f, 0.4f, 0.1f, 0.5f), box(-0.5f, -0.5f, -0.4f, -0.4f),
                           box(0.4f, -0.5f, 0.5f, -0.4f)};
  std::vector<qtree_object_t *> objects;
  ref_t *kept[4];
  for (int i = 0; i < 4; i++) {
    objects.push_back(add(q, spots[i]));
    kept[i] = first_ref(objects[i]);
  }
  EXPECT_EQ(q->root.children, nullptr);
  EXPECT_EQ(q->root.n_objects, 4u);
  objects.push_back(add(q, spots[4]));
  ASSERT_NE(q->root.children, nullptr);
  node_t *c = q->root.children;
  EXPECT_EQ(c[1].center.x, 0.5f);
  EXPECT_EQ(c[2].center.y, -0.5f);
  // Existing refs move down rather than being reallocated; the object
  // straddling x = 0 keeps its ref in quadrant 0 and gets a new one in 1.
  for (int i = 0; i < 4; i++)
    EXPECT_EQ(first_ref(objects[i]), kept[i]) << "object " << i << " got a new ref";
  EXPECT_EQ(leaves_of(objects[2]), (std::vector<const node_t *>{&c[0], &c[1]}));
  // Refs keep their order through the split: quadrant 1 holds object 1, then 2.
  EXPECT_EQ(qtree_list_entry(c[1].refs.next, ref_t, node_link)->object, objects[1]);
  EXPECT_TRUE(test_check_tree(q, objects));
  qtree_free(q);
}

TEST(qtree_object, outside_the_root_it_exists_in_no_node_until_moved_in) {
  qtree_t *q = qtree_new(nullptr, 4, 4, 1);  // the unit square around the origin
  int tag = 7;
  const aabb_t out = box(1.5f, 1.5f, 2, 2), all = box(-5, -5, 5, 5);
  qtree_object_t *o = qtree_object_new(q, nullptr, nullptr, &out, &tag);
  ASSERT_NE(o, nullptr);
  EXPECT_EQ(o->data, &tag);
  EXPECT_EQ(test_list_length(&o->refs), 0u);
  EXPECT_EQ(qtree_search_by_aabb(q, nullptr, nullptr, &all, nullptr, nullptr), 0u);
  // An offset alone brings it in: the placed box now touches the corner (1, 1).
  const v2f_t back = {-0.5f, -0.5f};
  EXPECT_EQ(qtree_object_move(q, o, &back, nullptr, nullptr), o);
  EXPECT_EQ(qtree_search_by_aabb(q, nullptr, nullptr, &all, nullptr, nullptr), 1u);
  // A NaN placement overlaps nothing.
  qtree_object_t *e = add(q, box(-2, -0.5f, -1, 0.5f));
  const v2f_t nan = {std::numeric_limits<float>::quiet_NaN(), 0};
  qtree_object_move(q, e, &nan, nullptr, nullptr);
  EXPECT_EQ(test_list_length(&e->refs), 0u);
  EXPECT_TRUE(test_check_tree(q, {o, e}));
  qtree_free(q);
}

TEST(qtree_object, moving_with_nothing_given_reinserts_with_new_refs_at_the_tail) {
  qtree_t *q = qtree_new(nullptr, 4, 4, 1);
  std::vector<qtree_object_t *> objects;
  for (int i = 0; i < 8; i++)
    objects.push_back(add(q, box(-0.9f + 0.2f * i, -0.1f, -0.8f + 0.2f * i, 0.1f)));
  qtree_object_t *o = objects[3];
  std::vector<const node_t *> before = leaves_of(o);
  std::set<ref_t *> old_refs;
  for (qtree_link_t *l = o->refs.next; l != &o->refs; l = l->next)
    old_refs.insert(qtree_list_entry(l, ref_t, object_link));
  ASSERT_EQ(qtree_object_move(q, o, nullptr, nullptr, nullptr), o);
  EXPECT_EQ(leaves_of(o), before);
  for (qtree_link_t *l = o->refs.next; l != &o->refs; l = l->next)
    EXPECT_EQ(old_refs.count(qtree_list_entry(l, ref_t, object_link)), 0u);
  for (const node_t *leaf : leaves_of(o))
    EXPECT_EQ(qtree_list_entry(leaf->refs.prev, ref_t, node_link)->object, o);
  EXPECT_TRUE(test_check_tree(q, objects));
  qtree_free(q);
}

TEST(qtree_reset, the_root_is_one_empty_leaf_and_records_start_over_zeroed) {
  const aabb_t root = box(-2, -1, 6, 3);
  qtree_t *q = qtree_new(&root, 2, 5, 2);
  for (int i = 0; i < 200; i++)
    add(q, box(-2 + 0.04f * i, -1 + 0.02f * i, -1.9f + 0.04f * i, -0.9f + 0.02f * i));
  chunk_t *last_objects = q->object_arena->chunk;
  qtree_reset(q);
  EXPECT_EQ(q->root.children, nullptr);
  EXPECT_EQ(q->root.n_objects, 0u);
  EXPECT_EQ(q->root.center.x, 2.0f);
  EXPECT_EQ(q->root.center.y, 1.0f);
  qtree_object_t *o = add(q, box(0, 0, 0.1f, 0.1f));
  EXPECT_EQ(reinterpret_cast<uint8_t *>(o), arena_chunk_data(last_objects) + 8);
  EXPECT_EQ(o->hit_links[1].next, &o->hit_links[1]);
  EXPECT_EQ(o->align.y, 0.0f);
  EXPECT_EQ(qtree_search_by_aabb(q, nullptr, nullptr, &root, nullptr, nullptr), 1u);
  EXPECT_TRUE(test_check_tree(q, {o}));
  qtree_free(q);
}

TEST(qtree_death, invalid_boxes_fail_their_assertions) {
  qtree_t *q = qtree_new(nullptr, 4, 4, 1);
  const aabb_t flip_x = box(1, 0, 0, 1), flip_y = box(0, 1, 1, 0), ok = box(0, 0, 1, 1);
  const aabb_t nan_x = box(std::numeric_limits<float>::quiet_NaN(), 0, 1, 1);
  EXPECT_DEATH(add(q, flip_x), "object_aabb->min.x <= object_aabb->max.x");
  EXPECT_DEATH(add(q, flip_y), "object_aabb->min.y <= object_aabb->max.y");
  EXPECT_DEATH(add(q, nan_x), "object_aabb->min.x <= object_aabb->max.x");
  EXPECT_DEATH(qtree_object_new(q, nullptr, nullptr, nullptr, nullptr),
               "Assertion .object_aabb. failed");
  qtree_object_t *o = add(q, ok);
  EXPECT_DEATH(qtree_object_move(q, o, nullptr, nullptr, &flip_x),
               "!object_aabb \\|\\| object_aabb->min.x <= object_aabb->max.x");
  EXPECT_DEATH(qtree_object_move(q, o, nullptr, nullptr, &flip_y),
               "!object_aabb \\|\\| object_aabb->min.y <= object_aabb->max.y");
  EXPECT_DEATH(qtree_object_move(q, nullptr, nullptr, nullptr, &ok), "Assertion .object. failed");
  EXPECT_DEATH(qtree_object_free(nullptr, o), "Assertion .qtree. failed");
  qtree_free(q);
}
