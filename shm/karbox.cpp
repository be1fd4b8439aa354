// karbox: a block of 32-bit floats in shared memory (a System V segment on
// Linux, a named file mapping on Windows), found by a positive integer key,
// so that objects in this Pd, in another Pd or in any other program that
// knows the key work on the same data. The block
// stays 32-bit in double-precision Pd (Pd64) too, as other programs read it:
// Pd's values are rounded to the nearest float on the way in and widened on
// the way out.
//
// Errors that belong to no object go through pd_error(nullptr, ...): Pd's
// headers no longer declare error(), and this prints the same console line.
#include "lorvex/array_frame.hpp"
#include "lorvex/os/shared_block.hpp"
#include "lorvex/shm_block.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

struct t_karbox {
    t_object x_obj;
    int x_shmid;
    t_outlet *x_outlet;
    float *x_data;
    int x_size;
};

LORVEX_EXPORT t_class *karbox_class;
t_class *karbox_class;

namespace {

// The objects alive in this process. Pd quits with exit() and never runs the
// destructors of the objects still open, so without this every segment in
// an open patch would stay in the system after Pd is gone. The list is the
// process's, as exit() is: in a program running several Pd instances, each
// on a thread of its own, objects come and go on all of them at once.
std::vector<t_karbox *> karbox_live;
std::mutex karbox_live_lock;

// How many floats a copy moves: the block, the array and the caller's limit
// each clip it, so no copy runs past the end of either.
std::int64_t karbox_span(const t_karbox *x, std::int64_t p, const lorvex::bound_array &a,
    std::int64_t q, std::int64_t m)
{
    return std::min({std::int64_t{x->x_size} - p, std::int64_t{a.n} - q, m});
}

// A position argument: truncated, never below 0; 0 when absent or not a number.
std::int32_t karbox_position(int i, int argc, const t_atom *argv)
{
    if (i >= argc || argv[i].a_type != A_FLOAT)
        return 0;
    return std::max(0, lorvex::trunc(argv[i].a_w.w_float));
}

// A limit argument: truncated; the whole block when absent or not a number.
std::int32_t karbox_limit(const t_karbox *x, int i, int argc, const t_atom *argv)
{
    if (i >= argc || argv[i].a_type != A_FLOAT)
        return x->x_size;
    return lorvex::trunc(argv[i].a_w.w_float);
}

} // namespace

LORVEX_EXPORT int karbox_set_tab(t_karbox *x, t_symbol *name, int q, int p, int m);
LORVEX_EXPORT int karbox_dump_tab(t_karbox *x, t_symbol *name, int p, int q, int m);

// Array positions q, q + 1, ... into block positions p, p + 1, ...
int karbox_set_tab(t_karbox *x, t_symbol *name, int q, int p, int m)
{
    lorvex::bound_array a;
    if (!lorvex::bind_array(x, "tabread", name, a))
        return 0;
    if (p < 0 || q < 0)
        return 0;
    const std::int64_t count = karbox_span(x, p, a, q, m);
    if (count <= 0)
        return 0;
    float *to = x->x_data + p;
    const t_word *from = a.vec + q;
    for (std::int64_t i = 0; i < count; i++)
        to[i] = static_cast<float>(from[i].w_float);
    return static_cast<int>(count);
}

// Block positions p, p + 1, ... into array positions q, q + 1, ...; the array
// is redrawn even when nothing was copied.
int karbox_dump_tab(t_karbox *x, t_symbol *name, int p, int q, int m)
{
    lorvex::bound_array a;
    if (!lorvex::bind_array(x, "tabwrite", name, a))
        return 0;
    const std::int64_t count = p < 0 || q < 0 ? 0 : karbox_span(x, p, a, q, m);
    if (count > 0) {
        const float *from = x->x_data + p;
        t_word *to = a.vec + q;
        for (std::int64_t i = 0; i < count; i++)
            to[i].w_float = from[i];
    }
    garray_redraw(a.garray);
    return static_cast<int>(std::max<std::int64_t>(count, 0));
}

// The two forms memset and memdump share: a list of array names laid end to
// end over the block from position 0, or a block position, an array name,
// an array position and a limit. A single number, or a first argument of
// another type, does nothing.
template <typename Copy>
static void karbox_transfer(t_karbox *x, int argc, t_atom *argv, Copy copy)
{
    if (argv[0].a_type == A_SYMBOL) {
        std::int32_t p = 0;
        for (int i = 0; i < argc && argv[i].a_type == A_SYMBOL; i++)
            p += copy(argv[i].a_w.w_symbol, p, 0, x->x_size);
    } else if (argv[0].a_type == A_FLOAT && argc >= 2) {
        copy(atom_getsymbolarg(1, argc, argv), karbox_position(0, argc, argv),
            karbox_position(2, argc, argv), karbox_limit(x, 3, argc, argv));
    }
}

// A block position followed by values, cut off where the block ends; a
// symbol among the values writes 0.
static void karbox_set_values(t_karbox *x, int argc, t_atom *argv)
{
    const std::int32_t p = karbox_position(0, argc, argv);
    const std::int64_t count = std::min<std::int64_t>(argc - 1, std::int64_t{x->x_size} - p);
    for (std::int64_t j = 0; j < count; j++)
        x->x_data[p + j] = static_cast<float>(atom_getfloat(argv + 1 + j));
}

// Both copies need a block and at least one argument.
static bool karbox_can_copy(t_karbox *x, int argc, const char *no_block, const char *usage)
{
    if (!x->x_data) {
        pd_error(nullptr, "%s", no_block);
        return false;
    }
    if (argc == 0) {
        pd_error(x, "%s", usage);
        return false;
    }
    return true;
}

static void karbox_set(t_karbox *x, t_symbol *, int argc, t_atom *argv)
{
    if (!karbox_can_copy(x, argc, "Create a valid shared memory before setting data !",
            "karbox usage : [memset table_name [table_name []]< or [memset src_offset data "
            "[dest_offset]< (data can be a float, a list, or a table name)"))
        return;
    if (argv[0].a_type == A_FLOAT && argc >= 2 && argv[1].a_type != A_SYMBOL) {
        if (argv[1].a_type == A_FLOAT)
            karbox_set_values(x, argc, argv);
        return;
    }
    karbox_transfer(x, argc, argv, [x](t_symbol *name, int p, int q, int m) {
        return karbox_set_tab(x, name, q, p, m);
    });
}

static void karbox_dump(t_karbox *x, t_symbol *, int argc, t_atom *argv)
{
    if (!karbox_can_copy(x, argc, "Create a valid shared memory before dumping data !",
            "karbox usage : [memdump table_name [table_name []]< or [memset src_offset "
            "table_name [dest_offset [size]]<"))
        return;
    karbox_transfer(x, argc, argv, [x](t_symbol *name, int p, int q, int m) {
        return karbox_dump_tab(x, name, p, q, m);
    });
}

static void karbox_clear(t_karbox *x)
{
    if (x->x_data && x->x_size > 0)
        std::memset(x->x_data, 0, static_cast<std::size_t>(x->x_size) * sizeof(float));
}

// A block of 0 floats has no position to read: nothing is sent, as with no block.
static void karbox_read(t_karbox *x, t_floatarg index)
{
    if (!x->x_data || x->x_size <= 0)
        return;
    const std::int32_t i = std::clamp(lorvex::trunc(index), 0, x->x_size - 1);
    outlet_float(x->x_obj.ob_outlet, x->x_data[i]);
}

// Attaches the segment just obtained and checks that it holds the block.
// On failure the block is absent (x_shmid still names the segment, so that
// it is removed later if nobody else uses it).
static bool karbox_attach(t_karbox *x, int k, std::int64_t bytes)
{
    int err = 0;
    void *at = lorvex::os::attach_block(x->x_shmid, err);
    if (!at) {
        char why[256];
        lorvex::os::block_error_text(err, why, sizeof why);
        pd_error(x, "karbox: could not attach shared memory Id : %d, size %d (%s)", k,
            x->x_size, why);
        x->x_size = 0;
        return false;
    }
    const std::int64_t holds = lorvex::os::block_size(x->x_shmid, at, err);
    if (holds < 0 || holds < bytes) {
        pd_error(nullptr, "could not allocate karbox memory Id : %d, size %d", k, x->x_size);
        lorvex::os::detach_block(at);
        x->x_size = 0;
        return false;
    }
    x->x_data = static_cast<float *>(at);
    return true;
}

static void karbox_allocate(t_karbox *x, t_floatarg id, t_floatarg size)
{
    const std::int32_t k = lorvex::trunc(id);
    if (k <= 0) {
        pd_error(nullptr, "id should be > 0");
        return;
    }
    x->x_size = lorvex::trunc(size);
    if (x->x_data) {
        lorvex::os::detach_block(x->x_data);
        x->x_data = nullptr;
    }
    // Linux removes the old segment even while others are attached (they
    // keep their memory, and the key is free at once for the new one);
    // Windows can only let go of it, so a block others still hold is joined
    // again below, contents and all.
    if (x->x_shmid != lorvex::os::no_block) {
        lorvex::os::remove_block(x->x_shmid);
        x->x_shmid = lorvex::os::no_block;
    }
    // A negative size, or one whose bytes overflow an int, is never asked for.
    const std::int64_t bytes = lorvex::shm::block_bytes(x->x_size);
    int err = 0;
    if (bytes >= 0)
        x->x_shmid = lorvex::os::get_block(k, bytes, true, err);
    if (x->x_shmid == lorvex::os::no_block) {
        pd_error(nullptr, "could not allocate karbox memory Id : %d, size %d", k, x->x_size);
        x->x_size = 0;
        outlet_float(x->x_outlet, -1);
    } else if (!karbox_attach(x, k, bytes)) {
        outlet_float(x->x_outlet, -1);
    }
    outlet_float(x->x_outlet, static_cast<t_float>(k));
}

// Detaches, and removes the segment if nobody is attached any more: the last
// user of a segment removes it (on Windows, letting go does that).
static void karbox_leave(t_karbox *x)
{
    if (x->x_data) {
        if (!lorvex::os::detach_block(x->x_data))
            pd_error(nullptr, "shmdt failed at %llx",
                static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(x->x_data)));
        x->x_data = nullptr;
        x->x_size = 0;
    }
    if (x->x_shmid == lorvex::os::no_block)
        return;
    const int id = x->x_shmid;
    x->x_shmid = lorvex::os::no_block;
    if (!lorvex::os::leave_block(id))
        pd_error(nullptr, "shmctl remove failed for %d", id);
}

static void karbox_leave_all()
{
    std::lock_guard lock(karbox_live_lock);
    for (t_karbox *x : karbox_live)
        karbox_leave(x);
    karbox_live.clear();
}

static void *karbox_new(t_floatarg id, t_floatarg size)
{
    auto *x = lorvex::new_record<t_karbox>(karbox_class);
    x->x_shmid = lorvex::os::no_block;
    x->x_data = nullptr;
    outlet_new(&x->x_obj, nullptr);
    x->x_outlet = outlet_new(&x->x_obj, nullptr);
    {
        std::lock_guard lock(karbox_live_lock);
        karbox_live.push_back(x);
    }
    karbox_allocate(x, id, size);
    return x;
}

static void karbox_free(t_karbox *x)
{
    karbox_leave(x);
    std::lock_guard lock(karbox_live_lock);
    karbox_live.erase(std::remove(karbox_live.begin(), karbox_live.end(), x), karbox_live.end());
}

LORVEX_EXPORT void karbox_setup(void)
{
    using lorvex::method;
    karbox_class = class_new(gensym("karbox"), lorvex::creator(karbox_new),
        method(karbox_free), sizeof(t_karbox), CLASS_DEFAULT, A_DEFFLOAT, A_DEFFLOAT, A_NULL);
    class_addmethod(karbox_class, method(karbox_set), gensym("memset"), A_GIMME, A_NULL);
    class_addmethod(karbox_class, method(karbox_dump), gensym("memdump"), A_GIMME, A_NULL);
    class_addmethod(karbox_class, method(karbox_clear), gensym("memclear"), A_NULL);
    class_addmethod(karbox_class, method(karbox_read), gensym("memread"), A_DEFFLOAT, A_NULL);
    class_addmethod(karbox_class, method(karbox_allocate), gensym("allocate"), A_FLOAT,
        A_FLOAT, A_NULL);
    // Quitting Pd leaves the open objects as closing their patch would.
    std::atexit(karbox_leave_all);
}
