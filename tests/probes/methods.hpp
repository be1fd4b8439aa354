// What a probe needs to know of a class: the selectors it answers.
#pragma once

#include <m_pd.h>
extern "C" {
#include <m_imp.h>
}

#include <vector>

namespace lorvex::probe {

// The class's own methods from its method table, after the selectors every
// object meets (bang, float, symbol, list and one it surely lacks).
inline std::vector<t_symbol *> selectors_of(t_class *c, bool with_dsp)
{
    std::vector<t_symbol *> sels = {&s_bang, &s_float, &s_symbol, &s_list, gensym("nonsense")};
#ifdef PDINSTANCE
    t_methodentry *m = c->c_methods[pd_this->pd_instanceno];
#else
    t_methodentry *m = c->c_methods;
#endif
    for (int i = 0; i < c->c_nmethod; i++)
        if (with_dsp || m[i].me_name != gensym("dsp"))
            sels.push_back(m[i].me_name);
    return sels;
}

} // namespace lorvex::probe
