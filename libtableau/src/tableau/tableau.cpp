// tableau: the scene graph's nodes, their lists, walks and release.
//
// Sections: layout checks, internal helpers (name/table/object, freeing,
// walks), public operations.
#include "tableau/tableau.hpp"

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "tableau/list.hpp"

// ---------------------------------------------------------------------------
// Layout checks

// The node is a plain record that list_entry() takes apart with offsetof.
static_assert(std::is_standard_layout_v<tableau_t>);
static_assert(offsetof(tableau_t, parent) == 0);
static_assert(offsetof(tableau_t, link) > offsetof(tableau_t, parent));
static_assert(offsetof(tableau_t, layers) == offsetof(tableau_t, link) + sizeof(tableau_link_t));
static_assert(sizeof(tableau_t::layers) == TABLEAU_LAYERS_MAX * sizeof(tableau_link_t));
static_assert(offsetof(tableau_t, name) ==
              offsetof(tableau_t, layers) + TABLEAU_LAYERS_MAX * sizeof(tableau_link_t));
static_assert(sizeof(tableau_t::name) == 16);
static_assert(offsetof(tableau_t, alpha) == offsetof(tableau_t, name) + 16);
static_assert(sizeof(float) == 4);
// The flags (active, locked, dirty, then the library's branch bit) share the
// single byte that follows alpha; they live in the padding before ops and do
// not grow the node.
static_assert(offsetof(tableau_t, ops) >= offsetof(tableau_t, alpha) + sizeof(float) + 1);
static_assert(offsetof(tableau_t, ops) - (offsetof(tableau_t, alpha) + sizeof(float)) <
              alignof(const tableau_ops_t *));
static_assert(offsetof(tableau_t, object) == offsetof(tableau_t, ops) + sizeof(void *));
static_assert(sizeof(tableau_t) == offsetof(tableau_t, object) + sizeof(void *));
static_assert(std::is_standard_layout_v<tableau_ops_t> &&
              sizeof(tableau_ops_t) == 3 * sizeof(void *));

namespace {

// ---------------------------------------------------------------------------
// Internal helpers

// Stands in for a null table, so the walks test each slot and never the table.
constexpr tableau_ops_t empty_ops = {nullptr, nullptr, nullptr};

using slot_t = decltype(&tableau_ops_t::render);
static_assert(std::is_same_v<slot_t, decltype(&tableau_ops_t::prepare)>);

void _tableau_set_object(tableau_t *tableau, const char *name, const tableau_ops_t *ops,
                         void *object)
{
  assert(name);
  // At most 16 bytes, without a NUL when the name fills them; the rest is
  // zeroed so that a shorter name leaves no tail of a longer one behind when
  // tableau_replace renames a node.
  const size_t len = strnlen(name, sizeof tableau->name);
  memcpy(tableau->name, name, len);
  memset(tableau->name + len, 0, sizeof tableau->name - len);
  tableau->ops = ops ? ops : &empty_ops;
  tableau->object = object;
}

// Whether no layer holds a child.
bool childless(const tableau_t *tableau)
{
  uintptr_t linked = 0;
  for (const tableau_link_t &head : tableau->layers)
    linked |= reinterpret_cast<uintptr_t>(head.next) ^ reinterpret_cast<uintptr_t>(&head);
  return !linked;
}

bool _tableau_free_all(tableau_t *tableau, int force);

// Free the children of every layer, layer 0 first. Returns whether none is
// left; only an unforced release can leave some (locked ones, or unlocked
// ones that keep a locked descendant).
bool _tableau_free_layers(tableau_t *tableau, int force)
{
  bool empty = true;
  for (tableau_link_t &head : tableau->layers) {
    tableau_link_t *pos, *n;
    list_for_each_safe(pos, n, &head)
    {
      if (!_tableau_free_all(list_entry(pos, tableau_t, link), force))
        empty = false;
    }
  }
  return empty;
}

// Free a node after its subtree. Unforced, a locked node stays, and so does
// any node under which something stayed: a kept node must never hang below
// released memory, and a lock means "do not free this", however deep it sits.
// Returns whether the node was released.
bool _tableau_free_all(tableau_t *tableau, int force)
{
  if (tableau->locked && !force)
    return false;
  if (!_tableau_free_layers(tableau, force))
    return false;
  list_del_init(&tableau->link);
  // Removal is the only way a node loses children, so this is the one place
  // where the walks' branch bit can fall back to 0.
  if (tableau->parent)
    tableau->parent->branch = !childless(tableau->parent);
  // The callback sees a detached, childless node; only its object is left.
  if (tableau->ops->free)
    tableau->ops->free(tableau, tableau->object);
  free(tableau);
  return true;
}

// Call one slot on every active child of a node (the given alpha being the
// node's effective opacity) and on their active subtrees, parent before
// children, layer 0 first, oldest first within a layer. Leaves are most of a
// scene: the branch bit tells them apart without reading the ten layer heads
// (three more cache lines per node) and without another call frame. Plain
// recursion otherwise, as deep as the tree; nothing is allocated.
template <slot_t slot> void walk_children(tableau_t *tableau, void *arg, float alpha)
{
  for (tableau_link_t &head : tableau->layers) {
    tableau_link_t *pos;
    list_for_each(pos, &head)
    {
      tableau_t *child = list_entry(pos, tableau_t, link);
      if (!child->active)
        continue;
      const float child_alpha = alpha * child->alpha;
      if (auto fn = child->ops->*slot)
        fn(child, child->object, arg, child_alpha);
      if (child->branch)
        walk_children<slot>(child, arg, child_alpha);
    }
  }
}

// One walk from a root, whose own opacity starts the product.
template <slot_t slot> void walk(tableau_t *root, void *arg)
{
  const float alpha = 1.0f * root->alpha;
  if (auto fn = root->ops->*slot)
    fn(root, root->object, arg, alpha);
  walk_children<slot>(root, arg, alpha);
}

}  // namespace

// ---------------------------------------------------------------------------
// Public operations

tableau_t *tableau_new(const tableau_conf_t *conf, const tableau_ops_t *ops, void *object)
{
  assert(conf);
  assert(conf->parent || !conf->layer);
  assert(conf->layer < TABLEAU_LAYERS_MAX);
  auto *tableau = static_cast<tableau_t *>(calloc(1, sizeof(tableau_t)));
  if (!tableau)
    return nullptr;
  list_init(&tableau->link);
  for (tableau_link_t &head : tableau->layers)
    list_init(&head);
  _tableau_set_object(tableau, conf->name, ops, object);
  if (conf->parent) {
    tableau->parent = conf->parent;
    list_add_tail(&tableau->link, &conf->parent->layers[conf->layer]);
    conf->parent->branch = 1;  // tableau_set_layer keeps it a child, so only release clears this
  }
  tableau->alpha = conf->alpha;
  tableau->active = conf->active;
  tableau->locked = conf->locked;
  tableau->dirty = conf->dirty;
  return tableau;
}

void tableau_replace(tableau_t *tableau, const char *name, const tableau_ops_t *ops, void *object)
{
  assert(tableau);
  // Checked before the old object is released, so a bad call changes nothing.
  assert(name);
  if (tableau->ops->free)
    tableau->ops->free(tableau, tableau->object);
  _tableau_set_object(tableau, name, ops, object);
}

int tableau_free(tableau_t *tableau)
{
  if (tableau)
    _tableau_free_all(tableau, 1);
  return 0;
}

void tableau_free_children(tableau_t *tableau)
{
  assert(tableau);
  _tableau_free_layers(tableau, 0);
}

void tableau_set_object(tableau_t *tableau, void *object)
{
  assert(tableau);
  tableau->object = object;
}

void *tableau_get_object(tableau_t *tableau)
{
  assert(tableau);
  return tableau->object;
}

void tableau_set_alpha(tableau_t *tableau, float alpha)
{
  assert(tableau);
  tableau->alpha = alpha;
}

float tableau_get_alpha(tableau_t *tableau)
{
  assert(tableau);
  return tableau->alpha;
}

void tableau_set_active(tableau_t *tableau, int active)
{
  assert(tableau);
  tableau->active = active & 1;
}

int tableau_get_active(tableau_t *tableau)
{
  assert(tableau);
  return tableau->active;
}

void tableau_set_locked(tableau_t *tableau, int locked)
{
  assert(tableau);
  tableau->locked = locked & 1;
}

int tableau_get_locked(tableau_t *tableau)
{
  assert(tableau);
  return tableau->locked;
}

void tableau_set_layer(tableau_t *tableau, int layer)
{
  assert(tableau);
  assert(tableau->parent);
  list_del_init(&tableau->link);
  list_add_tail(&tableau->link, &tableau->parent->layers[layer]);
}

int tableau_render(tableau_t *tableau, void *arg)
{
  assert(tableau);
  assert(!tableau->parent);
  if (tableau->active)
    walk<&tableau_ops_t::prepare>(tableau, arg);
  // A prepare callback may have asked for a redraw or hidden the root, so
  // the flags are read only now.
  if (!tableau->dirty)
    return 0;
  if (tableau->active)
    walk<&tableau_ops_t::render>(tableau, arg);
  tableau->dirty = 0;
  return 1;
}

void tableau_dirty(tableau_t *tableau)
{
  assert(tableau);
  while (tableau->parent)
    tableau = tableau->parent;
  tableau->dirty = 1;
}

tableau_t *tableau_lookup_name(tableau_t *tableau, const char *name)
{
  assert(tableau);
  assert(name);
  // strncmp stops at a difference, a NUL or 16 characters, which is what
  // lets a name stored without its NUL match a longer query.
  if (!strncmp(tableau->name, name, sizeof tableau->name))
    return tableau;
  for (tableau_link_t &head : tableau->layers) {
    tableau_link_t *pos;
    list_for_each(pos, &head)
    {
      if (tableau_t *found = tableau_lookup_name(list_entry(pos, tableau_t, link), name))
        return found;
    }
  }
  return nullptr;
}
