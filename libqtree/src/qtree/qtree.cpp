// qtree: region quadtree of boxes. See qtree.hpp for the contract.
//
// [SECTION] boxes: placement, overlap, containment, quadrants
// [SECTION] records: nodes, refs, objects
// [SECTION] quadrant selection
// [SECTION] insertion and splitting
// [SECTION] searches (internal)
// [SECTION] public: tree and objects
// [SECTION] public: searches
#include "qtree/qtree.hpp"

#include <cassert>
#include <cstdlib>

namespace {

// Chunk sizes ask for 8192 bytes each; the object chunk grows with the
// number of hit links so that it still holds a useful number of objects.
constexpr uint32_t NODE_CHUNK_SIZE = 320;
constexpr uint32_t REF_CHUNK_SIZE = 3072;
constexpr uint32_t OBJECT_CHUNK_UNIT = 512;

const aabb_t DEFAULT_ROOT_AABB = {{-1.0f, -1.0f}, {1.0f, 1.0f}};
const v2f_t ZERO_V2F = {0.0f, 0.0f};

// ---------------------------------------------------------------------------
// [SECTION] boxes
// ---------------------------------------------------------------------------

// The box actually tested: shifted by offset and by align half-sizes. The
// operation order is part of the contract, so that callers can reproduce the
// exact float edges.
inline aabb_t place_aabb(const aabb_t *aabb, const v2f_t *offset, const v2f_t *align)
{
  float shift_x = ((aabb->max.x - aabb->min.x) * 0.5f) * align->x;
  float shift_y = ((aabb->max.y - aabb->min.y) * 0.5f) * align->y;
  return {{(aabb->min.x + offset->x) + shift_x, (aabb->min.y + offset->y) + shift_y},
          {(aabb->max.x + offset->x) + shift_x, (aabb->max.y + offset->y) + shift_y}};
}

inline aabb_t place_object(const qtree_object_t *object)
{
  return place_aabb(&object->aabb, &object->offset, &object->align);
}

// Closed edges; every comparison with a NaN is false, so a NaN never overlaps.
inline bool aabb_overlap(const aabb_t *a, const aabb_t *b)
{
  assert(a);
  assert(b);
  return a->max.x >= b->min.x && b->max.x >= a->min.x && a->max.y >= b->min.y &&
         b->max.y >= a->min.y;
}

// aabb_overlap as 0 or 1, without a branch: for walks that count or note
// hits and must not stop for each result.
inline uint32_t aabb_overlap_bit(const aabb_t &a, const aabb_t &b)
{
  return (a.max.x >= b.min.x) & (b.max.x >= a.min.x) & (a.max.y >= b.min.y) & (b.max.y >= a.min.y);
}

inline bool aabb_contains_point(const aabb_t *aabb, const v2f_t *p)
{
  assert(aabb);
  return !(aabb->min.x > p->x || p->x > aabb->max.x || aabb->min.y > p->y || p->y > aabb->max.y);
}

inline void init_quadrants(aabb_t quadrants[4], const aabb_t *parent_aabb,
                           const v2f_t *quadrants_center)
{
  assert(quadrants);
  assert(parent_aabb);
  assert(quadrants_center);
  const v2f_t lo = parent_aabb->min, c = *quadrants_center, hi = parent_aabb->max;
  quadrants[0] = {{lo.x, c.y}, {c.x, hi.y}};
  quadrants[1] = {{c.x, c.y}, {hi.x, hi.y}};
  quadrants[2] = {{lo.x, lo.y}, {c.x, c.y}};
  quadrants[3] = {{c.x, lo.y}, {hi.x, c.y}};
}

// ---------------------------------------------------------------------------
// [SECTION] records
// ---------------------------------------------------------------------------

void init_node(node_t *node, const aabb_t *aabb)
{
  assert(node);
  assert(aabb);
  node->center.x = aabb->min.x + (aabb->max.x - aabb->min.x) * 0.5f;
  node->center.y = aabb->min.y + (aabb->max.y - aabb->min.y) * 0.5f;
  node->children = nullptr;
  node->n_objects = 0;
  qtree_list_init(&node->refs);
}

void unlink_object_ref(ref_t *ref)
{
  assert(ref);
  if (!ref->node)
    return;
  qtree_list_del(&ref->node_link);
  qtree_list_del(&ref->object_link);
  ref->node->n_objects--;
  ref->object = nullptr;
  ref->node = nullptr;
}

void unlink_object(qtree_object_t *object)
{
  assert(object);
  qtree_link_t *pos, *n;
  qtree_list_for_each_safe(pos, n, &object->refs)
  {
    ref_t *ref = qtree_list_entry(pos, ref_t, object_link);
    unlink_object_ref(ref);
    arena_put(ref);
  }
}

void remove_object(qtree_object_t *object)
{
  assert(object);
  unlink_object(object);
  arena_put(object);
}

// ---------------------------------------------------------------------------
// [SECTION] quadrant selection
// ---------------------------------------------------------------------------
//
// The walks only ever enter a node whose box overlaps the placed box p, so p
// already reaches past the node's outer edges; which quadrants p overlaps
// then depends on the centre alone. These four comparisons give exactly the
// results of the overlap test against the quadrant boxes, without building
// the boxes.

struct sides_t {
  bool west;   // p reaches the left half: c.x >= p.min.x
  bool east;   // p reaches the right half: p.max.x >= c.x
  bool north;  // p reaches the upper half: p.max.y >= c.y
  bool south;  // p reaches the lower half: c.y >= p.min.y
};

inline sides_t sides(const v2f_t &c, const aabb_t &p)
{
  return {c.x >= p.min.x, p.max.x >= c.x, p.max.y >= c.y, c.y >= p.min.y};
}

inline bool in_quadrant(const sides_t &s, int i)
{
  switch (i) {
  case 0:
    return s.west && s.north;
  case 1:
    return s.east && s.north;
  case 2:
    return s.west && s.south;
  default:
    return s.east && s.south;
  }
}

// Box of quadrant i of a node (same edges as init_quadrants).
inline aabb_t quadrant_aabb(const aabb_t &box, const v2f_t &c, int i)
{
  switch (i) {
  case 0:
    return {{box.min.x, c.y}, {c.x, box.max.y}};
  case 1:
    return {{c.x, c.y}, {box.max.x, box.max.y}};
  case 2:
    return {{box.min.x, box.min.y}, {c.x, c.y}};
  default:
    return {{c.x, box.min.y}, {box.max.x, c.y}};
  }
}

// ---------------------------------------------------------------------------
// [SECTION] insertion and splitting
// ---------------------------------------------------------------------------
//
// Failure protocol: a call that returns null has already removed the object
// it was inserting, exactly once; callers above it only pass the null on.
// The object's box is placed once per insertion and handed down; the depth
// travels by pointer into add_object and split_node, like the other
// arguments that must be given; the recursion itself passes values.

qtree_object_t *add_placed(qtree_t *qtree, uint32_t depth, node_t *node, aabb_t node_aabb,
                           qtree_object_t *object, const aabb_t &placed, ref_t **spare);

qtree_object_t *split_node(qtree_t *qtree, const uint32_t *depth, node_t *node,
                           const aabb_t *node_aabb, qtree_object_t *object)
{
  assert(depth);
  assert(!node->children);
  node_t *children = static_cast<node_t *>(arena_get(qtree->node_arena, 4 * sizeof(node_t)));
  if (!children) {
    remove_object(object);
    return nullptr;
  }
  node->children = children;
  aabb_t quadrants[4];
  init_quadrants(quadrants, node_aabb, &node->center);
  for (int i = 0; i < 4; i++)
    init_node(&children[i], &quadrants[i]);

  const uint32_t child_depth = *depth + 1;
  qtree_link_t *pos, *n;
  qtree_list_for_each_safe(pos, n, &node->refs)
  {
    ref_t *ref = qtree_list_entry(pos, ref_t, node_link);
    qtree_object_t *o = ref->object;
    const aabb_t placed = place_object(o);
    const sides_t s = sides(node->center, placed);
    // The first quadrant to take o moves this ref down; the others take new ones.
    ref_t *slot = ref;
    for (int i = 0; i < 4; i++) {
      if (!in_quadrant(s, i))
        continue;
      if (!add_placed(qtree, child_depth, &children[i], quadrants[i], o, placed, &slot)) {
        if (o != object)
          remove_object(object);
        return nullptr;
      }
    }
  }
  return object;
}

qtree_object_t *add_placed(qtree_t *qtree, uint32_t depth, node_t *node, aabb_t node_aabb,
                           qtree_object_t *object, const aabb_t &placed, ref_t **spare)
{
  while (node->children) {
    const sides_t s = sides(node->center, placed);
    // Down at once while the box meets one quadrant only, which is most
    // nodes for boxes smaller than the leaves; otherwise into each it meets.
    if (s.west != s.east && s.north != s.south) {
      const int i = (s.east ? 1 : 0) + (s.south ? 2 : 0);
      node_aabb = quadrant_aabb(node_aabb, node->center, i);
      node = &node->children[i];
      depth++;
      continue;
    }
    for (int i = 0; i < 4; i++) {
      if (in_quadrant(s, i) &&
          !add_placed(qtree, depth + 1, &node->children[i],
                      quadrant_aabb(node_aabb, node->center, i), object, placed, spare))
        return nullptr;
    }
    return object;
  }

  ref_t *ref;
  if (spare && *spare) {
    ref = *spare;
    *spare = nullptr;
    unlink_object_ref(ref);
  } else {
    ref = static_cast<ref_t *>(arena_get(qtree->ref_arena, sizeof(ref_t)));
    if (!ref) {
      remove_object(object);
      return nullptr;
    }
  }
  qtree_list_add_tail(&ref->object_link, &object->refs);
  qtree_list_add_tail(&ref->node_link, &node->refs);
  ref->object = object;
  ref->node = node;
  node->n_objects++;

  if (node->n_objects <= qtree->max_objects || depth >= qtree->max_depth)
    return object;
  return split_node(qtree, &depth, node, &node_aabb, object);
}

// Insert into the subtree of node, whose box overlaps the object's placed box.
qtree_object_t *add_object(qtree_t *qtree, const uint32_t *depth, node_t *node,
                           const aabb_t *node_aabb, qtree_object_t *object, const aabb_t &placed)
{
  assert(qtree);
  assert(depth);
  assert(node);
  assert(node_aabb);
  assert(object);
  return add_placed(qtree, *depth, node, *node_aabb, object, placed, nullptr);
}

// Steps shared by creation and moving: index the object if it reaches the root box.
qtree_object_t *insert_object(qtree_t *qtree, qtree_object_t *object)
{
  const aabb_t placed = place_object(object);
  if (!aabb_overlap(&placed, &qtree->aabb))
    return object;
  const uint32_t depth = 0;
  return add_object(qtree, &depth, &qtree->root, &qtree->aabb, object, placed);
}

// ---------------------------------------------------------------------------
// [SECTION] searches (internal)
// ---------------------------------------------------------------------------

inline qtree_object_t *hit_object(qtree_link_t *link, uint32_t level)
{
  return reinterpret_cast<qtree_object_t *>(reinterpret_cast<char *>(link - level) -
                                            offsetof(qtree_object_t, hit_links));
}

// A box search walks the tree depth first. Walking a leaf's refs is a chain
// of dependent loads, each waiting for the ref before it. A leaf of a few
// refs is walked at once; larger leaves are queued, up to WAYS of them, and
// then walked side by side, so that their chains wait on memory together
// rather than one after the other. Each queued leaf holds back the objects
// it finds until the leaves before it are done, so the list of hits grows
// exactly as it would one leaf after the other.
//
// A leaf walked at once is tested without a branch on each result too: what
// overlaps is noted and appended after the walk. Which refs of a leaf hit is
// as good as random, so a branch per ref would be mispredicted often and
// would stop the walk each time. In a leaf of three refs or fewer the branch
// wins: it is mostly predicted right (a search meets its own object and
// little else there), and the appends need not wait for the tests.
constexpr uint32_t FEW = 8;     // refs of a leaf walked at once
constexpr uint32_t BRANCH = 3;  // refs of a leaf tested with a branch each
constexpr uint32_t WAYS = 4;    // larger leaves walked side by side
constexpr uint32_t HELD = 64;   // objects a queued leaf may hold back before it pauses

struct collect_t {
  aabb_t placed;       // the placed search box
  qtree_link_t *hits;  // the list of hits
  uint32_t level;      // which hit link the search uses
  uint32_t n_queued;   // leaves queued, in walk order
  node_t *queued[WAYS];
  qtree_object_t *found[FEW];  // hits of a leaf walked at once, in walk order
};

// Move an object's hit link to the tail of the list of hits: one entry per
// object, at the place where the walk met it last.
inline void append_hit(qtree_object_t *o, qtree_link_t *hits, uint32_t level)
{
  qtree_link_t *link = &o->hit_links[level];
  if (hits->prev == link)
    return;  // already last
  // Out of the list of hits, or out of itself when not met before.
  link->next->prev = link->prev;
  link->prev->next = link->next;
  qtree_list_add_tail(link, hits);
}

// One queued leaf being walked.
struct way_t {
  qtree_link_t *pos;   // the next ref to test; head once the leaf is done
  qtree_link_t *head;  // the leaf's refs
  uint32_t n_held;     // objects found and not appended yet
  qtree_object_t *held[HELD];
};

// Walk the queued leaves to their ends, in rounds: every leaf that is not
// done and has room tests its next ref. The overlap test sets no branch, it
// only moves a count, so no round waits on an object's box. The first leaf
// not done appends what it holds whenever it is full; a later one waits for
// its turn, which comes when every leaf before it is done.
void walk_queued(collect_t *c)
{
  const aabb_t s = c->placed;
  way_t ways[WAYS];
  for (uint32_t k = 0; k < c->n_queued; k++) {
    ways[k].pos = c->queued[k]->refs.next;
    ways[k].head = &c->queued[k]->refs;
    ways[k].n_held = 0;
  }
  uint32_t first = 0;
  while (first < c->n_queued) {
    for (uint32_t k = first; k < c->n_queued; k++) {
      way_t *w = &ways[k];
      if (w->pos == w->head || w->n_held == HELD)
        continue;
      qtree_object_t *o = qtree_list_entry(w->pos, ref_t, node_link)->object;
      const aabb_t p = place_object(o);
      const uint32_t n = w->n_held;
      w->held[n] = o;
      w->n_held = n + aabb_overlap_bit(p, s);
      w->pos = w->pos->next;
    }
    way_t *w = &ways[first];
    if (w->pos == w->head || w->n_held == HELD) {
      for (uint32_t k = 0; k < w->n_held; k++)
        append_hit(w->held[k], c->hits, c->level);
      w->n_held = 0;
    }
    if (w->pos == w->head)
      first++;
  }
  c->n_queued = 0;
}

void collect_leaf(node_t *leaf, collect_t *c)
{
  if (leaf->n_objects > FEW) {
    c->queued[c->n_queued++] = leaf;
    if (c->n_queued == WAYS)
      walk_queued(c);
    return;
  }
  if (c->n_queued)
    walk_queued(c);  // the leaves queued before this one come first
  if (leaf->n_objects <= BRANCH) {
    for (qtree_link_t *pos = leaf->refs.next; pos != &leaf->refs; pos = pos->next) {
      qtree_object_t *o = qtree_list_entry(pos, ref_t, node_link)->object;
      const aabb_t p = place_object(o);
      if (aabb_overlap(&p, &c->placed))
        append_hit(o, c->hits, c->level);
    }
    return;
  }
  const aabb_t s = c->placed;
  uint32_t n = 0;
  for (qtree_link_t *pos = leaf->refs.next; pos != &leaf->refs; pos = pos->next) {
    qtree_object_t *o = qtree_list_entry(pos, ref_t, node_link)->object;
    const aabb_t p = place_object(o);
    c->found[n] = o;
    n += aabb_overlap_bit(p, s);
  }
  for (uint32_t k = 0; k < n; k++)
    append_hit(c->found[k], c->hits, c->level);
}

// Depth first, quadrants 0 to 3; node boxes are not needed, only centres.
void collect_hits(node_t *node, collect_t *c)
{
  while (node->children) {
    const sides_t s = sides(node->center, c->placed);
    if (s.west != s.east && s.north != s.south) {
      node = &node->children[(s.east ? 1 : 0) + (s.south ? 2 : 0)];
      continue;
    }
    for (int i = 0; i < 4; i++)
      if (in_quadrant(s, i))
        collect_hits(&node->children[i], c);
    return;
  }
  collect_leaf(node, c);
}

// Collect below node, whose box node_aabb overlaps the placed search box.
void search_node_by_aabb(node_t *node, const aabb_t *node_aabb, const aabb_t *search_aabb,
                         uint32_t level, qtree_link_t *hits)
{
  assert(node);
  assert(node_aabb);
  assert(search_aabb);
  assert(hits);
  collect_t c;
  c.placed = *search_aabb;
  c.hits = hits;
  c.level = level;
  c.n_queued = 0;
  collect_hits(node, &c);
  if (c.n_queued)
    walk_queued(&c);
}

// Apply a callback result to the count; false when the search stops.
inline bool take_result(uint32_t result, uint32_t *count)
{
  if (result > (QTREE_HIT | QTREE_CONTINUE))
    assert(0);
  if (result & QTREE_HIT)
    (*count)++;
  return result & QTREE_CONTINUE;
}

}  // namespace

// ---------------------------------------------------------------------------
// [SECTION] public: tree and objects
// ---------------------------------------------------------------------------

qtree_t *qtree_new(const aabb_t *aabb, uint32_t max_objects, uint32_t max_depth, uint32_t max_asip)
{
  qtree_t *qtree = static_cast<qtree_t *>(calloc(1, sizeof(qtree_t)));
  if (!qtree)
    return nullptr;
  if (!aabb)
    aabb = &DEFAULT_ROOT_AABB;
  init_node(&qtree->root, aabb);
  qtree->aabb = *aabb;
  qtree->max_objects = max_objects;
  qtree->max_depth = max_depth;
  qtree->max_asip = max_asip;
  qtree->node_arena = arena_new(NODE_CHUNK_SIZE, ARENA_ZERO_FILL);
  if (qtree->node_arena)
    qtree->ref_arena = arena_new(REF_CHUNK_SIZE, ARENA_ZERO_FILL);
  if (qtree->ref_arena)
    qtree->object_arena = arena_new((max_asip + 4) * OBJECT_CHUNK_UNIT, ARENA_ZERO_FILL);
  if (!qtree->object_arena) {
    if (qtree->ref_arena)
      arena_free(qtree->ref_arena);
    if (qtree->node_arena)
      arena_free(qtree->node_arena);
    free(qtree);
    return nullptr;
  }
  return qtree;
}

void qtree_reset(qtree_t *qtree)
{
  assert(qtree);
  arena_reset(qtree->node_arena);
  arena_reset(qtree->ref_arena);
  arena_reset(qtree->object_arena);
  init_node(&qtree->root, &qtree->aabb);
}

void qtree_free(qtree_t *qtree)
{
  assert(qtree);
  arena_free(qtree->node_arena);
  arena_free(qtree->ref_arena);
  arena_free(qtree->object_arena);
  free(qtree);
}

qtree_object_t *qtree_object_new(qtree_t *qtree, const v2f_t *offset, const v2f_t *align,
                                 const aabb_t *object_aabb, void *data)
{
  assert(qtree);
  assert(object_aabb);
  assert(object_aabb->min.x <= object_aabb->max.x);
  assert(object_aabb->min.y <= object_aabb->max.y);
  qtree_object_t *object = static_cast<qtree_object_t *>(
      arena_get(qtree->object_arena,
                uint32_t(sizeof(qtree_object_t) + qtree->max_asip * sizeof(qtree_link_t))));
  if (!object)
    return nullptr;
  qtree_list_init(&object->refs);
  for (uint32_t i = 0; i < qtree->max_asip; i++)
    qtree_list_init(&object->hit_links[i]);
  if (offset)
    object->offset = *offset;
  if (align)
    object->align = *align;
  object->aabb = *object_aabb;
  object->data = data;
  return insert_object(qtree, object);
}

qtree_object_t *qtree_object_move(qtree_t *qtree, qtree_object_t *object, const v2f_t *offset,
                                  const v2f_t *align, const aabb_t *object_aabb)
{
  assert(qtree);
  assert(object);
  assert(!object_aabb || object_aabb->min.x <= object_aabb->max.x);
  assert(!object_aabb || object_aabb->min.y <= object_aabb->max.y);
  unlink_object(object);
  if (offset)
    object->offset = *offset;
  if (align)
    object->align = *align;
  if (object_aabb)
    object->aabb = *object_aabb;
  return insert_object(qtree, object);
}

void qtree_object_free(qtree_t *qtree, qtree_object_t *object)
{
  assert(qtree);
  assert(object);
  remove_object(object);
}

// ---------------------------------------------------------------------------
// [SECTION] public: searches
// ---------------------------------------------------------------------------

uint32_t qtree_search_by_aabb(qtree_t *qtree, const v2f_t *offset, const v2f_t *align,
                              const aabb_t *search_aabb, qtree_search_cb_t cb, void *ctx)
{
  assert(qtree);
  assert(search_aabb);
  assert(qtree->asip < qtree->max_asip);
  const uint32_t level = qtree->asip;
  qtree->asip++;
  if (!offset)
    offset = &ZERO_V2F;
  if (!align)
    align = &ZERO_V2F;

  // Every hit is collected before the first callback runs, so callbacks may
  // change the tree without disturbing the walk.
  qtree_link_t hits;
  qtree_list_init(&hits);
  const aabb_t placed = place_aabb(search_aabb, offset, align);
  if (aabb_overlap(&placed, &qtree->aabb))
    search_node_by_aabb(&qtree->root, &qtree->aabb, &placed, level, &hits);

  uint32_t count = 0;
  qtree_link_t *pos, *n;
  if (!cb) {
    // No callback runs, so nothing can watch the list shrink: each link is
    // only left empty; the head lives in this frame and ends with it.
    qtree_list_for_each_safe(pos, n, &hits)
    {
      qtree_list_init(pos);
      count++;
    }
  } else {
    qtree_list_for_each_safe(pos, n, &hits)
    {
      qtree_list_del(pos);
      qtree_object_t *o = hit_object(pos, level);
      if (!take_result(cb(ctx, o, &o->offset, &o->aabb, o->data), &count))
        break;
    }
    // After a stop, the links still waiting must be emptied for the next search.
    qtree_list_for_each_safe(pos, n, &hits) qtree_list_del(pos);
  }
  qtree->asip = level;
  return count;
}

uint32_t qtree_search_by_point(qtree_t *qtree, const v2f_t *point, qtree_search_cb_t cb, void *ctx)
{
  assert(qtree);
  assert(point);
  if (!aabb_contains_point(&qtree->aabb, point))
    return 0;
  node_t *node = &qtree->root;
  aabb_t node_aabb = qtree->aabb;
  while (node->children) {
    aabb_t quadrants[4];
    init_quadrants(quadrants, &node_aabb, &node->center);
    int i = 0;
    while (i < 3 && !aabb_contains_point(&quadrants[i], point))
      i++;
    node = &node->children[i];
    node_aabb = quadrants[i];
  }
  uint32_t count = 0;
  qtree_link_t *pos, *n;
  qtree_list_for_each_safe(pos, n, &node->refs)
  {
    qtree_object_t *o = qtree_list_entry(pos, ref_t, node_link)->object;
    const aabb_t placed = place_object(o);
    if (!aabb_contains_point(&placed, point))
      continue;
    if (!cb) {
      count++;
      continue;
    }
    if (!take_result(cb(ctx, o, &o->offset, &o->aabb, o->data), &count))
      break;
  }
  return count;
}
