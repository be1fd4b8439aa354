// sigdoor~: Pd's own signal inlet for a subpatch or abstraction, with one
// difference: its creation argument is the value the inlet of the subpatch's
// box supplies while no signal is connected to it.
//
// The object is built by Pd's own [inlet~] creator, so it is Pd's signal-inlet
// object in every respect (DSP, reblocking, forwarding, saving, deletion).
// Only the default is ours, and it is set through Pd's public functions: the
// box's inlet of the new object, its index among the box's signal inlets, and
// that inlet's scalar. No record of Pd's is read or written through a layout
// of our own. The names Pd exports without declaring them are found in the
// running Pd (lorvex/host.hpp): a Pd that lacks one of them loads this
// plug-in and refuses the box, saying why.
#include "lorvex/host.hpp"
#include "lorvex/plugin.hpp"

#include <g_canvas.h>
extern "C" {
#include <m_imp.h>
}

// Pd's signal-inlet class, or null where Pd does not offer all we need: the
// class, the box inlet of one of its objects, and an inlet's index among its
// owner's signal inlets.
static t_class *sigdoor_host_class()
{
    const lorvex::host::names &pd = lorvex::host::get();
    if (!pd.vinlet_class || !*pd.vinlet_class || !pd.vinlet_getit || !pd.inlet_getsignalindex)
        return nullptr;
    return *pd.vinlet_class;
}

// Undoes a creation that did not give what we asked for.
static void *sigdoor_refuse(t_pd *made, const char *why)
{
    if (made)
        pd_free(made);
    pd_error(nullptr, "sigdoor~: %s", why);
    return nullptr;
}

static void *sigdoor_newsig(t_floatarg f)
{
    t_class *host = sigdoor_host_class();
    if (!host)
        return sigdoor_refuse(nullptr, "this Pd does not offer its signal inlet to plug-ins");
    t_canvas *canvas = canvas_getcurrent();
    if (!canvas)
        return sigdoor_refuse(nullptr, "no patch to add an inlet to");

    t_pd *before = pd_newest();
    pd_typedmess(&pd_objectmaker, gensym("inlet~"), 0, nullptr);
    t_pd *made = pd_newest();
    if (!made || made == before)
        return sigdoor_refuse(nullptr, "inlet~ could not be created");
    if (pd_class(made) != host)
        return sigdoor_refuse(made, "inlet~ is not Pd's own signal inlet here");
    t_object *door = pd_checkobject(made);
    if (!door || !obj_issignaloutlet(door, 0))
        return sigdoor_refuse(made, "inlet~ did not make a signal inlet");

    // The inlet belongs to the box of the canvas that is being built, which
    // reads this scalar while nothing is connected to the inlet.
    const lorvex::host::names &pd = lorvex::host::get();
    t_inlet *boxinlet = pd.vinlet_getit(made);
    t_float *scalar = boxinlet
        ? obj_findsignalscalar(&canvas->gl_obj, pd.inlet_getsignalindex(boxinlet))
        : nullptr;
    if (!scalar)
        return sigdoor_refuse(made, "the patch's box has no signal inlet for it");
    *scalar = f;
    return made;
}

LORVEX_EXPORT void sigdoor_tilde_setup(void)
{
    class_addcreator(lorvex::creator(sigdoor_newsig), gensym("sigdoor~"), A_DEFFLOAT, A_NULL);
}
