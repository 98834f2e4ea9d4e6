// Quadtree against a brute-force model: random creations, moves, frees and
// resets, then every search compared with a scan of the model and the whole
// structure checked.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <vector>

#include "qtree-check.hpp"
#include "qtree/qtree.hpp"

namespace {

struct model_object_t {
  qtree_object_t *object;
  aabb_t aabb;
  v2f_t offset;
  v2f_t align;
};

struct model_t {
  qtree_t *q;
  aabb_t root;
  std::mt19937 rng;
  std::vector<model_object_t> objects;
  int serial = 0;  // numbers the data pointers
};

float uniform(model_t *m, float lo, float hi) {
  return std::uniform_real_distribution<float>(lo, hi)(m->rng);
}

int pick(model_t *m, int n) { return std::uniform_int_distribution<int>(0, n - 1)(m->rng); }

// A coordinate on the root's 1/16 grid (edges and centre lines of the first
// four levels), sometimes one step outside, or anywhere near the root.
float coord(model_t *m, float lo, float hi) {
  if (pick(m, 2))
    return lo + (hi - lo) * float(pick(m, 21) - 2) / 16.0f;
  float pad = (hi - lo) * 0.25f;
  return uniform(m, lo - pad, hi + pad);
}

v2f_t point(model_t *m) {
  return {coord(m, m->root.min.x, m->root.max.x), coord(m, m->root.min.y, m->root.max.y)};
}

aabb_t random_box(model_t *m) {
  const float w = m->root.max.x - m->root.min.x, h = m->root.max.y - m->root.min.y;
  v2f_t a = point(m);
  switch (pick(m, 6)) {
    case 0:  // zero size, often on a grid line
      return {a, a};
    case 1: {  // small
      float sx = uniform(m, 0, w * 0.05f), sy = uniform(m, 0, h * 0.05f);
      return {a, {a.x + sx, a.y + sy}};
    }
    case 2: {  // snapped to the grid on both corners
      v2f_t b = point(m);
      return {{std::min(a.x, b.x), std::min(a.y, b.y)}, {std::max(a.x, b.x), std::max(a.y, b.y)}};
    }
    case 3: {  // across the root's left or top edge
      float sx = uniform(m, 0, w * 0.3f);
      if (pick(m, 2))
        return {{m->root.min.x - sx, a.y}, {m->root.min.x + sx, a.y + sx}};
      return {{a.x, m->root.max.y - sx}, {a.x + sx, m->root.max.y + sx}};
    }
    case 4: {  // wholly outside, right of the root
      float x = m->root.max.x + uniform(m, 0.01f, 1);
      return {{x, a.y}, {x + 0.1f, a.y + 0.1f}};
    }
    default: {  // large
      float sx = uniform(m, 0, w * 0.6f), sy = uniform(m, 0, h * 0.6f);
      return {a, {a.x + sx, a.y + sy}};
    }
  }
}

// Offsets and aligns are absent half the time.
const v2f_t *maybe_offset(model_t *m, v2f_t *slot) {
  if (pick(m, 2))
    return nullptr;
  *slot = pick(m, 2) ? v2f_t{0, 0} : v2f_t{uniform(m, -0.5f, 0.5f), float(pick(m, 5) - 2) / 8.0f};
  return slot;
}

const v2f_t *maybe_align(model_t *m, v2f_t *slot) {
  static const float aligns[] = {-2, -1, -0.5f, 0, 1};
  if (pick(m, 2))
    return nullptr;
  *slot = {aligns[pick(m, 5)], aligns[pick(m, 5)]};
  return slot;
}

void create(model_t *m) {
  v2f_t os, as;
  aabb_t b = random_box(m);
  const v2f_t *offset = maybe_offset(m, &os), *align = maybe_align(m, &as);
  void *data = reinterpret_cast<void *>(intptr_t(++m->serial));
  qtree_object_t *o = qtree_object_new(m->q, offset, align, &b, data);
  ASSERT_NE(o, nullptr);
  ASSERT_EQ(o->data, data);
  m->objects.push_back({o, b, offset ? *offset : v2f_t{0, 0}, align ? *align : v2f_t{0, 0}});
}

void move(model_t *m) {
  model_object_t &mo = m->objects[pick(m, int(m->objects.size()))];
  v2f_t os, as;
  aabb_t b = random_box(m);
  const v2f_t *offset = maybe_offset(m, &os), *align = maybe_align(m, &as);
  const aabb_t *box = pick(m, 4) ? &b : nullptr;
  ASSERT_EQ(qtree_object_move(m->q, mo.object, offset, align, box), mo.object);
  if (offset)
    mo.offset = *offset;
  if (align)
    mo.align = *align;
  if (box)
    mo.aabb = *box;
}

void remove(model_t *m) {
  size_t i = size_t(pick(m, int(m->objects.size())));
  qtree_object_free(m->q, m->objects[i].object);
  m->objects.erase(m->objects.begin() + long(i));
}

uint32_t collect(void *ctx, qtree_object_t *object, const v2f_t *, const aabb_t *, void *) {
  static_cast<std::vector<qtree_object_t *> *>(ctx)->push_back(object);
  return QTREE_HIT | QTREE_CONTINUE;
}

::testing::AssertionResult same_objects(std::vector<qtree_object_t *> got, uint32_t count,
                                        std::vector<qtree_object_t *> expected) {
  if (count != got.size())
    return ::testing::AssertionFailure() << "count " << count << " for " << got.size() << " calls";
  std::sort(got.begin(), got.end());
  if (std::adjacent_find(got.begin(), got.end()) != got.end())
    return ::testing::AssertionFailure() << "an object reported twice";
  std::sort(expected.begin(), expected.end());
  if (got != expected)
    return ::testing::AssertionFailure() << got.size() << " objects found, " << expected.size()
                                         << " expected";
  return ::testing::AssertionSuccess();
}

void compare_searches(model_t *m) {
  std::vector<qtree_object_t *> live;
  for (const model_object_t &mo : m->objects)
    live.push_back(mo.object);
  ASSERT_TRUE(test_check_tree(m->q, live));
  for (int i = 0; i < 20; i++) {
    v2f_t os, as;
    aabb_t b = random_box(m);
    const v2f_t *offset = maybe_offset(m, &os), *align = maybe_align(m, &as);
    aabb_t placed = test_place(b, offset ? *offset : v2f_t{0, 0}, align ? *align : v2f_t{0, 0});
    std::vector<qtree_object_t *> expected, got;
    // Boxes have a common point once they overlap pairwise, so an object and
    // the search box that both reach the root meet inside it, in some leaf.
    if (test_overlap(placed, m->root))
      for (const model_object_t &mo : m->objects) {
        aabb_t object_placed = test_place(mo.aabb, mo.offset, mo.align);
        if (test_overlap(object_placed, m->root) && test_overlap(object_placed, placed))
          expected.push_back(mo.object);
      }
    uint32_t count = qtree_search_by_aabb(m->q, offset, align, &b, collect, &got);
    ASSERT_TRUE(same_objects(got, count, expected)) << "box search " << i;
    ASSERT_EQ(qtree_search_by_aabb(m->q, offset, align, &b, nullptr, nullptr), count);

    v2f_t p = point(m);
    expected.clear();
    got.clear();
    if (test_contains(m->root, p))
      for (const model_object_t &mo : m->objects)
        if (test_contains(test_place(mo.aabb, mo.offset, mo.align), p))
          expected.push_back(mo.object);
    count = qtree_search_by_point(m->q, &p, collect, &got);
    ASSERT_TRUE(same_objects(got, count, expected)) << "point search " << i;
  }
  ASSERT_TRUE(test_check_tree(m->q, live));
}

struct config_t {
  aabb_t root;
  uint32_t max_objects, max_depth, max_asip;
  int target;  // population the random walk hovers around
};

void run_model(const config_t &c, unsigned seed) {
  model_t m{qtree_new(&c.root, c.max_objects, c.max_depth, c.max_asip), c.root, std::mt19937(seed),
            {}, 0};
  ASSERT_NE(m.q, nullptr);
  for (int step = 1; step <= 3000; step++) {
    int r = pick(&m, 100);
    int n = int(m.objects.size());
    if (r == 0 && pick(&m, 4) == 0) {
      qtree_reset(m.q);
      m.objects.clear();
    } else if (n == 0 || r < 45 * c.target / (n + c.target / 2)) {
      create(&m);
    } else if (r < 75) {
      move(&m);
    } else {
      remove(&m);
    }
    if (::testing::Test::HasFatalFailure())
      break;
    if (step % 60 == 0) {
      compare_searches(&m);
      if (::testing::Test::HasFatalFailure()) {
        ADD_FAILURE() << "after step " << step << " with " << m.objects.size() << " objects";
        break;
      }
    }
  }
  qtree_free(m.q);
}

const aabb_t UNIT = {{-1, -1}, {1, 1}};

}  // namespace

TEST(qtree_model, game_limits_match_a_brute_force_scan) { run_model({UNIT, 4, 4, 1, 60}, 1); }

TEST(qtree_model, deep_tree_with_one_object_per_leaf) { run_model({UNIT, 1, 6, 2, 40}, 2); }

TEST(qtree_model, leaves_that_split_at_their_first_ref) { run_model({UNIT, 0, 3, 1, 30}, 3); }

TEST(qtree_model, a_single_leaf_that_never_splits) { run_model({UNIT, 4, 0, 1, 50}, 4); }

TEST(qtree_model, rectangular_root_away_from_the_origin) {
  run_model({{{-3, -1}, {5, 2}}, 2, 5, 1, 120}, 5);
}

TEST(qtree_model, crowded_tree_with_game_limits) { run_model({UNIT, 4, 4, 1, 250}, 6); }
