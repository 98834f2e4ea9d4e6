// qtree: a region quadtree of axis-aligned boxes over a fixed root box.
//
// Only leaves hold objects. An object is linked to every leaf its placed box
// overlaps through one small ref_t per leaf, so it is never clipped and never
// stored in an inner node. A leaf holding more than max_objects refs splits
// into four quadrants unless it sits max_depth levels below the root; nodes
// are never merged, only qtree_reset brings the tree back to one leaf. Nodes
// do not store their boxes: each is recomputed from the root box and the
// centres on the way down.
//
// Boxes and placement: a box is valid when min <= max on both axes. An object
// (and a box search) gives a box with an optional offset and align (absent
// counts as (0, 0)); per axis, with shift = ((max - min) * 0.5) * align, the
// placed box runs from (min + offset) + shift to (max + offset) + shift. So
// align (-1, -1) centres a box (0, 0)..(w, h) on offset. Every test treats
// edges as closed (touching boxes overlap, a zero-size box overlaps any box
// containing it) and any NaN as no overlap.
//
// Quadrants of a node with box (min, max) and centre c, y pointing up:
// 0 = upper left, 1 = upper right, 2 = lower left, 3 = lower right; they share
// their edges, so an object on a centre line is in every quadrant it touches.
//
// Searches: qtree_search_by_aabb reports each overlapping object exactly once
// (objects can be in many leaves), in the order a depth-first walk over
// quadrants 0..3 last met them; qtree_search_by_point searches the one leaf
// containing the point. The callback returns QTREE_HIT to count the object
// and QTREE_CONTINUE to go on (0 stops without counting, 3 counts and goes
// on); any other value is a programming error. With no callback every object
// found counts. During a box search the callback may add objects (not visited
// by this search), move any object, free the object it was called for, and
// start another box search while fewer than max_asip are in progress; it must
// not free another object of the same search. The offset and aabb pointers the
// callback receives point into the object: read them, change them only
// through qtree_object_move. A point search callback must not change the
// objects of the leaf being searched.
//
// Assertions (they abort): a null tree, object, box or point; a box with
// min > max on either axis (a NaN edge too) when an object is made or moved;
// a callback result above 3; a box search started while max_asip are in
// progress (so a tree made with max_asip 0 cannot be box-searched). The limits
// are not validated: max_objects 0 splits every leaf that holds an object,
// down to max_depth.
//
// Ownership: the tree owns its three zero-filling arenas (blocks of four child
// nodes, refs, objects) and every record in them; the caller owns the data
// pointers. Object pointers die with qtree_object_free, qtree_reset, qtree_free,
// or a null result of qtree_object_new/qtree_object_move for that object.
//
// Does NOT: lock, allocate from the system per object, per ref or per search,
// grow the root box, merge nodes, validate limits, or print anything (null
// means out of memory; the caller decides).
#pragma once

#include <cstddef>
#include <cstdint>

#include "arena/arena.hpp"
#include "qtree/qtree-list.hpp"

constexpr uint32_t QTREE_HIT = 1;       // callback result: count this object
constexpr uint32_t QTREE_CONTINUE = 2;  // callback result: go on with the next object

struct v2f_t {
  float x;
  float y;
};

struct aabb_t {
  v2f_t min;  // lower left corner
  v2f_t max;  // upper right corner
};

struct node_t {
  v2f_t center;        // centre of the node's box
  node_t *children;    // block of four quadrants, or null for a leaf
  uint32_t n_objects;  // refs in refs
  qtree_link_t refs;   // ref_t records by node_link, oldest first
};

struct qtree_object_t;

struct ref_t {
  qtree_link_t node_link;    // place in the leaf's refs
  qtree_link_t object_link;  // place in the object's refs
  qtree_object_t *object;    // the object
  node_t *node;              // the leaf; null while not linked
};

struct qtree_object_t {
  qtree_link_t refs;         // ref_t records by object_link
  v2f_t offset;              // placement offset; zero unless given
  v2f_t align;               // placement alignment in half-sizes; zero unless given
  aabb_t aabb;               // the object's box
  void *data;                // the caller's pointer, handed to search callbacks
  qtree_link_t hit_links[];  // max_asip links, one per search nesting level;
                             // empty outside box searches
};

struct qtree_t {
  arena_t *node_arena;    // blocks of four child nodes
  arena_t *ref_arena;     // ref_t records
  arena_t *object_arena;  // qtree_object_t records with their hit links
  aabb_t aabb;            // root box
  uint32_t max_objects;   // a leaf with more refs splits ...
  uint32_t max_depth;     // ... unless it is this many levels below the root
  uint32_t max_asip;      // most box searches in progress at once
  uint32_t asip;          // box searches in progress; 0 between searches
  node_t root;            // always present
};

static_assert(sizeof(v2f_t) == 8);
static_assert(sizeof(aabb_t) == 16);
static_assert(offsetof(aabb_t, max) == 8);
// Four children make the largest block the tree asks an arena for.
static_assert(sizeof(node_t) == 40);
static_assert(offsetof(node_t, children) == 8);
static_assert(offsetof(node_t, refs) == 24);
static_assert(sizeof(ref_t) == 48);
static_assert(offsetof(ref_t, object_link) == 16);
static_assert(offsetof(ref_t, object) == 32);
static_assert(offsetof(ref_t, node) == 40);
// The hit links follow the fixed part directly; the record is sized at run time.
static_assert(sizeof(qtree_object_t) == 56);
static_assert(offsetof(qtree_object_t, offset) == 16);
static_assert(offsetof(qtree_object_t, aabb) == 32);
static_assert(offsetof(qtree_object_t, data) == 48);
static_assert(offsetof(qtree_object_t, hit_links) == 56);
static_assert(offsetof(qtree_t, aabb) == 24);
static_assert(offsetof(qtree_t, asip) == 52);
static_assert(offsetof(qtree_t, root) == 56);

// Search callback: ctx as given to the search, the object found, pointers to
// its offset and box (read only), its data. Returns QTREE_HIT | QTREE_CONTINUE bits.
typedef uint32_t (*qtree_search_cb_t)(void *ctx, qtree_object_t *object, const v2f_t *offset,
                                      const aabb_t *aabb, void *data);

// A new index over aabb (null: (-1, -1)..(1, 1)) with its limits; null when out of memory.
qtree_t *qtree_new(const aabb_t *aabb, uint32_t max_objects, uint32_t max_depth, uint32_t max_asip);
// Drop every object and ref at once; the root becomes one empty leaf, box and limits stay.
void qtree_reset(qtree_t *qtree);
// Destroy the index with its arenas.
void qtree_free(qtree_t *qtree);
// A new object placed at (object_aabb, offset, align); null when out of memory.
// An object placed wholly outside the root box exists but is in no node.
qtree_object_t *qtree_object_new(qtree_t *qtree, const v2f_t *offset, const v2f_t *align,
                                 const aabb_t *object_aabb, void *data);
// Replace the given parts of the placement and re-insert; null (object gone) when out of memory.
qtree_object_t *qtree_object_move(qtree_t *qtree, qtree_object_t *object, const v2f_t *offset,
                                  const v2f_t *align, const aabb_t *object_aabb);
// Remove an object and release its record.
void qtree_object_free(qtree_t *qtree, qtree_object_t *object);
// Call cb once per object overlapping the placed search box; the number counted.
uint32_t qtree_search_by_aabb(qtree_t *qtree, const v2f_t *offset, const v2f_t *align,
                              const aabb_t *search_aabb, qtree_search_cb_t cb, void *ctx);
// Call cb once per object whose placed box contains point; the number counted.
uint32_t qtree_search_by_point(qtree_t *qtree, const v2f_t *point, qtree_search_cb_t cb, void *ctx);
