// boardtag: gives the canvas it sits in a name. The canvas itself, not this
// object, is bound to the name, so whatever is sent to the name reaches the
// canvas as if sent to "pd-<canvas>".
#include "lorvex/plugin.hpp"
#include <g_canvas.h>

struct t_boardtag {
    t_object x_obj;
    t_symbol *x_sym;
    t_pd *x_owner;
};

static t_class *boardtag_class;

static bool boardtag_binds(const t_boardtag *x)
{
    return x->x_owner && *x->x_sym->s_name;
}

static void *boardtag_new(t_symbol *s)
{
    auto *x = lorvex::new_record<t_boardtag>(boardtag_class);
    t_glist *owner = canvas_getcurrent();
    x->x_owner = owner ? &owner->gl_pd : nullptr;
    x->x_sym = s;
    if (boardtag_binds(x))
        pd_bind(x->x_owner, x->x_sym);
    return x;
}

// Removes this object's binding only: other boardtags of the same name, in
// this canvas or others, keep theirs.
static void boardtag_free(t_boardtag *x)
{
    if (boardtag_binds(x))
        pd_unbind(x->x_owner, x->x_sym);
}

LORVEX_EXPORT void boardtag_setup(void)
{
    boardtag_class = class_new(gensym("boardtag"), lorvex::creator(boardtag_new),
        lorvex::method(boardtag_free), sizeof(t_boardtag), CLASS_NOINLET, A_DEFSYM, A_NULL);
}
