// qtree-list: the intrusive circular doubly linked list the quadtree links its
// refs and search hits with.
//
// A list head is a link of its own, linked to itself when the list is empty,
// so no operation has a special case for the ends. A link is embedded in its
// owner; qtree_list_entry gets the owner back. The _safe walk fetches the
// successor before the body runs, so the body may unlink the current entry.
//
// Does NOT: allocate, own its entries, or check that a link is on a list.
//
// Why a copy (not libarena's arena-list.hpp, which is visible here): the
// quadtree's links are part of its public records and must not change when
// the allocator's private list does; libtableau keeps a copy for the same
// reason. Each copy holds only the operations its library uses.
#pragma once

#include <cstddef>

struct qtree_link_t {
  qtree_link_t *next;  // following link; the head after the last entry
  qtree_link_t *prev;  // preceding link; the head before the first entry
};

// Make a head (or a loose link) empty: linked to itself.
inline void qtree_list_init(qtree_link_t *head)
{
  head->next = head;
  head->prev = head;
}

// Whether the list holds no entry.
inline bool qtree_list_empty(const qtree_link_t *head)
{
  return head->next == head;
}

// Link 'link' between two neighbouring links.
inline void qtree_list_insert(qtree_link_t *link, qtree_link_t *prev, qtree_link_t *next)
{
  next->prev = link;
  link->next = next;
  link->prev = prev;
  prev->next = link;
}

// Insert at the back of the list.
inline void qtree_list_add_tail(qtree_link_t *link, qtree_link_t *head)
{
  qtree_list_insert(link, head->prev, head);
}

// Take a link out of its list and leave it linked to itself.
inline void qtree_list_del(qtree_link_t *link)
{
  link->next->prev = link->prev;
  link->prev->next = link->next;
  qtree_list_init(link);
}

// The record that embeds 'link' as its member 'member'.
#define qtree_list_entry(link, type, member)                                                       \
  reinterpret_cast<type *>(reinterpret_cast<char *>(link) - offsetof(type, member))

// Walk the list; 'pos' may be unlinked by the body ('n' holds its successor).
#define qtree_list_for_each_safe(pos, n, head)                                                     \
  for (pos = (head)->next, n = pos->next; pos != (head); pos = n, n = pos->next)
