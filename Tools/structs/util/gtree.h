// Red-black tree of caller items, ordered by a compare callback.
//
// All trees share one black sentinel node that is never written, so trees used by different
// threads do not meet. A tree is locked while a callback runs: a change from inside a callback
// fails with errno 16 instead of corrupting the tree.
#pragma once

#include <cstdio>

struct gtree;

// Negative, zero or positive as item1 orders before, equal to or after item2.
typedef int gtree_cmp_t(struct gtree *g, const void *item1, const void *item2);
// Told about an item that enters (add) or leaves (del) the tree.
typedef void gtree_add_t(struct gtree *g, void *item);
typedef void gtree_del_t(struct gtree *g, void *item);
// Text of an item for gtree_print; the text stays owned by the callback.
typedef const char *gtree_print_t(struct gtree *g, const void *item);

// A null compare orders items by address; null add/del do nothing. A null mtype keeps the
// tree's own allocations on the plain heap (the memory tracker's trees use that).
struct gtree *gtree_create(void *arg, const char *mtype, gtree_cmp_t *cmp, gtree_add_t *add,
                           gtree_del_t *del, gtree_print_t *print);
// Tells the del callback about every item, frees the nodes the tree allocated, and sets *gp
// to null. Destroying a tree from inside one of its callbacks is a program fault.
void gtree_destroy(struct gtree **gp);
void *gtree_arg(struct gtree *g);

// The item equal to the given one, or null.
void *gtree_get(struct gtree *g, const void *item);
// 0 when the item was inserted, 1 when it replaced an equal item; -1 with errno 22 (null
// item), 12 (no memory) or 16 (called from a callback).
int gtree_put(struct gtree *g, const void *item);
// As gtree_put with caller storage of gtree_node_size() bytes for the node; the storage must
// stay valid until the item leaves the tree, and the caller frees it afterwards.
int gtree_put_prealloc(struct gtree *g, const void *item, void *node);
unsigned gtree_node_size(void);
// 1 removed, 0 absent; -1 with errno 16 from a callback.
int gtree_remove(struct gtree *g, const void *item);
unsigned gtree_size(struct gtree *g);

void *gtree_first(struct gtree *g);
void *gtree_last(struct gtree *g);
void *gtree_next(struct gtree *g, const void *item);
void *gtree_prev(struct gtree *g, const void *item);

// All items in order in a new array allocated under mtype; the item count, or -1.
int gtree_dump(struct gtree *g, void ***listp, const char *mtype);
// Checks the red-black rules, parent links, order and size; 0 when they hold, else -1.
int gtree_validate(struct gtree *g);
// Debug dump: "ROOT", then each node's text indented by its depth.
void gtree_print(struct gtree *g, FILE *fp);
