// A reference model of one quadtree, driven by a stream of bytes: the random
// model test and the fuzz entry both run qtree_model_run, which aborts with the
// failed check at the first difference.
//
// The model keeps the objects in the order of their last insertion. After
// every change the real tree must have the contract's shape and centres: a
// node is inner exactly when, below max_depth, more than max_objects objects
// once overlapped it (nothing merges); each leaf holds exactly the objects
// whose placed box overlaps its closed box, in insertion order; outside
// searches no hit link is in use; the arenas hold exactly the live records. A
// box search reports the objects in the order a depth-first walk over
// quadrants 0..3 last met them, a point search those of the one leaf its point
// leads to, in that leaf's order. Box-search callbacks add, move and free
// objects and nest searches as the contract allows. With the allocation guard,
// a chosen calloc fails: in qtree_new, or while an object is added (which
// ends the run, since the other objects are then unsettled).
#pragma once

#include <cmath>

#include "../libarena/tests/arena-model.hpp"
#include "qtree/qtree.hpp"

inline aabb_t qm_place(const aabb_t &b, v2f_t o, v2f_t a)
{  // in the contract's order of operations
  const float sx = ((b.max.x - b.min.x) * 0.5f) * a.x, sy = ((b.max.y - b.min.y) * 0.5f) * a.y;
  return {{(b.min.x + o.x) + sx, (b.min.y + o.y) + sy}, {(b.max.x + o.x) + sx, (b.max.y + o.y) + sy}};
}
inline bool qm_overlap(const aabb_t &a, const aabb_t &b)
{
  return a.max.x >= b.min.x && b.max.x >= a.min.x && a.max.y >= b.min.y && b.max.y >= a.min.y;
}
inline v2f_t qm_centre(const aabb_t &b) { return {b.min.x + (b.max.x - b.min.x) * 0.5f, b.min.y + (b.max.y - b.min.y) * 0.5f}; }
inline aabb_t qm_quadrant(const aabb_t &b, int k)
{  // 0 upper left, 1 upper right, 2 lower left, 3 lower right
  const v2f_t c = qm_centre(b);
  const aabb_t q[4] = {{{b.min.x, c.y}, {c.x, b.max.y}}, {c, b.max}, {b.min, c}, {{c.x, b.min.y}, {b.max.x, c.y}}};
  return q[k];
}
// Live blocks of an arena: its used chunks' counts, less the current chunk's own reference.
inline uint32_t arena_live(arena_t *a)
{
  uint32_t n = -uint32_t(a->chunk != nullptr);
  for (arena_link_t *l = a->used_chunks.next; l != &a->used_chunks; l = l->next) n += arena_list_entry(l, chunk_t, link)->n_refs;
  return n;
}

inline const struct qtree_config_t {
  aabb_t root;
  bool null_box;
  uint32_t max_objects, max_depth, max_asip;
} QTREE_CONFIGS[] = {
    {{{-1, -1}, {1, 1}}, true, 4, 4, 1}, {{{-3, -1}, {5, 2}}, false, 2, 5, 2}, {{{-0.3f, 0.1f}, {0.7f, 1.9f}}, false, 1, 6, 3}, {{{-1, -1}, {1, 1}}, false, 0, 3, 12}, {{{-1, -1}, {1, 1}}, false, 4, 0, 1}, {{{0.5f, 0.5f}, {0.5f, 0.5f}}, false, 1, 2, 2}, {{{-1, -1}, {1, 1}}, false, 0, 1, 1}};

struct qtree_model_t {
  struct obj_m {
    qtree_object_t *o;
    aabb_t box;
    v2f_t offset, align;
    void *data;
  };
  struct search_m {
    std::vector<qtree_object_t *> order;
    size_t next;
    uint32_t count;
    bool stopped, point;
  };
  qtree_t *q;
  aabb_t root;
  model_bytes_t *in;                   // the index, its root box, the decisions
  std::vector<obj_m> objs{};           // in the order of their last insertion
  std::map<node_t *, size_t> ever{};   // the most objects each node's box has overlapped
  search_m searches[16]{};             // in progress, outermost first
  uint32_t depth = 0, serial = 0;      // searches in progress; the last data pointer handed out
  bool armed = false, failed = false;  // armed: an add may meet a failing calloc

  aabb_t placed(size_t i) { return qm_place(objs[i].box, objs[i].offset, objs[i].align); }
  size_t index(qtree_object_t *o)
  {
    size_t i = 0;
    while (i < objs.size() && objs[i].o != o) i++;
    return i;
  }

  // Coordinates on the root's sixteenth grid (its edges, centre lines, a step
  // beyond) or anywhere near it; boxes of one point or two.
  float coord(float lo, float hi)
  {
    const uint32_t c = in->u8();
    return lo + (hi - lo) * (c < 160 ? float(int(c % 21) - 2) / 16 : float(c - 160) / 63 - 0.25f);
  }
  v2f_t point() { return {coord(root.min.x, root.max.x), coord(root.min.y, root.max.y)}; }
  aabb_t box()
  {
    const v2f_t a = point(), b = in->u8() & 1 ? a : point();
    return {{std::min(a.x, b.x), std::min(a.y, b.y)}, {std::max(a.x, b.x), std::max(a.y, b.y)}};
  }
  // Null (the slot keeps its value) or a pair from a table with NaN and infinity.
  const v2f_t *vec(v2f_t *slot)
  {
    static const float v[16] = {0, 0, 0.5f, -0.5f, -1, 1, -2, 2, 0.25f, -0.25f, 0.125f, 0.75f, -1.5f, 0.3f, NAN, INFINITY};
    const uint32_t c = in->u8();
    return c < 96 ? nullptr : &(*slot = {v[c % 16], v[c / 16 % 16]});
  }

  void add()
  {
    obj_m m{nullptr, box(), {}, {}, reinterpret_cast<void *>(uintptr_t(++serial))};
    const v2f_t *offset = vec(&m.offset), *align = vec(&m.align);
    if (!(m.o = qtree_object_new(q, offset, align, &m.box, m.data))) return fail();
    objs.push_back(m), walk(&q->root, root, 0);
  }
  void move(size_t i)
  {
    obj_m m = objs[i];
    const v2f_t *offset = vec(&m.offset), *align = vec(&m.align);
    MODEL_CHECK(qtree_object_move(q, m.o, offset, align, in->u8() & 1 ? &(m.box = box()) : nullptr) == m.o);
    objs.erase(objs.begin() + long(i)), objs.push_back(m), walk(&q->root, root, 0);
  }
  void free(size_t i) { qtree_object_free(q, objs[i].o), objs.erase(objs.begin() + long(i)), walk(&q->root, root, 0); }
  // The failed object is gone: its record is back and no ref in any node, inner ones too, names it.
  // The other objects are unsettled, so the run ends.
  void fail()
  {
    MODEL_CHECK(armed && !calloc_fail && arena_live(q->object_arena) <= objs.size());
    strangers(&q->root), failed = true, in->p = in->end;
  }
  void strangers(node_t *n)
  {
    for (int k = 0; n->children && k < 4; k++) strangers(&n->children[k]);
    for (qtree_link_t *l = n->refs.next; l != &n->refs; l = l->next)
      MODEL_CHECK(index(qtree_list_entry(l, ref_t, node_link)->object) < objs.size());
  }

  // A hit moves to the end of the order, so the last leaf that meets it places it.
  void collect(node_t *r, const aabb_t &box, const aabb_t &s, std::vector<qtree_object_t *> &order)
  {
    for (int k = 0; r->children && k < 4; k++) collect(&r->children[k], qm_quadrant(box, k), s, order);
    for (size_t i = 0; !r->children && qm_overlap(box, s) && i < objs.size(); i++)
      if (qm_overlap(placed(i), box) && qm_overlap(placed(i), s))
        order.erase(std::remove(order.begin(), order.end(), objs[i].o), order.end()), order.push_back(objs[i].o);
  }
  // A box search, or a point search at the low corner of the box (never NaN,
  // so containing it is overlapping it). Every object that contains the point
  // is in the one leaf searched, so the order is the insertion order.
  void search(bool point)
  {
    v2f_t os{}, as{};
    const aabb_t b = box();
    const v2f_t *offset = point ? nullptr : vec(&os), *align = point ? nullptr : vec(&as);
    search_m &f = searches[depth++] = {{}, 0, 0, false, point};
    for (size_t i = 0; point && qm_overlap(root, {b.min, b.min}) && i < objs.size(); i++)
      if (qm_overlap(placed(i), {b.min, b.min})) f.order.push_back(objs[i].o);
    if (!point) collect(&q->root, root, qm_place(b, os, as), f.order);
    const qtree_search_cb_t cb = in->u8() & 1 ? visit : nullptr;
    const uint32_t count = point ? qtree_search_by_point(q, &b.min, cb, this) : qtree_search_by_aabb(q, offset, align, &b, cb, this);
    depth--;
    MODEL_CHECK(count == (cb ? f.count : f.order.size()) && (!cb || f.stopped || f.next == f.order.size()));
  }
  static uint32_t visit(void *ctx, qtree_object_t *o, const v2f_t *offset, const aabb_t *aabb, void *data)
  {
    qtree_model_t &m = *static_cast<qtree_model_t *>(ctx);
    search_m &f = m.searches[m.depth - 1];
    qtree_link_t *hit = &o->hit_links[m.depth - 1];  // taken out of the list of hits before its callback
    MODEL_CHECK(!f.stopped && f.next < f.order.size() && o == f.order[f.next++] && offset == &o->offset && aabb == &o->aabb &&
                data == o->data && m.q->asip == (f.point ? 0 : m.depth) && (f.point || (hit->next == hit && hit->prev == hit)));
    const uint32_t r = m.in->u8(), act = f.point ? 0 : r / 4 % 5;
    f.count += r & QTREE_HIT, f.stopped = !(r & QTREE_CONTINUE);
    if (act == 1 && m.objs.size() < 40)
      m.add();
    else if (act == 2)
      m.move(m.in->u8() % m.objs.size());
    else if (act == 3 && m.depth == 1)
      m.free(m.index(o));  // an inner search's object may still wait in an outer one
    else if (act == 4 && m.depth < m.q->max_asip)
      m.search(false);
    return r & 3;
  }

  size_t walk(node_t *r, const aabb_t &box, uint32_t level)
  {  // the refs below r
    size_t &most = ever[r], count = 0, total = 0;
    qtree_link_t *l = &r->refs;
    for (size_t i = 0; i < objs.size(); i++)
      if (qm_overlap(placed(i), box) && ++count && !r->children) {
        const ref_t *ref = qtree_list_entry(l = l->next, ref_t, node_link);
        MODEL_CHECK(l != &r->refs && ref->object == objs[i].o && ref->node == r), total++;
      }
    most = std::max(most, count);
    MODEL_CHECK(r->center.x == qm_centre(box).x && r->center.y == qm_centre(box).y && l->next == &r->refs && r->n_objects == total &&
                !r->children == !(most > q->max_objects && level < q->max_depth));
    for (int k = 0; r->children && k < 4; k++) total += walk(&r->children[k], qm_quadrant(box, k), level + 1);
    return total;
  }
  // The current chunk is carved only in blocks of one size (nodes by four, refs, objects with their
  // links), and nothing was written past the last block: the rest is still zero.
  static bool carved_by(const arena_t *a, size_t size)
  {
    const uint8_t *data = a->chunk ? arena_chunk_data(a->chunk) : nullptr;
    return !data || (a->chunk->next_offset % ((size + 15) & ~7u) == 0 &&
                     std::all_of(data + a->chunk->next_offset, data + a->chunk_size, [](uint8_t b) { return b == 0; }));
  }
  void check()
  {
    MODEL_CHECK(q->asip == 0 && arena_live(q->ref_arena) == walk(&q->root, root, 0) &&
                arena_live(q->node_arena) == ever.size() / 4 && arena_live(q->object_arena) == objs.size());
    MODEL_CHECK(carved_by(q->node_arena, 4 * sizeof(node_t)) && carved_by(q->ref_arena, sizeof(ref_t)) &&
                carved_by(q->object_arena, sizeof(qtree_object_t) + q->max_asip * sizeof(qtree_link_t)));
    for (const obj_m &m : objs)
      for (uint32_t h = 0; h < q->max_asip; h++) MODEL_CHECK(m.o->hit_links[h].next == &m.o->hit_links[h] && m.o->data == m.data);
  }
};

// One index's life from the bytes: its configuration, then objects created,
// moved, freed and reset, box and point searches, a structure check after
// each. In one run of eight one of qtree_new's callocs fails; in two others,
// objects are only added until one of the next callocs fails (now and then a
// ref while a leaf of several objects splits) or the index holds 40.
inline void qtree_model_run(const uint8_t *data, size_t size)
{
  model_bytes_t in{data, data + size};
  const uint32_t head = in.u8(), mode = ALLOC_GUARDED ? head / 6 % 8 : 0;
  const qtree_config_t &c = QTREE_CONFIGS[head % std::size(QTREE_CONFIGS)];
  calloc_fail = mode == 7 ? 1 + head % 4 : mode >= 5 ? 5 + head % 8
                                                     : 0;  // qtree_new makes four callocs
  qtree_model_t m{qtree_new(c.null_box ? nullptr : &c.root, c.max_objects, c.max_depth, c.max_asip), c.root, &in};
  MODEL_CHECK(!m.q == (mode == 7) && !calloc_fail == (mode < 5 || mode == 7));
  if (!m.q) return;
  MODEL_CHECK(!memcmp(&m.q->aabb, &c.root, 16) && m.q->object_arena->chunk_size == 8192);  // up to 12 hit links
  m.armed = calloc_fail;                                                                   // then only adds, until a calloc fails
  for (uint32_t op; in.p < in.end; m.failed ? void() : m.check()) {
    if (m.armed && m.objs.size() == 40) m.armed = false, calloc_fail = 0;  // the failure did not come
    if (((op = in.u8() % 16) < 5 || m.armed) && m.objs.size() < 40)
      m.add();
    else if (op < 10 && !m.objs.empty())
      op < 8 ? m.move(in.u8() % m.objs.size()) : m.free(in.u8() % m.objs.size());
    else if (op < 15)
      m.search(op > 12);
    else if (in.u8() < 32)
      qtree_reset(m.q), m.objs.clear(), m.ever.clear();
  }
  qtree_free(m.q);
}
