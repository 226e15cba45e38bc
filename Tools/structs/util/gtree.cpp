#include "gtree.h"

#include "structs_assert.h"
#include "typed_mem.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>

namespace {

struct node {
    node *left;
    node *right;
    node *parent;
    const void *item;
    uint8_t red;
    uint8_t prealloc;
};

// Shared by every tree and only ever read: code below never writes through a pointer that may
// be the sentinel, which also makes a parent argument necessary in the delete fix-up.
node g_nil = {&g_nil, &g_nil, &g_nil, nullptr, 0, 0};
node *const NIL = &g_nil;

} // namespace

struct gtree {
    void *arg;
    const char *mtype;
    gtree_cmp_t *cmp;
    gtree_add_t *add;
    gtree_del_t *del;
    gtree_print_t *print;
    node *root;
    unsigned size;
    bool locked;
};

namespace {

void *tree_alloc(const char *mtype, size_t size) {
    return mtype ? typed_mem_calloc(mtype, 1, size) : calloc(1, size);
}

void tree_free(const char *mtype, void *p) {
    if (mtype)
        typed_mem_free(mtype, p);
    else
        free(p);
}

int address_cmp(gtree *, const void *a, const void *b) {
    auto x = reinterpret_cast<uintptr_t>(a), y = reinterpret_cast<uintptr_t>(b);
    return x < y ? -1 : x > y ? 1 : 0;
}

// Holds the lock flag across a callback and restores what it was.
struct Locked {
    gtree *g;
    bool was;
    explicit Locked(gtree *t) : g(t), was(t->locked) { g->locked = true; }
    ~Locked() { g->locked = was; }
};

node *find(gtree *g, const void *item) {
    Locked l(g);
    node *n = g->root;
    while (n != NIL) {
        int d = g->cmp(g, item, n->item);
        if (d == 0) return n;
        n = d < 0 ? n->left : n->right;
    }
    return nullptr;
}

void rotate_left(gtree *g, node *x) {
    node *y = x->right;
    x->right = y->left;
    if (y->left != NIL) y->left->parent = x;
    y->parent = x->parent;
    if (x->parent == NIL)
        g->root = y;
    else if (x == x->parent->left)
        x->parent->left = y;
    else
        x->parent->right = y;
    y->left = x;
    x->parent = y;
}

void rotate_right(gtree *g, node *x) {
    node *y = x->left;
    x->left = y->right;
    if (y->right != NIL) y->right->parent = x;
    y->parent = x->parent;
    if (x->parent == NIL)
        g->root = y;
    else if (x == x->parent->right)
        x->parent->right = y;
    else
        x->parent->left = y;
    y->right = x;
    x->parent = y;
}

void insert_fixup(gtree *g, node *z) {
    while (z->parent->red) {
        node *p = z->parent, *gp = p->parent;
        if (p == gp->left) {
            node *u = gp->right;
            if (u->red) {
                p->red = 0;
                u->red = 0;
                gp->red = 1;
                z = gp;
                continue;
            }
            if (z == p->right) {
                z = p;
                rotate_left(g, z);
                p = z->parent;
            }
            p->red = 0;
            gp->red = 1;
            rotate_right(g, gp);
        } else {
            node *u = gp->left;
            if (u->red) {
                p->red = 0;
                u->red = 0;
                gp->red = 1;
                z = gp;
                continue;
            }
            if (z == p->left) {
                z = p;
                rotate_right(g, z);
                p = z->parent;
            }
            p->red = 0;
            gp->red = 1;
            rotate_left(g, gp);
        }
    }
    g->root->red = 0;
}

void transplant(gtree *g, node *u, node *v) {
    if (u->parent == NIL)
        g->root = v;
    else if (u == u->parent->left)
        u->parent->left = v;
    else
        u->parent->right = v;
    if (v != NIL) v->parent = u->parent;
}

node *minimum(node *n) {
    while (n->left != NIL)
        n = n->left;
    return n;
}

node *maximum(node *n) {
    while (n->right != NIL)
        n = n->right;
    return n;
}

void delete_fixup(gtree *g, node *x, node *xp) {
    while (x != g->root && !x->red) {
        if (x == xp->left) {
            node *w = xp->right;
            if (w->red) {
                w->red = 0;
                xp->red = 1;
                rotate_left(g, xp);
                w = xp->right;
            }
            if (!w->left->red && !w->right->red) {
                w->red = 1;
                x = xp;
                xp = x->parent;
            } else {
                if (!w->right->red) {
                    w->left->red = 0;
                    w->red = 1;
                    rotate_right(g, w);
                    w = xp->right;
                }
                w->red = xp->red;
                xp->red = 0;
                w->right->red = 0;
                rotate_left(g, xp);
                x = g->root;
            }
        } else {
            node *w = xp->left;
            if (w->red) {
                w->red = 0;
                xp->red = 1;
                rotate_right(g, xp);
                w = xp->left;
            }
            if (!w->right->red && !w->left->red) {
                w->red = 1;
                x = xp;
                xp = x->parent;
            } else {
                if (!w->left->red) {
                    w->right->red = 0;
                    w->red = 1;
                    rotate_left(g, w);
                    w = xp->left;
                }
                w->red = xp->red;
                xp->red = 0;
                w->left->red = 0;
                rotate_right(g, xp);
                x = g->root;
            }
        }
    }
    if (x != NIL) x->red = 0;
}

void unlink_node(gtree *g, node *z) {
    node *y = z, *x, *xp;
    uint8_t y_red = y->red;
    if (z->left == NIL) {
        x = z->right;
        xp = z->parent;
        transplant(g, z, z->right);
    } else if (z->right == NIL) {
        x = z->left;
        xp = z->parent;
        transplant(g, z, z->left);
    } else {
        y = minimum(z->right);
        y_red = y->red;
        x = y->right;
        if (y->parent == z) {
            xp = y;
        } else {
            xp = y->parent;
            transplant(g, y, y->right);
            y->right = z->right;
            y->right->parent = y;
        }
        transplant(g, z, y);
        y->left = z->left;
        y->left->parent = y;
        y->red = z->red;
    }
    if (!y_red) delete_fixup(g, x, xp);
}

node *successor(node *n) {
    if (n->right != NIL) return minimum(n->right);
    node *p = n->parent;
    while (p != NIL && n == p->right) {
        n = p;
        p = p->parent;
    }
    return p;
}

node *predecessor(node *n) {
    if (n->left != NIL) return maximum(n->left);
    node *p = n->parent;
    while (p != NIL && n == p->left) {
        n = p;
        p = p->parent;
    }
    return p;
}

int put_node(gtree *g, const void *item, node *fresh) {
    if (item == nullptr) {
        errno = EINVAL;
        return -1;
    }
    if (g->locked) {
        errno = EBUSY;
        return -1;
    }
    Locked l(g);
    node *parent = NIL, *n = g->root;
    int d = 0;
    while (n != NIL) {
        d = g->cmp(g, item, n->item);
        if (d == 0) break;
        parent = n;
        n = d < 0 ? n->left : n->right;
    }
    if (n != NIL) {
        // An equal item is replaced in place; the caller's fresh node is not needed.
        void *old = const_cast<void *>(n->item);
        n->item = item;
        if (fresh && !fresh->prealloc) tree_free(g->mtype, fresh);
        g->del(g, old);
        g->add(g, const_cast<void *>(item));
        return 1;
    }
    if (fresh == nullptr) {
        fresh = static_cast<node *>(tree_alloc(g->mtype, sizeof(node)));
        if (fresh == nullptr) {
            errno = ENOMEM;
            return -1;
        }
        fresh->prealloc = 0;
    }
    fresh->left = fresh->right = NIL;
    fresh->parent = parent;
    fresh->item = item;
    fresh->red = 1;
    if (parent == NIL)
        g->root = fresh;
    else if (d < 0)
        parent->left = fresh;
    else
        parent->right = fresh;
    insert_fixup(g, fresh);
    g->size++;
    g->add(g, const_cast<void *>(item));
    return 0;
}

void nothing(gtree *, void *) {}

// Black height of the subtree, or -1 when a rule is broken below n.
int check_subtree(gtree *g, node *n, unsigned *count) {
    if (n == NIL) return 1;
    if (n->red && (n->left->red || n->right->red)) return -1;
    if ((n->left != NIL && (n->left->parent != n || g->cmp(g, n->left->item, n->item) >= 0)) ||
        (n->right != NIL && (n->right->parent != n || g->cmp(g, n->right->item, n->item) <= 0)))
        return -1;
    int lh = check_subtree(g, n->left, count);
    int rh = check_subtree(g, n->right, count);
    if (lh < 0 || rh < 0 || lh != rh) return -1;
    ++*count;
    return lh + (n->red ? 0 : 1);
}

void print_node(gtree *g, node *n, int depth, FILE *fp) {
    if (n == NIL) return;
    print_node(g, n->left, depth + 1, fp);
    const char *text = g->print ? g->print(g, n->item) : nullptr;
    fprintf(fp, "%*s%s %s\n", depth * 3, "", n->red ? "R" : "B", text ? text : "?");
    print_node(g, n->right, depth + 1, fp);
}

} // namespace

struct gtree *gtree_create(void *arg, const char *mtype, gtree_cmp_t *cmp, gtree_add_t *add,
                           gtree_del_t *del, gtree_print_t *print) {
    auto *g = static_cast<gtree *>(tree_alloc(mtype, sizeof(gtree)));
    if (g == nullptr) {
        errno = ENOMEM;
        return nullptr;
    }
    g->arg = arg;
    g->mtype = mtype;
    g->cmp = cmp ? cmp : address_cmp;
    g->add = add ? add : nothing;
    g->del = del ? del : nothing;
    g->print = print;
    g->root = NIL;
    g->size = 0;
    g->locked = false;
    return g;
}

void gtree_destroy(struct gtree **gp) {
    gtree *g = *gp;
    if (g == nullptr) return;
    STRUCTS_ASSERT(!g->locked);
    while (g->root != NIL) {
        node *n = g->root;
        void *item = const_cast<void *>(n->item);
        unlink_node(g, n);
        g->size--;
        if (!n->prealloc) tree_free(g->mtype, n);
        Locked l(g);
        g->del(g, item);
    }
    tree_free(g->mtype, g);
    *gp = nullptr;
}

void *gtree_arg(struct gtree *g) {
    return g->arg;
}

void *gtree_get(struct gtree *g, const void *item) {
    node *n = find(g, item);
    return n ? const_cast<void *>(n->item) : nullptr;
}

int gtree_put(struct gtree *g, const void *item) {
    return put_node(g, item, nullptr);
}

int gtree_put_prealloc(struct gtree *g, const void *item, void *mem) {
    auto *n = static_cast<node *>(mem);
    n->prealloc = 1;
    return put_node(g, item, n);
}

unsigned gtree_node_size(void) {
    return sizeof(node);
}

int gtree_remove(struct gtree *g, const void *item) {
    if (g->locked) {
        errno = EBUSY;
        return -1;
    }
    node *n = find(g, item);
    if (n == nullptr) return 0;
    Locked l(g);
    void *old = const_cast<void *>(n->item);
    unlink_node(g, n);
    g->size--;
    if (!n->prealloc) tree_free(g->mtype, n);
    g->del(g, old);
    return 1;
}

unsigned gtree_size(struct gtree *g) {
    return g->size;
}

void *gtree_first(struct gtree *g) {
    return g->root == NIL ? nullptr : const_cast<void *>(minimum(g->root)->item);
}

void *gtree_last(struct gtree *g) {
    return g->root == NIL ? nullptr : const_cast<void *>(maximum(g->root)->item);
}

void *gtree_next(struct gtree *g, const void *item) {
    node *n = find(g, item);
    if (n == nullptr) return nullptr;
    n = successor(n);
    return n == NIL ? nullptr : const_cast<void *>(n->item);
}

void *gtree_prev(struct gtree *g, const void *item) {
    node *n = find(g, item);
    if (n == nullptr) return nullptr;
    n = predecessor(n);
    return n == NIL ? nullptr : const_cast<void *>(n->item);
}

int gtree_dump(struct gtree *g, void ***listp, const char *mtype) {
    auto **list =
        static_cast<void **>(typed_mem_calloc(mtype, g->size ? g->size : 1, sizeof(void *)));
    if (list == nullptr) return -1;
    unsigned i = 0;
    if (g->root != NIL)
        for (node *n = minimum(g->root); n != NIL; n = successor(n))
            list[i++] = const_cast<void *>(n->item);
    *listp = list;
    return static_cast<int>(i);
}

int gtree_validate(struct gtree *g) {
    Locked l(g);
    if (g->root->red || (g->root != NIL && g->root->parent != NIL) || g_nil.red) return -1;
    unsigned count = 0;
    if (check_subtree(g, g->root, &count) < 0 || count != g->size) return -1;
    return 0;
}

void gtree_print(struct gtree *g, FILE *fp) {
    Locked l(g);
    fprintf(fp, "ROOT\n");
    print_node(g, g->root, 1, fp);
}
