// Quadtree against a brute-force model: random creations, moves, frees and
// resets, then every search compared with a scan of the model and the whole
// structure checked.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "qtree-check.hpp"
#include "qtree/qtree.hpp"

namespace {

struct model_object_t {
  qtree_object_t *object;
  aabb_t aabb;
  v2f_t offset, align;
  aabb_t placed() const { return test_place(aabb, offset, align); }
};

struct model_t {
  qtree_t *q;
  aabb_t root;
  std::mt19937 rng;
  std::vector<model_object_t> objects;
  int serial = 0;  // numbers the data pointers

  float uniform(float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(rng); }
  int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); }

  // A coordinate on the root's 1/16 grid (edges and centre lines of the first
  // four levels), sometimes one step outside, or anywhere near the root.
  float coord(float lo, float hi) {
    if (pick(2))
      return lo + (hi - lo) * float(pick(21) - 2) / 16.0f;
    return uniform(lo - (hi - lo) * 0.25f, hi + (hi - lo) * 0.25f);
  }
  v2f_t point() { return {coord(root.min.x, root.max.x), coord(root.min.y, root.max.y)}; }

  aabb_t box() {
    const float w = root.max.x - root.min.x, h = root.max.y - root.min.y;
    v2f_t a = point();
    switch (pick(6)) {
      case 0:  // zero size, often on a grid line
        return {a, a};
      case 1:  // small
        return {a, {a.x + uniform(0, w * 0.05f), a.y + uniform(0, h * 0.05f)}};
      case 2: {  // snapped to the grid on both corners
        v2f_t b = point();
        return {{std::min(a.x, b.x), std::min(a.y, b.y)}, {std::max(a.x, b.x), std::max(a.y, b.y)}};
      }
      case 3: {  // across the root's left or top edge
        float s = uniform(0, w * 0.3f);
        if (pick(2))
          return {{root.min.x - s, a.y}, {root.min.x + s, a.y + s}};
        return {{a.x, root.max.y - s}, {a.x + s, root.max.y + s}};
      }
      case 4: {  // wholly outside, right of the root
        float x = root.max.x + uniform(0.01f, 1);
        return {{x, a.y}, {x + 0.1f, a.y + 0.1f}};
      }
      default:  // large
        return {a, {a.x + uniform(0, w * 0.6f), a.y + uniform(0, h * 0.6f)}};
    }
  }

  // Offsets and aligns are absent half the time.
  const v2f_t *offset(v2f_t *slot) {
    if (pick(2))
      return nullptr;
    *slot = pick(2) ? v2f_t{0, 0} : v2f_t{uniform(-0.5f, 0.5f), float(pick(5) - 2) / 8.0f};
    return slot;
  }
  const v2f_t *align(v2f_t *slot) {
    static const float aligns[] = {-2, -1, -0.5f, 0, 1};
    if (pick(2))
      return nullptr;
    *slot = {aligns[pick(5)], aligns[pick(5)]};
    return slot;
  }
};

v2f_t or_zero(const v2f_t *v) { return v ? *v : v2f_t{0, 0}; }

void create(model_t *m) {
  v2f_t os, as;
  aabb_t b = m->box();
  const v2f_t *offset = m->offset(&os), *align = m->align(&as);
  void *data = reinterpret_cast<void *>(intptr_t(++m->serial));
  qtree_object_t *o = qtree_object_new(m->q, offset, align, &b, data);
  ASSERT_NE(o, nullptr);
  ASSERT_EQ(o->data, data);
  m->objects.push_back({o, b, or_zero(offset), or_zero(align)});
}

void move(model_t *m) {
  model_object_t &mo = m->objects[size_t(m->pick(int(m->objects.size())))];
  v2f_t os, as;
  aabb_t b = m->box();
  const v2f_t *offset = m->offset(&os), *align = m->align(&as);
  const aabb_t *box = m->pick(4) ? &b : nullptr;
  ASSERT_EQ(qtree_object_move(m->q, mo.object, offset, align, box), mo.object);
  mo.offset = offset ? *offset : mo.offset;
  mo.align = align ? *align : mo.align;
  mo.aabb = box ? *box : mo.aabb;
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
    aabb_t b = m->box();
    const v2f_t *offset = m->offset(&os), *align = m->align(&as);
    aabb_t placed = test_place(b, or_zero(offset), or_zero(align));
    std::vector<qtree_object_t *> expected, got;
    // Boxes have a common point once they overlap pairwise, so an object and
    // the search box that both reach the root meet inside it, in some leaf.
    if (test_overlap(placed, m->root))
      for (const model_object_t &mo : m->objects)
        if (test_overlap(mo.placed(), m->root) && test_overlap(mo.placed(), placed))
          expected.push_back(mo.object);
    uint32_t count = qtree_search_by_aabb(m->q, offset, align, &b, collect, &got);
    ASSERT_TRUE(same_objects(got, count, expected)) << "box search " << i;
    ASSERT_EQ(qtree_search_by_aabb(m->q, offset, align, &b, nullptr, nullptr), count);

    v2f_t p = m->point();
    expected.clear();
    got.clear();
    if (test_contains(m->root, p))
      for (const model_object_t &mo : m->objects)
        if (test_contains(mo.placed(), p))
          expected.push_back(mo.object);
    count = qtree_search_by_point(m->q, &p, collect, &got);
    ASSERT_TRUE(same_objects(got, count, expected)) << "point search " << i;
  }
  ASSERT_TRUE(test_check_tree(m->q, live));
}

struct config_t {
  const char *name;
  aabb_t root;
  uint32_t max_objects, max_depth, max_asip;
  int target;  // population the random walk hovers around
};

void run_model(const config_t &c, unsigned seed) {
  SCOPED_TRACE(c.name);
  model_t m{qtree_new(&c.root, c.max_objects, c.max_depth, c.max_asip), c.root,
            std::mt19937(seed), {}, 0};
  ASSERT_NE(m.q, nullptr);
  for (int step = 1; step <= 3000 && !::testing::Test::HasFatalFailure(); step++) {
    int r = m.pick(100);
    int n = int(m.objects.size());
    if (r == 0 && m.pick(4) == 0) {
      qtree_reset(m.q);
      m.objects.clear();
    } else if (n == 0 || r < 45 * c.target / (n + c.target / 2)) {
      create(&m);
    } else if (r < 75) {
      move(&m);
    } else {
      size_t i = size_t(m.pick(n));
      qtree_object_free(m.q, m.objects[i].object);
      m.objects.erase(m.objects.begin() + long(i));
    }
    if (step % 60 == 0 && !::testing::Test::HasFatalFailure()) {
      compare_searches(&m);
      if (::testing::Test::HasFatalFailure())
        ADD_FAILURE() << "after step " << step << " with " << m.objects.size() << " objects";
    }
  }
  qtree_free(m.q);
}

}  // namespace

TEST(qtree_model, searches_and_structure_match_a_brute_force_scan) {
  const aabb_t unit = {{-1, -1}, {1, 1}};
  const config_t configs[] = {
      {"game limits", unit, 4, 4, 1, 60},
      {"deep tree, one object per leaf", unit, 1, 6, 2, 40},
      {"leaves split at their first ref", unit, 0, 3, 1, 30},
      {"a single leaf that never splits", unit, 4, 0, 1, 50},
      {"rectangular root off the origin", {{-3, -1}, {5, 2}}, 2, 5, 1, 120},
      {"crowded, game limits", unit, 4, 4, 1, 250},
  };
  unsigned seed = 1;
  for (const config_t &c : configs)
    run_model(c, seed++);
}
