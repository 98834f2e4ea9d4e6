// Quadtree searches: callback results, order, de-duplication, callbacks that
// change the tree, nesting, point searches.
#include <gtest/gtest.h>

#include <vector>

#include "qtree-check.hpp"
#include "qtree/qtree.hpp"

namespace {

aabb_t box(float x0, float y0, float x1, float y1) { return {{x0, y0}, {x1, y1}}; }

const aabb_t EVERYWHERE = {{-2, -2}, {2, 2}};

// Replays a list of results and records the objects visited.
struct script_t {
  std::vector<uint32_t> results;  // the last one repeats
  std::vector<qtree_object_t *> visited;
};

uint32_t scripted(void *ctx, qtree_object_t *object, const v2f_t *offset, const aabb_t *aabb,
                  void *data) {
  script_t *s = static_cast<script_t *>(ctx);
  EXPECT_EQ(offset, &object->offset);
  EXPECT_EQ(aabb, &object->aabb);
  EXPECT_EQ(data, object->data);
  size_t i = std::min(s->visited.size(), s->results.size() - 1);
  s->visited.push_back(object);
  return s->results[i];
}

// Root split into four leaves: A in 0, B in 1, X across 0 and 1, C in 2, D in 3.
struct five_t {
  qtree_t *q;
  qtree_object_t *a, *b, *x, *c, *d;
  std::vector<qtree_object_t *> all() const { return {a, b, x, c, d}; }
};

five_t make_five(uint32_t max_asip = 1) {
  five_t f;
  f.q = qtree_new(nullptr, 4, 4, max_asip);
  const aabb_t boxes[5] = {box(-0.6f, 0.4f, -0.5f, 0.5f), box(0.5f, 0.4f, 0.6f, 0.5f),
                           box(-0.1f, 0.6f, 0.1f, 0.7f), box(-0.6f, -0.6f, -0.5f, -0.5f),
                           box(0.5f, -0.6f, 0.6f, -0.5f)};
  qtree_object_t **slots[5] = {&f.a, &f.b, &f.x, &f.c, &f.d};
  for (int i = 0; i < 5; i++)
    *slots[i] = qtree_object_new(f.q, nullptr, nullptr, &boxes[i], nullptr);
  return f;
}

}  // namespace

TEST(qtree_search, results_count_and_stop_as_their_flags_say) {
  five_t f = make_five();
  ASSERT_NE(f.q->root.children, nullptr);
  struct {
    std::vector<uint32_t> results;
    uint32_t count;
    size_t visits;
  } cases[] = {
      {{1}, 1, 1},          {{0}, 0, 1},          {{2}, 0, 5},          {{3}, 5, 5},
      {{2, 3, 2, 1}, 2, 4}, {{3, 3, 0}, 2, 3},    {{2, 2, 2, 2, 3}, 1, 5},
  };
  for (auto &c : cases) {
    script_t s{c.results, {}};
    EXPECT_EQ(qtree_search_by_aabb(f.q, nullptr, nullptr, &EVERYWHERE, scripted, &s), c.count);
    EXPECT_EQ(s.visited.size(), c.visits);
    // A stopped search leaves no link behind: the next one finds everything again.
    EXPECT_TRUE(test_check_tree(f.q, f.all()));
    EXPECT_EQ(qtree_search_by_aabb(f.q, nullptr, nullptr, &EVERYWHERE, nullptr, nullptr), 5u);
  }
  qtree_free(f.q);
}

TEST(qtree_search, objects_come_once_in_the_order_the_walk_met_them_last) {
  five_t f = make_five();
  script_t s{{3}, {}};
  EXPECT_EQ(qtree_search_by_aabb(f.q, nullptr, nullptr, &EVERYWHERE, scripted, &s), 5u);
  // X is in quadrants 0 and 1; it is reported after B, where the walk left it.
  EXPECT_EQ(s.visited, (std::vector<qtree_object_t *>{f.a, f.b, f.x, f.c, f.d}));
  // A box touching X's lower edge only, from quadrant 1, finds X alone.
  const aabb_t touch = box(0.05f, 0.55f, 0.3f, 0.6f);
  s.visited.clear();
  EXPECT_EQ(qtree_search_by_aabb(f.q, nullptr, nullptr, &touch, scripted, &s), 1u);
  EXPECT_EQ(s.visited, (std::vector<qtree_object_t *>{f.x}));
  // The same box placed by offset and align: centred on (0.1, 0.4) it reaches B and X.
  const aabb_t unit = box(0, 0, 0.8f, 0.4f);
  const v2f_t at = {0.1f, 0.4f}, centred = {-1, -1};
  EXPECT_EQ(qtree_search_by_aabb(f.q, &at, &centred, &unit, nullptr, nullptr), 2u);
  qtree_free(f.q);
}

namespace {

struct editor_t {
  qtree_t *q;
  five_t *f;
  std::vector<qtree_object_t *> visited;
  std::vector<qtree_object_t *> added;
};

// Frees the object it is called for, adds a newcomer over the same spot and
// moves D (still waiting) away from the search box.
uint32_t edit_tree(void *ctx, qtree_object_t *object, const v2f_t *, const aabb_t *aabb, void *) {
  editor_t *e = static_cast<editor_t *>(ctx);
  e->visited.push_back(object);
  if (object == e->f->d)
    return QTREE_HIT | QTREE_CONTINUE;
  const aabb_t same = *aabb;
  e->added.push_back(qtree_object_new(e->q, nullptr, nullptr, &same, nullptr));
  if (object == e->f->a) {
    const aabb_t far = box(10, 10, 11, 11);
    qtree_object_move(e->q, e->f->d, nullptr, nullptr, &far);
  }
  qtree_object_free(e->q, object);
  return QTREE_HIT | QTREE_CONTINUE;
}

}  // namespace

TEST(qtree_search, callbacks_may_free_their_object_add_others_and_move_waiting_ones) {
  five_t f = make_five();
  editor_t e{f.q, &f, {}, {}};
  EXPECT_EQ(qtree_search_by_aabb(f.q, nullptr, nullptr, &EVERYWHERE, edit_tree, &e), 5u);
  // Newcomers are not visited; D moved out of the box but was still waiting, so it comes.
  EXPECT_EQ(e.visited, (std::vector<qtree_object_t *>{f.a, f.b, f.x, f.c, f.d}));
  EXPECT_EQ(e.added.size(), 4u);
  std::vector<qtree_object_t *> live = e.added;
  live.push_back(f.d);
  EXPECT_TRUE(test_check_tree(f.q, live));
  script_t s{{3}, {}};
  EXPECT_EQ(qtree_search_by_aabb(f.q, nullptr, nullptr, &EVERYWHERE, scripted, &s), 4u);
  EXPECT_EQ(s.visited, e.added);
  qtree_free(f.q);
}

namespace {

struct nest_t {
  qtree_t *q;
  uint32_t deepest = 0;
  uint32_t calls = 0;
  std::vector<uint32_t> inner_counts;
};

// Starts a nested search over everything from every callback until max_asip are running.
uint32_t nest(void *ctx, qtree_object_t *, const v2f_t *, const aabb_t *, void *) {
  nest_t *n = static_cast<nest_t *>(ctx);
  n->calls++;
  n->deepest = std::max(n->deepest, n->q->asip);
  if (n->q->asip < n->q->max_asip)
    n->inner_counts.push_back(qtree_search_by_aabb(n->q, nullptr, nullptr, &EVERYWHERE, nest, n));
  return QTREE_HIT | QTREE_CONTINUE;
}

uint32_t nest_once_more(void *ctx, qtree_object_t *, const v2f_t *, const aabb_t *, void *) {
  qtree_t *q = static_cast<qtree_t *>(ctx);
  return qtree_search_by_aabb(q, nullptr, nullptr, &EVERYWHERE, nest_once_more, q);
}

uint32_t bad_result(void *, qtree_object_t *, const v2f_t *, const aabb_t *, void *) { return 4; }

}  // namespace

TEST(qtree_search, callbacks_nest_searches_up_to_max_asip_each_complete) {
  five_t f = make_five(3);
  nest_t n{f.q, 0, 0, {}};
  EXPECT_EQ(qtree_search_by_aabb(f.q, nullptr, nullptr, &EVERYWHERE, nest, &n), 5u);
  EXPECT_EQ(n.deepest, 3u);
  EXPECT_EQ(n.calls, 5u + 25u + 125u);
  EXPECT_EQ(n.inner_counts.size(), 5u + 25u);
  for (uint32_t c : n.inner_counts)
    EXPECT_EQ(c, 5u);
  EXPECT_TRUE(test_check_tree(f.q, f.all()));
  qtree_free(f.q);
}

TEST(qtree_search, point_searches_look_in_one_leaf_with_closed_edges) {
  five_t f = make_five();
  const v2f_t corner = {-0.6f, 0.5f}, outside_root = {1.5f, 0}, root_edge = {1, 1};
  EXPECT_EQ(qtree_search_by_point(f.q, &corner, nullptr, nullptr), 1u);
  EXPECT_EQ(qtree_search_by_point(f.q, &outside_root, nullptr, nullptr), 0u);
  const aabb_t rim = box(0.9f, 0.9f, 1, 1);
  qtree_object_t *r = qtree_object_new(f.q, nullptr, nullptr, &rim, nullptr);
  script_t s{{3}, {}};
  EXPECT_EQ(qtree_search_by_point(f.q, &root_edge, scripted, &s), 1u);
  EXPECT_EQ(s.visited, (std::vector<qtree_object_t *>{r}));
  // Two objects over the centre are linked into all four children; the point
  // at the centre is searched in one leaf only, so each is reported once.
  const aabb_t over = box(-0.2f, -0.2f, 0.2f, 0.2f), dot = box(0, 0, 0, 0);
  qtree_object_t *o1 = qtree_object_new(f.q, nullptr, nullptr, &over, nullptr);
  qtree_object_t *o2 = qtree_object_new(f.q, nullptr, nullptr, &dot, nullptr);
  const v2f_t centre = {0, 0};
  s.visited.clear();
  EXPECT_EQ(qtree_search_by_point(f.q, &centre, scripted, &s), 2u);
  EXPECT_EQ(s.visited, (std::vector<qtree_object_t *>{o1, o2}));
  // Point searches obey the callback's flags like box searches.
  for (uint32_t r : {1u, 2u}) {
    s = {{r}, {}};
    EXPECT_EQ(qtree_search_by_point(f.q, &centre, scripted, &s), r & 1);
    EXPECT_EQ(s.visited.size(), r);
  }
  qtree_free(f.q);
}

TEST(qtree_death, search_mistakes_fail_their_assertions) {
  five_t f = make_five(2);
  EXPECT_DEATH(qtree_search_by_aabb(f.q, nullptr, nullptr, &EVERYWHERE, bad_result, nullptr),
               "Assertion .0. failed");
  const v2f_t at_a = {-0.55f, 0.45f};
  EXPECT_DEATH(qtree_search_by_point(f.q, &at_a, bad_result, nullptr),
               "Assertion .0. failed");
  EXPECT_DEATH(qtree_search_by_aabb(f.q, nullptr, nullptr, &EVERYWHERE, nest_once_more, f.q),
               "qtree->asip < qtree->max_asip");
  EXPECT_DEATH(qtree_search_by_aabb(f.q, nullptr, nullptr, nullptr, nullptr, nullptr),
               "Assertion .search_aabb. failed");
  EXPECT_DEATH(qtree_search_by_point(f.q, nullptr, nullptr, nullptr), "Assertion .point. failed");
  qtree_free(f.q);
  qtree_t *none = qtree_new(nullptr, 4, 4, 0);
  EXPECT_DEATH(qtree_search_by_aabb(none, nullptr, nullptr, &EVERYWHERE, nullptr, nullptr),
               "qtree->asip < qtree->max_asip");
  qtree_free(none);
}
