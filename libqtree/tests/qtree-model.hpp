// A reference model of one quadtree, driven by a stream of bytes: the random
// model test and the fuzz entry both run qtree_model_run, which aborts with the
// failed check at the first difference.
//
// The model keeps the objects in the order of their last insertion and the
// split shape as a tree of boxes, from the contract alone: a leaf below
// max_depth splits once more than max_objects objects overlap it, and nothing
// merges. After every operation the real tree has that shape and those
// centres, each leaf holds exactly the objects whose placed box overlaps its
// closed box, in insertion order, no hit link is in use, and the arenas hold
// exactly the live records. A box search reports the objects in the order a
// depth-first walk over quadrants 0..3 last met them, a point search those of
// the one leaf its point leads to, in that leaf's order. Box-search callbacks
// add, move and free objects and nest searches as the contract allows.
#pragma once

#include <cmath>

#include "../libarena/tests/arena-model.hpp"
#include "qtree/qtree.hpp"

inline aabb_t qm_place(const aabb_t &b, v2f_t o, v2f_t a) {  // in the contract's order of operations
  const float sx = ((b.max.x - b.min.x) * 0.5f) * a.x, sy = ((b.max.y - b.min.y) * 0.5f) * a.y;
  return {{(b.min.x + o.x) + sx, (b.min.y + o.y) + sy}, {(b.max.x + o.x) + sx, (b.max.y + o.y) + sy}};
}
inline bool qm_overlap(const aabb_t &a, const aabb_t &b) {
  return a.max.x >= b.min.x && b.max.x >= a.min.x && a.max.y >= b.min.y && b.max.y >= a.min.y;
}
inline bool qm_contains(const aabb_t &a, v2f_t p) { return !(a.min.x > p.x || p.x > a.max.x || a.min.y > p.y || p.y > a.max.y); }
inline v2f_t qm_centre(const aabb_t &b) { return {b.min.x + (b.max.x - b.min.x) * 0.5f, b.min.y + (b.max.y - b.min.y) * 0.5f}; }

// Live blocks of an arena: its used chunks' counts, less the current chunk's own reference.
inline uint32_t arena_live(arena_t *a) {
  uint32_t n = 0;
  for (chunk_t *c : arena_chunks(&a->used_chunks))
    n += c->n_refs - (c == a->chunk);
  return n;
}

struct qtree_config_t { aabb_t root; bool null_box; uint32_t max_objects, max_depth, max_asip; };
inline const qtree_config_t QTREE_CONFIGS[] = {
    {{{-1, -1}, {1, 1}}, true, 4, 4, 1},  // the game's
    {{{-3, -1}, {5, 2}}, false, 2, 5, 2}, {{{-0.3f, 0.1f}, {0.7f, 1.9f}}, false, 1, 6, 3},
    {{{-1, -1}, {1, 1}}, false, 0, 3, 12}, {{{-1, -1}, {1, 1}}, false, 4, 0, 1}, {{{0.5f, 0.5f}, {0.5f, 0.5f}}, false, 1, 2, 2}};

struct qtree_model_t {
  struct obj_m { qtree_object_t *o; aabb_t box; v2f_t offset, align; void *data; };
  struct node_m { aabb_t box; uint32_t depth; size_t kids; };  // kids: the first of four, 0 for a leaf
  struct search_m { std::vector<qtree_object_t *> order; size_t next; uint32_t count; bool stopped, point; };
  qtree_t *q;
  aabb_t root;
  model_bytes_t *in;
  std::vector<obj_m> objs{};    // in the order of their last insertion
  std::vector<node_m> nodes{};  // nodes[0] is the root
  search_m searches[16]{};      // in progress, outermost first
  uint32_t depth = 0, serial = 0;

  aabb_t placed(size_t i) { return qm_place(objs[i].box, objs[i].offset, objs[i].align); }
  bool in_leaf(size_t i, size_t n) { return !nodes[n].kids && qm_overlap(placed(i), nodes[n].box); }
  void split(size_t n) {
    size_t count = 0;
    for (size_t i = 0; i < objs.size(); i++)
      count += in_leaf(i, n);
    if (count > q->max_objects && nodes[n].depth < q->max_depth) {
      const node_m m = nodes[n];
      const v2f_t c = qm_centre(m.box);
      nodes[n].kids = nodes.size();
      for (const aabb_t &b : {aabb_t{{m.box.min.x, c.y}, {c.x, m.box.max.y}}, aabb_t{c, m.box.max}, aabb_t{m.box.min, c},
                              aabb_t{{c.x, m.box.min.y}, {m.box.max.x, c.y}}})
        nodes.push_back({b, m.depth + 1, 0});
    }
    for (size_t k = nodes[n].kids; k && k < nodes[n].kids + 4; k++)
      split(k);
  }

  // Points on the root's sixteenth grid (its edges, centre lines, a step beyond)
  // or anywhere near it; boxes of one point or two.
  v2f_t point() {
    float xy[2];
    for (int i = 0; i < 2; i++) {
      const float lo = i ? root.min.y : root.min.x, hi = i ? root.max.y : root.max.x, c = float(in->u8());
      xy[i] = lo + (hi - lo) * (c < 160 ? float(int(c) % 21 - 2) / 16 : float(in->u16()) / 43690 - 0.25f);
    }
    return {xy[0], xy[1]};
  }
  aabb_t box() {
    const v2f_t a = point(), b = in->u8() & 1 ? a : point();
    return {{std::min(a.x, b.x), std::min(a.y, b.y)}, {std::max(a.x, b.x), std::max(a.y, b.y)}};
  }
  // Null (the slot keeps its value), a pair from a table with NaN and infinity, or any pair.
  const v2f_t *vec(v2f_t *slot) {
    static const float v[16] = {0, 0, 0.5f, -0.5f, -1, 1, -2, 2, 0.25f, -0.25f, 0.125f, 0.75f, -1.5f, 3, NAN, INFINITY};
    const uint32_t c = in->u8();
    if (c >= 96)
      *slot = c < 200 ? v2f_t{v[c % 16], v[c / 16 % 16]} : v2f_t{float(in->u16()) / 8192 - 4, float(in->u16()) / 8192 - 4};
    return c < 96 ? nullptr : slot;
  }

  void add() {
    obj_m m{nullptr, box(), {}, {}, reinterpret_cast<void *>(uintptr_t(++serial))};
    const v2f_t *offset = vec(&m.offset), *align = vec(&m.align);
    MODEL_CHECK((m.o = qtree_object_new(q, offset, align, &m.box, m.data)));
    objs.push_back(m), split(0);
  }
  void move(size_t i) {
    obj_m m = objs[i];
    const v2f_t *offset = vec(&m.offset), *align = vec(&m.align);
    MODEL_CHECK(qtree_object_move(q, m.o, offset, align, in->u8() & 1 ? &(m.box = box()) : nullptr) == m.o);
    objs.erase(objs.begin() + long(i)), objs.push_back(m), split(0);
  }
  void free(size_t i) { qtree_object_free(q, objs[i].o), objs.erase(objs.begin() + long(i)); }

  // A hit moves to the end of the order, so the last leaf that meets it places it.
  void collect(size_t n, const aabb_t &s, std::vector<qtree_object_t *> &order) {
    for (size_t k = nodes[n].kids; k && k < nodes[n].kids + 4; k++)
      collect(k, s, order);
    for (size_t i = 0; qm_overlap(nodes[n].box, s) && i < objs.size(); i++)
      if (in_leaf(i, n) && qm_overlap(placed(i), s))
        order.erase(std::remove(order.begin(), order.end(), objs[i].o), order.end()), order.push_back(objs[i].o);
  }
  // A box search, or a point search at the placed box's low corner.
  void search(bool point) {
    v2f_t os{}, as{};
    const aabb_t b = box();
    const v2f_t *offset = vec(&os), *align = vec(&as);
    const aabb_t s = qm_place(b, os, as);
    search_m &f = searches[depth] = {{}, 0, 0, false, point};
    size_t n = 0;
    for (size_t k = nodes[n].kids; point && k; n = k, k = nodes[n].kids)  // the first quadrant holding the point
      while (k < nodes[n].kids + 3 && !qm_contains(nodes[k].box, s.min))
        k++;
    for (size_t i = 0; point && qm_contains(root, s.min) && i < objs.size(); i++)
      if (in_leaf(i, n) && qm_contains(placed(i), s.min))
        f.order.push_back(objs[i].o);
    if (!point)
      collect(0, s, f.order);
    const qtree_search_cb_t cb = in->u8() & 1 ? visit : nullptr;
    depth++;
    const uint32_t count = point ? qtree_search_by_point(q, &s.min, cb, this) : qtree_search_by_aabb(q, offset, align, &b, cb, this);
    depth--;
    MODEL_CHECK(count == (cb ? f.count : f.order.size()) && (!cb || f.stopped || f.next == f.order.size()));
  }
  static uint32_t visit(void *ctx, qtree_object_t *o, const v2f_t *offset, const aabb_t *aabb, void *data) {
    qtree_model_t &m = *static_cast<qtree_model_t *>(ctx);
    search_m &f = m.searches[m.depth - 1];
    const size_t i = size_t(std::find_if(m.objs.begin(), m.objs.end(), [&](obj_m &x) { return x.o == o; }) - m.objs.begin());
    MODEL_CHECK(!f.stopped && f.next < f.order.size() && o == f.order[f.next++] && offset == &o->offset &&
                aabb == &o->aabb && data == m.objs[i].data && m.q->asip == (f.point ? 0 : m.depth));
    const uint32_t r = m.in->u8(), act = f.point ? 0 : r / 4 % 5;
    f.count += r & QTREE_HIT;
    f.stopped = !(r & QTREE_CONTINUE);
    if (act == 1 && m.objs.size() < 40)
      m.add();
    else if (act == 2)
      m.move(m.in->u8() % m.objs.size());
    else if (act == 3 && m.depth == 1)  // an inner search's object may still wait in an outer one
      m.free(i);
    else if (act == 4 && m.depth < m.q->max_asip)
      m.search(false);
    return r & 3;
  }

  size_t walk(size_t n, node_t *r) {  // the refs below node n
    const node_m &m = nodes[n];
    const v2f_t c = qm_centre(m.box);
    MODEL_CHECK(r->center.x == c.x && r->center.y == c.y && !r->children == !m.kids);
    size_t total = 0;
    for (size_t k = m.kids; k && k < m.kids + 4; k++)
      total += walk(k, &r->children[k - m.kids]);
    qtree_link_t *l = &r->refs;
    for (size_t i = 0; i < objs.size(); i++)
      if (in_leaf(i, n)) {
        const ref_t *ref = qtree_list_entry(l = l->next, ref_t, node_link);
        MODEL_CHECK(l != &r->refs && ref->object == objs[i].o && ref->node == r), total++;
      }
    MODEL_CHECK(l->next == &r->refs && r->n_objects == (m.kids ? 0 : total));
    return total;
  }
  void check() {
    MODEL_CHECK(q->asip == 0 && arena_live(q->ref_arena) == walk(0, &q->root) && arena_live(q->node_arena) == nodes.size() / 4 &&
                arena_live(q->object_arena) == objs.size());
    for (const obj_m &m : objs)
      for (uint32_t h = 0; h < q->max_asip; h++)
        MODEL_CHECK(m.o->hit_links[h].next == &m.o->hit_links[h] && m.o->hit_links[h].prev == &m.o->hit_links[h]);
  }
};

// One index's life from the bytes: its configuration, then objects created,
// moved, freed and reset, box and point searches, a structure check after each.
inline void qtree_model_run(const uint8_t *data, size_t size) {
  model_bytes_t in{data, data + size};
  const qtree_config_t &c = QTREE_CONFIGS[in.u8() % std::size(QTREE_CONFIGS)];
  qtree_model_t m{qtree_new(c.null_box ? nullptr : &c.root, c.max_objects, c.max_depth, c.max_asip), c.root, &in};
  MODEL_CHECK(m.q && !memcmp(&m.q->aabb, &c.root, 16) && m.q->node_arena->chunk_size == 8192 &&
              m.q->ref_arena->chunk_size == 8192 && m.q->object_arena->chunk_size == 8192);
  m.nodes.push_back({c.root, 0, 0});
  for (uint32_t op; in.p < in.end; m.check()) {
    if ((op = in.u8() % 16) < 5 && m.objs.size() < 40)
      m.add();
    else if (op < 10 && !m.objs.empty())
      op < 8 ? m.move(in.u8() % m.objs.size()) : m.free(in.u8() % m.objs.size());
    else if (op < 15)
      m.search(op > 12);
    else if (in.u8() < 32)
      qtree_reset(m.q), m.objs.clear(), m.nodes.resize(1), m.nodes[0].kids = 0;
  }
  qtree_free(m.q);
}
