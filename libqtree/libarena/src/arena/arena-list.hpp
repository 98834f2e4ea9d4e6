// arena-list: the intrusive circular doubly linked list the arena keeps its
// chunks on.
//
// A list head is a link of its own, linked to itself when the list is empty,
// so no operation has a special case for the ends. A link is embedded in its
// owner; arena_list_entry gets the owner back. The _safe walk fetches the
// successor before the body runs, so the body may unlink the current entry.
//
// Does NOT: allocate, own its entries, or check that a link is on a list.
//
// Why a copy: libtableau and libqtree keep the same few lines for their own
// lists. Each library builds and ships alone, and its link type is part of
// its public records, so none includes another library's header; each copy
// holds only the operations its library uses.
#pragma once

#include <cstddef>

struct arena_link_t {
  arena_link_t *next;  // following link; the head after the last entry
  arena_link_t *prev;  // preceding link; the head before the first entry
};

// Make a head (or a loose link) empty: linked to itself.
inline void arena_list_init(arena_link_t *head)
{
  head->next = head;
  head->prev = head;
}

// Whether the list holds no entry.
inline bool arena_list_empty(const arena_link_t *head)
{
  return head->next == head;
}

// Link 'link' between two neighbouring links.
inline void arena_list_insert(arena_link_t *link, arena_link_t *prev, arena_link_t *next)
{
  next->prev = link;
  link->next = next;
  link->prev = prev;
  prev->next = link;
}

// Insert at the front of the list.
inline void arena_list_add(arena_link_t *link, arena_link_t *head)
{
  arena_list_insert(link, head, head->next);
}

// Take a link out of its list and leave it linked to itself.
inline void arena_list_del(arena_link_t *link)
{
  link->next->prev = link->prev;
  link->prev->next = link->next;
  arena_list_init(link);
}

// Move every entry of 'from', in order, to the front of 'to'; 'from' ends empty.
inline void arena_list_splice(arena_link_t *from, arena_link_t *to)
{
  if (arena_list_empty(from))
    return;
  arena_link_t *first = from->next;
  arena_link_t *last = from->prev;
  arena_link_t *at = to->next;
  first->prev = to;
  to->next = first;
  last->next = at;
  at->prev = last;
  arena_list_init(from);
}

// The record that embeds 'link' as its member 'member'.
#define arena_list_entry(link, type, member)                                                       \
  reinterpret_cast<type *>(reinterpret_cast<char *>(link) - offsetof(type, member))

// Walk the list; 'pos' may be unlinked by the body ('n' holds its successor).
#define arena_list_for_each_safe(pos, n, head)                                                     \
  for (pos = (head)->next, n = pos->next; pos != (head); pos = n, n = pos->next)
