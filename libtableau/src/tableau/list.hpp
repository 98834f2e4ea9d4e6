// list: the intrusive circular doubly linked list under the scene graph.
//
// A head is a tableau_link_t linked to itself when empty; elements embed a
// tableau_link_t and are found again with list_entry. Nothing here allocates,
// so the lists can be walked and relinked on per-frame paths.
//
// Private to libtableau: the node lists are not part of the public contract.
//
// Why a copy: libarena and libqtree keep the same few lines for their lists.
// libtableau builds alone, with no dependency on the other libraries, so it
// does not include theirs; each copy holds only the operations its library uses.
#pragma once

#include <cstddef>

#include "tableau/tableau.hpp"

// The record of type that embeds the link ptr as its member.
#define list_entry(ptr, type, member)                                                              \
  (reinterpret_cast<type *>(reinterpret_cast<char *>(ptr) - offsetof(type, member)))

// Walk the list at head from first to last; pos must not be unlinked meanwhile.
#define list_for_each(pos, head) for (pos = (head)->next; pos != (head); pos = pos->next)

// Walk the list at head from first to last; pos may be unlinked or freed,
// because its successor n is fetched before the body runs.
#define list_for_each_safe(pos, n, head)                                                           \
  for (pos = (head)->next, n = pos->next; pos != (head); pos = n, n = pos->next)

// Make link an empty head, or a detached element.
static inline void list_init(tableau_link_t *link)
{
  link->next = link;
  link->prev = link;
}

// Whether the head has no element.
static inline bool list_empty(const tableau_link_t *head)
{
  return head->next == head;
}

// Insert link before head, that is at the tail of the list.
static inline void list_add_tail(tableau_link_t *link, tableau_link_t *head)
{
  tableau_link_t *prev = head->prev;
  link->next = head;
  link->prev = prev;
  prev->next = link;
  head->prev = link;
}

// Take link out of its list and leave it linked to itself, so that a
// second removal, or one of a node that never had a list, is harmless.
static inline void list_del_init(tableau_link_t *link)
{
  link->prev->next = link->next;
  link->next->prev = link->prev;
  list_init(link);
}
