// Test helpers: placed boxes computed the documented way, and a walk that
// checks every structural invariant of a tree against the objects a test
// knows to be alive.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

#include "qtree/qtree.hpp"

inline aabb_t test_place(const aabb_t &box, const v2f_t &offset, const v2f_t &align) {
  float sx = ((box.max.x - box.min.x) * 0.5f) * align.x;
  float sy = ((box.max.y - box.min.y) * 0.5f) * align.y;
  return {{(box.min.x + offset.x) + sx, (box.min.y + offset.y) + sy},
          {(box.max.x + offset.x) + sx, (box.max.y + offset.y) + sy}};
}

inline aabb_t test_place(const qtree_object_t *o) { return test_place(o->aabb, o->offset, o->align); }

inline bool test_overlap(const aabb_t &a, const aabb_t &b) {
  return a.max.x >= b.min.x && b.max.x >= a.min.x && a.max.y >= b.min.y && b.max.y >= a.min.y;
}

inline bool test_contains(const aabb_t &a, const v2f_t &p) {
  return !(a.min.x > p.x || p.x > a.max.x || a.min.y > p.y || p.y > a.max.y);
}

inline size_t test_list_length(const qtree_link_t *head) {
  size_t n = 0;
  for (qtree_link_t *l = head->next; l != head; l = l->next)
    n++;
  return n;
}

struct test_leaf_t {
  node_t *node;
  aabb_t box;
  uint32_t depth;
};

// Quadrant boxes written out independently of the library.
inline aabb_t test_quadrant(const aabb_t &p, const v2f_t &c, int i) {
  switch (i) {
    case 0: return {{p.min.x, c.y}, {c.x, p.max.y}};
    case 1: return {{c.x, c.y}, {p.max.x, p.max.y}};
    case 2: return {{p.min.x, p.min.y}, {c.x, c.y}};
    default: return {{c.x, p.min.y}, {p.max.x, c.y}};
  }
}

// Collects the leaves; checks that every node is centred in its box and that
// inner nodes hold no refs and sit above max_depth.
inline ::testing::AssertionResult test_walk(const qtree_t *q, node_t *node, const aabb_t &box,
                                            uint32_t depth, std::vector<test_leaf_t> *leaves) {
  if (node->center.x != box.min.x + (box.max.x - box.min.x) * 0.5f ||
      node->center.y != box.min.y + (box.max.y - box.min.y) * 0.5f)
    return ::testing::AssertionFailure() << "centre off at depth " << depth;
  if (!node->children) {
    leaves->push_back({node, box, depth});
    return ::testing::AssertionSuccess();
  }
  if (depth >= q->max_depth || node->n_objects != 0 || test_list_length(&node->refs) != 0)
    return ::testing::AssertionFailure() << "inner node at depth " << depth << " with "
                                         << node->n_objects << " objects";
  for (int i = 0; i < 4; i++) {
    auto r = test_walk(q, &node->children[i], test_quadrant(box, node->center, i), depth + 1, leaves);
    if (!r)
      return r;
  }
  return ::testing::AssertionSuccess();
}

// Every invariant between searches, for the given live objects.
inline ::testing::AssertionResult test_check_tree(qtree_t *q,
                                                  const std::vector<qtree_object_t *> &objects) {
  if (q->asip != 0)
    return ::testing::AssertionFailure() << "asip " << q->asip;
  std::vector<test_leaf_t> leaves;
  auto walked = test_walk(q, &q->root, q->aabb, 0, &leaves);
  if (!walked)
    return walked;
  std::set<const qtree_object_t *> live(objects.begin(), objects.end());
  for (const test_leaf_t &leaf : leaves) {
    size_t n = test_list_length(&leaf.node->refs);
    if (n != leaf.node->n_objects)
      return ::testing::AssertionFailure() << "n_objects " << leaf.node->n_objects << " but " << n
                                           << " refs";
    if (n > q->max_objects && leaf.depth < q->max_depth)
      return ::testing::AssertionFailure() << "unsplit leaf with " << n << " refs at depth "
                                           << leaf.depth;
    for (qtree_link_t *l = leaf.node->refs.next; l != &leaf.node->refs; l = l->next) {
      const ref_t *ref = qtree_list_entry(l, ref_t, node_link);
      if (ref->node != leaf.node || !live.count(ref->object))
        return ::testing::AssertionFailure() << "stray ref in a leaf";
    }
  }
  for (qtree_object_t *o : objects) {
    for (uint32_t i = 0; i < q->max_asip; i++)
      if (o->hit_links[i].next != &o->hit_links[i] || o->hit_links[i].prev != &o->hit_links[i])
        return ::testing::AssertionFailure() << "hit link " << i << " not empty";
    std::vector<const node_t *> linked;
    for (qtree_link_t *l = o->refs.next; l != &o->refs; l = l->next) {
      const ref_t *ref = qtree_list_entry(l, ref_t, object_link);
      if (ref->object != o)
        return ::testing::AssertionFailure() << "ref of another object";
      linked.push_back(ref->node);
    }
    std::vector<const node_t *> expected;
    aabb_t placed = test_place(o);
    if (test_overlap(placed, q->aabb))
      for (const test_leaf_t &leaf : leaves)
        if (test_overlap(placed, leaf.box))
          expected.push_back(leaf.node);
    std::vector<const node_t *> sorted = linked;
    std::sort(sorted.begin(), sorted.end());
    std::sort(expected.begin(), expected.end());
    if (sorted != expected)
      return ::testing::AssertionFailure() << "object in " << linked.size() << " leaves, expected "
                                           << expected.size();
  }
  return ::testing::AssertionSuccess();
}
