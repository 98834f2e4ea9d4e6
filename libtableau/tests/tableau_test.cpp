// Behaviour of the scene graph: walk order, opacity, the dirty cycle,
// release order and locks, names and lookup, replacement, and the
// assertions that guard the contract.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tableau/tableau.hpp"

namespace {

// One callback as seen from outside: which slot, on which node, with what.
struct call_t {
  char slot;  // 'p'repare, 'r'ender, 'f'ree
  std::string name;
  float alpha;
  void *object;
  void *arg;
  bool bare;  // free only: the node was detached and had no children left
};

std::vector<call_t> calls;

std::string name_of(const tableau_t *t) {
  return std::string(t->name, strnlen(t->name, sizeof t->name));
}

void on_prepare(tableau_t *t, void *object, void *arg, float alpha) {
  calls.push_back({'p', name_of(t), alpha, object, arg, false});
}

void on_render(tableau_t *t, void *object, void *arg, float alpha) {
  calls.push_back({'r', name_of(t), alpha, object, arg, false});
}

bool detached_and_childless(const tableau_t *t) {
  if (t->link.next != &t->link || t->link.prev != &t->link) return false;
  for (const tableau_link_t &head : t->layers)
    if (head.next != &head || head.prev != &head) return false;
  return true;
}

void on_free(tableau_t *t, void *object) {
  calls.push_back({'f', name_of(t), 0.0f, object, nullptr, detached_and_childless(t)});
}

// Whether every release seen so far found its node already bare.
bool all_freed_bare() {
  for (const call_t &c : calls)
    if (c.slot == 'f' && !c.bare) return false;
  return true;
}

const tableau_ops_t recording_ops = {on_prepare, on_render, on_free};

// The names called for one slot, in order.
std::vector<std::string> names(char slot) {
  std::vector<std::string> out;
  for (const call_t &c : calls)
    if (c.slot == slot) out.push_back(c.name);
  return out;
}

tableau_t *make(tableau_t *parent, int layer, const char *name, float alpha = 1.0f,
                unsigned active = 1, unsigned locked = 0, unsigned dirty = 0,
                const tableau_ops_t *ops = &recording_ops, void *object = nullptr) {
  const tableau_conf_t conf = {parent, layer, name, alpha, active, locked, dirty};
  tableau_t *t = tableau_new(&conf, ops, object);
  EXPECT_NE(t, nullptr);
  return t;
}

using strings = std::vector<std::string>;

class tableau_fixture : public testing::Test {
 protected:
  void SetUp() override { calls.clear(); }
};
using tableau_walk = tableau_fixture;
using tableau_release = tableau_fixture;
using tableau_graph = tableau_fixture;

// Marks the root dirty, renders, and gives the names rendered.
strings drawn(tableau_t *root) {
  calls.clear();
  tableau_dirty(root);
  tableau_render(root, nullptr);
  return names('r');
}

// --- Walk order, opacity, hidden subtrees -----------------------------------

TEST_F(tableau_walk, visits_parent_first_then_layers_in_order_then_creation_order) {
  tableau_t *root = make(nullptr, 0, "root");
  make(root, 3, "l3-first");
  tableau_t *l0a = make(root, 0, "l0-first");
  make(root, 3, "l3-second");
  make(root, 9, "l9");
  make(root, 0, "l0-second");
  make(l0a, 5, "l0a-l5");
  make(l0a, 1, "l0a-l1");
  tableau_dirty(root);
  int arg;
  EXPECT_EQ(tableau_render(root, &arg), 1);
  const strings order = {"root", "l0-first", "l0a-l1", "l0a-l5", "l0-second",
                         "l3-first", "l3-second", "l9"};
  EXPECT_EQ(names('p'), order);
  EXPECT_EQ(names('r'), order);
  // Every prepare precedes every render, and both get the caller's argument.
  ASSERT_EQ(calls.size(), 2 * order.size());
  for (size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(calls[i].slot, i < order.size() ? 'p' : 'r');
    EXPECT_EQ(calls[i].arg, &arg);
  }
  tableau_free(root);
}

TEST_F(tableau_walk, set_layer_moves_a_node_to_the_end_of_the_target_layer) {
  tableau_t *root = make(nullptr, 0, "root");
  tableau_t *a = make(root, 2, "a");
  make(root, 2, "b");
  tableau_t *c = make(root, 2, "c");
  make(root, 4, "d");
  tableau_set_layer(a, 2);  // same layer: behind its siblings
  EXPECT_EQ(drawn(root), (strings{"root", "b", "c", "a", "d"}));
  tableau_set_layer(c, 7);
  tableau_set_layer(a, 0);
  EXPECT_EQ(drawn(root), (strings{"root", "a", "b", "d", "c"}));
  // The old lists hold nothing stale: freeing visits each node once.
  calls.clear();
  tableau_free(root);
  EXPECT_EQ(names('f'), (strings{"a", "b", "d", "c", "root"}));
}

TEST_F(tableau_walk, hands_every_callback_the_product_of_opacities_from_the_root) {
  tableau_t *root = make(nullptr, 0, "root", 0.8f);
  tableau_t *child = make(root, 0, "child", 0.5f);
  make(child, 0, "grandchild", 0.5f);
  make(root, 1, "bright", 2.0f);  // not clamped
  // A node without a table draws nothing but still passes its factor on.
  tableau_t *group = make(root, 2, "group", 0.5f, 1, 0, 0, nullptr);
  make(group, 0, "leaf", 0.5f);
  tableau_dirty(root);
  tableau_render(root, nullptr);
  const std::vector<std::pair<std::string, float>> want = {
      {"root", 0.8f}, {"child", 0.4f}, {"grandchild", 0.2f}, {"bright", 1.6f}, {"leaf", 0.2f}};
  ASSERT_EQ(calls.size(), 2 * want.size());
  for (size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(calls[i].name, want[i % want.size()].first);
    EXPECT_FLOAT_EQ(calls[i].alpha, want[i % want.size()].second) << calls[i].name;
  }
  // The accessor gives the node's own factor, not the product.
  tableau_set_alpha(child, 0.25f);
  EXPECT_FLOAT_EQ(tableau_get_alpha(child), 0.25f);
  calls.clear();
  tableau_free(root);
  EXPECT_EQ(names('f'), (strings{"grandchild", "child", "bright", "leaf", "root"}));
}

TEST_F(tableau_walk, skips_an_inactive_child_with_its_whole_subtree) {
  tableau_t *root = make(nullptr, 0, "root");
  tableau_t *hidden = make(root, 0, "hidden", 1.0f, 0);
  make(hidden, 0, "below-hidden");
  make(root, 0, "after");
  EXPECT_EQ(drawn(root), (strings{"root", "after"}));
  EXPECT_EQ(names('p'), (strings{"root", "after"}));
  // Only the lowest bit of the argument counts.
  tableau_set_active(hidden, 3);
  EXPECT_EQ(tableau_get_active(hidden), 1);
  EXPECT_EQ(drawn(root), (strings{"root", "hidden", "below-hidden", "after"}));
  tableau_set_active(hidden, 2);
  EXPECT_EQ(tableau_get_active(hidden), 0);
  tableau_free(root);
}

// --- The dirty cycle ---------------------------------------------------------

TEST_F(tableau_walk, clean_root_prepares_but_draws_only_after_being_marked) {
  tableau_t *root = make(nullptr, 0, "root");
  tableau_t *child = make(root, 6, "child");
  tableau_t *leaf = make(child, 2, "leaf");
  const strings all = {"root", "child", "leaf"};
  for (int round = 0; round < 2; round++) {  // the flag is consumed by the draw
    calls.clear();
    EXPECT_EQ(tableau_render(root, nullptr), 0);
    EXPECT_EQ(names('p'), all);
    EXPECT_TRUE(names('r').empty());
    calls.clear();
    tableau_dirty(leaf);  // any node marks the root, and only the root
    EXPECT_EQ(root->dirty + leaf->dirty + child->dirty, 1);
    EXPECT_EQ(tableau_render(root, nullptr), 1);
    EXPECT_EQ(names('r'), all);
  }
  tableau_free(root);
}

void prepare_marks_dirty(tableau_t *t, void *object, void *arg, float alpha) {
  on_prepare(t, object, arg, alpha);
  tableau_dirty(t);
}

void prepare_hides_root(tableau_t *t, void *object, void *arg, float alpha) {
  on_prepare(t, object, arg, alpha);
  tableau_set_active(t->parent, 0);
}

TEST_F(tableau_walk, prepare_callbacks_that_mark_dirty_or_hide_the_root_act_in_the_same_call) {
  const tableau_ops_t marking = {prepare_marks_dirty, on_render, on_free};
  tableau_t *root = make(nullptr, 0, "root");
  make(root, 0, "ticker", 1.0f, 1, 0, 0, &marking);
  EXPECT_EQ(tableau_render(root, nullptr), 1);
  EXPECT_EQ(names('r'), (strings{"root", "ticker"}));
  tableau_free(root);
  // Hiding the root consumes its flag undrawn.
  calls.clear();
  const tableau_ops_t hiding = {prepare_hides_root, on_render, on_free};
  root = make(nullptr, 0, "root", 1.0f, 1, 0, 1);
  make(root, 0, "hider", 1.0f, 1, 0, 0, &hiding);
  EXPECT_EQ(tableau_render(root, nullptr), 1);
  EXPECT_TRUE(names('r').empty());
  EXPECT_EQ(tableau_render(root, nullptr), 0);
  tableau_free(root);
}

TEST_F(tableau_walk, inactive_dirty_root_returns_1_without_callbacks_once) {
  tableau_t *root = make(nullptr, 0, "root", 1.0f, 0, 0, 1);
  make(root, 0, "child");
  EXPECT_EQ(tableau_render(root, nullptr), 1);
  EXPECT_EQ(tableau_render(root, nullptr), 0);
  EXPECT_TRUE(calls.empty());
  tableau_free(root);
}

// --- Release -----------------------------------------------------------------

TEST_F(tableau_release, frees_children_before_parent_layer_zero_first_and_unlinks) {
  tableau_t *root = make(nullptr, 0, "root");
  make(root, 0, "sibling-before");
  tableau_t *p = make(root, 0, "p", 1.0f, 1, 1);  // locked: tableau_free ignores that
  make(root, 0, "sibling-after");
  make(p, 5, "a");
  tableau_t *b = make(p, 0, "b", 1.0f, 1, 1);
  make(p, 0, "c");
  make(b, 9, "d");
  int object;
  tableau_set_object(p, &object);
  EXPECT_EQ(tableau_free(p), 0);
  EXPECT_EQ(names('f'), (strings{"d", "b", "c", "a", "p"}));
  EXPECT_EQ(calls.back().object, &object);
  EXPECT_TRUE(all_freed_bare());
  // The parent's list is whole without it.
  EXPECT_EQ(drawn(root), (strings{"root", "sibling-before", "sibling-after"}));
  EXPECT_EQ(tableau_lookup_name(root, "p"), nullptr);
  calls.clear();
  EXPECT_EQ(tableau_free(nullptr), 0);
  EXPECT_TRUE(calls.empty());
  tableau_free(root);
  EXPECT_EQ(names('f'), (strings{"sibling-before", "sibling-after", "root"}));
}

TEST_F(tableau_release, free_children_keeps_locked_nodes_and_those_above_them) {
  tableau_t *root = make(nullptr, 0, "root");
  tableau_t *a = make(root, 1, "a");
  make(a, 0, "a1");
  tableau_t *kept = make(root, 1, "kept", 1.0f, 1, 1);
  make(kept, 0, "kept-child");
  make(root, 0, "c");
  tableau_t *group = make(root, 2, "group");
  make(group, 0, "loose");
  tableau_t *pinned = make(group, 3, "pinned", 1.0f, 1, 1);
  make(root, 8, "e");
  tableau_free_children(root);
  // The group stays, uncalled, because something locked hangs below it.
  EXPECT_EQ(names('f'), (strings{"c", "a1", "a", "loose", "e"}));
  EXPECT_EQ(pinned->parent, group);
  EXPECT_EQ(drawn(root), (strings{"root", "kept", "kept-child", "group", "pinned"}));
  // Unlocked, it goes with the next clear.
  tableau_set_locked(kept, 0);
  calls.clear();
  tableau_free_children(root);
  EXPECT_EQ(names('f'), (strings{"kept-child", "kept"}));
  // Forced release takes everything, locks notwithstanding.
  calls.clear();
  tableau_free(root);
  EXPECT_EQ(names('f'), (strings{"pinned", "group", "root"}));
  EXPECT_TRUE(all_freed_bare());
}

// --- Names and lookup --------------------------------------------------------

TEST_F(tableau_graph, names_keep_16_bytes_and_lookup_goes_depth_first_in_render_order) {
  tableau_t *root = make(nullptr, 0, "root");
  const struct {
    const char *name;
    bool found;
  } cases[] = {{"abcdefghijklmnopqrst", true}, {"abcdefghijklmnopXYZ", true},
               {"abcdefghijklmnop", true},     {"abcdefghijklmno", false},
               {"abcdefghijklmnoq", false},    {"", false}};
  tableau_t *t = make(root, 4, cases[0].name);
  EXPECT_EQ(memcmp(t->name, "abcdefghijklmnop", 16), 0);
  for (auto &c : cases)
    EXPECT_EQ(tableau_lookup_name(root, c.name), c.found ? t : nullptr) << c.name;
  make(root, 5, "virus");  // created first, but on a later layer
  tableau_t *second = make(root, 3, "l3-second");
  tableau_t *deep = make(second, 7, "deep");
  tableau_t *early = make(root, 2, "virus", 1.0f, 0);  // inactive nodes count too
  tableau_t *first = make(root, 0, "first");
  tableau_t *nested = make(first, 9, "dup");
  make(root, 0, "dup");  // a later sibling loses to the earlier one's subtree
  EXPECT_EQ(tableau_lookup_name(root, "deep"), deep);
  EXPECT_EQ(tableau_lookup_name(root, "virus"), early);
  EXPECT_EQ(tableau_lookup_name(root, "dup"), nested);
  EXPECT_EQ(tableau_lookup_name(root, "root"), root);
  EXPECT_EQ(tableau_lookup_name(root, "dee"), nullptr);
  EXPECT_EQ(tableau_lookup_name(root, "deeps"), nullptr);
  // Only the given subtree is searched.
  EXPECT_EQ(tableau_lookup_name(second, "virus"), nullptr);
  EXPECT_EQ(tableau_lookup_name(deep, "l3-second"), nullptr);
  tableau_free(root);
}

// --- Replacement -------------------------------------------------------------

int old_frees;
void *old_freed_object;
void old_free(tableau_t *, void *object) {
  ++old_frees;
  old_freed_object = object;
}
const tableau_ops_t old_ops = {nullptr, on_render, old_free};

TEST_F(tableau_graph, replace_frees_the_old_object_once_and_keeps_place_children_and_flags) {
  old_frees = 0;
  tableau_t *root = make(nullptr, 0, "root");
  make(root, 2, "before");
  int old_object, new_object;
  tableau_t *t = make(root, 2, "a-long-old-name-x", 0.5f, 1, 1, 0, &old_ops, &old_object);
  make(root, 2, "after");
  make(t, 0, "child");
  tableau_replace(t, "new", &recording_ops, &new_object);
  EXPECT_EQ(old_frees, 1);
  EXPECT_EQ(old_freed_object, &old_object);
  EXPECT_EQ(name_of(t), "new");  // no tail of the longer name left behind
  EXPECT_EQ(tableau_get_object(t), &new_object);
  EXPECT_FLOAT_EQ(tableau_get_alpha(t), 0.5f);
  EXPECT_EQ(tableau_get_locked(t), 1);
  EXPECT_EQ(drawn(root), (strings{"root", "before", "new", "child", "after"}));
  EXPECT_EQ(calls[names('p').size() + 2].object, &new_object);
  // Replacing with no table drops the callbacks; the last table's free is
  // the only one that runs at release.
  calls.clear();
  tableau_replace(t, "bare", nullptr, nullptr);
  EXPECT_EQ(names('f'), (strings{"new"}));
  EXPECT_EQ(calls.back().object, &new_object);
  EXPECT_FALSE(calls.back().bare);  // a replaced object leaves its node in place
  calls.clear();
  tableau_free(root);
  EXPECT_EQ(names('f'), (strings{"before", "child", "after", "root"}));
  EXPECT_EQ(old_frees, 1);
}

// --- Assertions ----------------------------------------------------------------

TEST(tableau_death, contract_violations_fail_their_assertions) {
  tableau_conf_t conf = {};
  conf.name = "n";
  EXPECT_DEATH(tableau_new(nullptr, nullptr, nullptr), "Assertion `conf' failed");
  conf.layer = 1;
  EXPECT_DEATH(tableau_new(&conf, nullptr, nullptr), "Assertion `conf->parent \\|\\| !conf->layer' failed");
  conf.layer = 0;
  conf.name = nullptr;
  EXPECT_DEATH(tableau_new(&conf, nullptr, nullptr), "Assertion `name' failed");
  conf.name = "root";
  tableau_t *root = tableau_new(&conf, nullptr, nullptr);
  conf.parent = root;
  conf.layer = TABLEAU_LAYERS_MAX;
  EXPECT_DEATH(tableau_new(&conf, nullptr, nullptr), "Assertion `conf->layer < TABLEAU_LAYERS_MAX' failed");
  conf.layer = TABLEAU_LAYERS_MAX - 1;
  tableau_t *child = tableau_new(&conf, nullptr, nullptr);
  EXPECT_EQ(child->parent, root);
  EXPECT_DEATH(tableau_render(child, nullptr), "Assertion `!tableau->parent' failed");
  EXPECT_DEATH(tableau_set_layer(root, 0), "Assertion `tableau->parent' failed");
  EXPECT_DEATH(tableau_replace(child, nullptr, nullptr, nullptr), "Assertion `name' failed");
  EXPECT_DEATH(tableau_lookup_name(root, nullptr), "Assertion `name' failed");
  tableau_free(root);
  // Every operation but free rejects a null node.
  const char *const msg = "Assertion `tableau' failed";
  EXPECT_DEATH(tableau_replace(nullptr, "x", nullptr, nullptr), msg);
  EXPECT_DEATH(tableau_free_children(nullptr), msg);
  EXPECT_DEATH(tableau_set_object(nullptr, nullptr), msg);
  EXPECT_DEATH(tableau_get_object(nullptr), msg);
  EXPECT_DEATH(tableau_set_alpha(nullptr, 1.0f), msg);
  EXPECT_DEATH(tableau_get_alpha(nullptr), msg);
  EXPECT_DEATH(tableau_set_active(nullptr, 1), msg);
  EXPECT_DEATH(tableau_get_active(nullptr), msg);
  EXPECT_DEATH(tableau_set_locked(nullptr, 1), msg);
  EXPECT_DEATH(tableau_get_locked(nullptr), msg);
  EXPECT_DEATH(tableau_set_layer(nullptr, 0), msg);
  EXPECT_DEATH(tableau_render(nullptr, nullptr), msg);
  EXPECT_DEATH(tableau_dirty(nullptr), msg);
  EXPECT_DEATH(tableau_lookup_name(nullptr, "x"), msg);
}

}  // namespace
