// tableau: a retained scene graph of named, layered, alpha-blended nodes.
//
// A node owns its children, which hang on ten ordered layers (0 is drawn
// first). A node draws nothing itself: it carries a user object and points
// to a constant table of callbacks (its kind). tableau_render() walks the tree
// from a root twice: a prepare walk on every call, and a render walk only when
// the root was marked dirty, handing every callback the product of the
// opacities from the root down.
//
// Ownership: a node owns its subtree, not its object (its kind's free slot
// decides what happens to that) and not its callback table. Nodes are made
// only by tableau_new: the library keeps the lists and the branch bit.
// Callbacks may change flags and alpha, never free or move nodes of the tree
// being walked.
//
// Order: a parent before its children, layer 0 before layer 1 (later draws on
// top), within a layer the oldest child first (tableau_set_layer moves a node
// to the end). An inactive node is skipped with its whole subtree.
//
// Assertions (they abort): a null node for every call but tableau_free; a
// null conf or name; a root on a layer other than 0; conf->layer above 9;
// tableau_set_layer on a root; tableau_render on a non-root. Unchecked: a
// negative layer, and any layer passed to tableau_set_layer, index the node's
// layer heads directly -- outside 0..9 they corrupt memory.
//
// Does NOT: touch GL, SDL or the game; mark anything dirty by itself (whoever
// changes what is shown calls tableau_dirty); lock; allocate while rendering.
#pragma once

#include <cstdint>

constexpr int TABLEAU_LAYERS_MAX = 10;

struct tableau_t;

// Intrusive circular doubly linked list link; a head is a link of its own.
struct tableau_link_t {
  tableau_link_t *next;
  tableau_link_t *prev;
};

// Callbacks of a node kind; each slot may be null.
struct tableau_ops_t {
  void (*prepare)(tableau_t *tableau, void *object, void *arg, float alpha);  // every render
  void (*render)(tableau_t *tableau, void *object, void *arg, float alpha);   // dirty renders
  void (*free)(tableau_t *tableau, void *object);  // node freed, or object replaced
};

// Creation record, read only by tableau_new.
struct tableau_conf_t {
  tableau_t *parent;    // null for a new root
  int layer;            // 0 .. TABLEAU_LAYERS_MAX - 1; 0 for a root
  const char *name;     // required; at most 16 bytes are kept
  float alpha;          // the node's own opacity factor
  unsigned active : 1;  // takes part in rendering, with its subtree
  unsigned locked : 1;  // survives tableau_free_children of its parent
  unsigned dirty : 1;   // meaningful on a root only
};

struct tableau_t {
  tableau_t *parent;                          // null for a root; never changes
  tableau_link_t link;                        // place in the parent's layer list
  tableau_link_t layers[TABLEAU_LAYERS_MAX];  // children, one list per layer
  char name[16];                              // not NUL-terminated at 16 characters
  float alpha;                                // own factor, not clamped
  uint8_t active : 1;
  uint8_t locked : 1;
  uint8_t dirty : 1;
  uint8_t branch : 1;        // has a child; kept by the library for the walks
  const tableau_ops_t *ops;  // never null
  void *object;              // handed to every callback
};

// Create a node (a root when conf->parent is null); null when out of memory.
tableau_t *tableau_new(const tableau_conf_t *conf, const tableau_ops_t *ops, void *object);
// Release the old object through the old table's free slot, then install name, table, object.
void tableau_replace(tableau_t *tableau, const char *name, const tableau_ops_t *ops, void *object);
// Free a node with its whole subtree, locked or not; null is ignored. Always 0.
int tableau_free(tableau_t *tableau);
// Free every unlocked child (with its subtree) of every layer. A locked node
// deeper down stays, and so do the unlocked nodes on its way up (their free
// callbacks are not called), so nothing kept ever hangs below freed memory.
void tableau_free_children(tableau_t *tableau);
// Replace the object without calling any callback.
void tableau_set_object(tableau_t *tableau, void *object);
// The node's object.
void *tableau_get_object(tableau_t *tableau);
// Set the node's own opacity factor.
void tableau_set_alpha(tableau_t *tableau, float alpha);
// The node's own opacity factor (not the product).
float tableau_get_alpha(tableau_t *tableau);
// Set the active flag to the lowest bit of active.
void tableau_set_active(tableau_t *tableau, int active);
// The active flag, 0 or 1.
int tableau_get_active(tableau_t *tableau);
// Set the locked flag to the lowest bit of locked.
void tableau_set_locked(tableau_t *tableau, int locked);
// The locked flag, 0 or 1.
int tableau_get_locked(tableau_t *tableau);
// Move a child to the end of its parent's list for layer, which must be 0..9:
// the layer is not checked (out of range it writes outside the parent).
// None of the setters marks the tree dirty.
void tableau_set_layer(tableau_t *tableau, int layer);
// Prepare walk, then render walk when the root is dirty; 1 when it was dirty
// (an inactive root walks nothing but still consumes its dirty flag).
int tableau_render(tableau_t *tableau, void *arg);
// Mark the root of the node's tree dirty.
void tableau_dirty(tableau_t *tableau);
// Depth-first search of the subtree, in render order, for a name (16 characters compared).
tableau_t *tableau_lookup_name(tableau_t *tableau, const char *name);
