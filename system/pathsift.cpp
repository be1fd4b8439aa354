// pathsift: the paths matching a wildcard pattern, relative to the patch's
// directory, one per bang.
#include "lorvex/os/file_search.hpp"
#include "lorvex/plugin.hpp"
#include "lorvex/symbol_inlet.hpp"
#include "lorvex/trunc.hpp"

#include <cstddef>
#include <cstdint>
#include <cstring>

struct t_pathsift {
    t_object x_obj;
    t_canvas *x_canvas;
    t_symbol *x_pattern;
    t_symbol *x_last_pattern;
    lorvex::os::path_list x_glob;
    std::uint32_t x_position;
    t_outlet *x_name_outlet;
    t_outlet *x_info_outlet;
    t_outlet *x_status_outlet;
};

// Pd 0.57's headers mark verbose() deprecated; its lines are what this
// object prints on every release, so it stays, with the warning silenced
// for these calls alone.
#define PATHSIFT_VERBOSE(...)                                                \
    do {                                                                     \
        _Pragma("GCC diagnostic push");                                      \
        _Pragma("GCC diagnostic ignored \"-Wdeprecated-declarations\"");    \
        verbose(4, __VA_ARGS__);                                             \
        _Pragma("GCC diagnostic pop");                                       \
    } while (0)

static t_class *pathsift_class;

// The selectors, visible outside like the setup function (a braced
// extern "C" block, so that these are definitions). They hold the symbols of
// the Pd instance that set the plug-in up; the object itself looks its
// selectors up where it sends them, so that it speaks the symbols of its own
// instance in a program running several.
extern "C" {
LORVEX_VISIBLE t_symbol *ps_rewind, *ps_info, *ps_matches,
    *ps_pattern, *ps_position;
}

// The default pattern is built in this many bytes, the search path in the other.
constexpr std::size_t pathsift_default_size = 1000;
constexpr std::size_t pathsift_path_size = 4096;

// Appends text to the `len` characters in buf[size] if it fits with its
// terminator; a text that does not fit is refused whole, never cut, since a
// cut path names some other place in the file system.
static bool pathsift_append(char *buf, std::size_t size, std::size_t &len, const char *text)
{
    std::size_t n = std::strlen(text);
    if (n >= size - len)
        return false;
    std::memcpy(buf + len, text, n + 1);
    len += n;
    return true;
}

// ---- status messages on the middle outlet ----------------------------------

static void pathsift_say(t_pathsift *x, t_symbol *selector, t_float f)
{
    t_atom a;
    SETFLOAT(&a, f);
    outlet_anything(x->x_info_outlet, selector, 1, &a);
}

static void pathsift_matches(t_pathsift *x)
{
    pathsift_say(x, gensym("matches"), static_cast<t_float>(x->x_glob.gl_pathc));
}

static void pathsift_pattern(t_pathsift *x)
{
    t_atom a;
    SETSYMBOL(&a, x->x_pattern);
    outlet_anything(x->x_info_outlet, gensym("pattern"), 1, &a);
}

static void pathsift_position(t_pathsift *x)
{
    pathsift_say(x, gensym("position"), static_cast<t_float>(x->x_position));
}

static void pathsift_info(t_pathsift *x)
{
    pathsift_matches(x);
    pathsift_pattern(x);
    pathsift_position(x);
}

// ---- the search ------------------------------------------------------------

static void pathsift_release(t_pathsift *x)
{
    lorvex::os::free_paths(&x->x_glob);
}

// The pattern made absolute against the patch's directory. "./" is dropped;
// every other relative pattern, "../x", ".*" and ".." included, follows the
// directory and one '/'. A directory Pd does not know (empty) leaves the
// pattern relative to Pd's working directory.
static bool pathsift_makepath(t_pathsift *x, char *path)
{
    const char *pattern = x->x_last_pattern->s_name;
    std::size_t len = 0;
    if (sys_isabsolutepath(pattern))
        return pathsift_append(path, pathsift_path_size, len, pattern);
    if (x->x_canvas && !pathsift_append(path, pathsift_path_size, len,
                           canvas_getdir(x->x_canvas)->s_name))
        return false;
    if (len > 0 && path[len - 1] != '/' && !pathsift_append(path, pathsift_path_size, len, "/"))
        return false;
    if (std::strncmp(pattern, "./", 2) == 0)
        pattern += 2;
    return pathsift_append(path, pathsift_path_size, len, pattern);
}

static void pathsift_rewind(t_pathsift *x)
{
    char path[pathsift_path_size] = {};
    bool fits = pathsift_makepath(x, path);
    x->x_position = 0;
    pathsift_release(x);
    if (!fits) {
        const char *pattern = x->x_last_pattern->s_name;
        pd_error(x, "[pathsift] path too long for \"%.200s%s\"", pattern,
            std::strlen(pattern) > 200 ? "..." : "");
        return;
    }
    int result = lorvex::os::search_paths(path, &x->x_glob);
    if (result != 0)
        pathsift_release(x);
    switch (result) {
    case lorvex::os::search_nospace:
        pd_error(x, "[pathsift] out of memory for \"%s\"", path);
        break;
    case lorvex::os::search_aborted:
        pd_error(x, "[pathsift] aborted \"%s\"", path);
        break;
    case lorvex::os::search_nomatch:
        PATHSIFT_VERBOSE("[pathsift] nothing found for \"%s\"", path);
        break;
    default:
        break;
    }
}

// ---- listing ----------------------------------------------------------------

// Sends "position" and the path at `index`, which the caller has checked. The
// path is taken before anything is sent: a patch answering the "position"
// message may search again and replace the list.
static void pathsift_send_path(t_pathsift *x, std::uint32_t index)
{
    t_symbol *path = gensym(x->x_glob.gl_pathv[index]);
    pathsift_say(x, gensym("position"), static_cast<t_float>(index));
    outlet_symbol(x->x_name_outlet, path);
}

static void pathsift_bang(t_pathsift *x)
{
    if (x->x_pattern != x->x_last_pattern) {
        x->x_last_pattern = x->x_pattern;
        pathsift_rewind(x);
        pathsift_info(x);
    }
    std::uint32_t index = x->x_position;
    if (index >= x->x_glob.gl_pathc) {
        outlet_bang(x->x_status_outlet);
        return;
    }
    // Advanced before sending, so that a patch banging this object again from
    // what it sends walks on through the list instead of repeating one path.
    x->x_position = index + 1;
    pathsift_send_path(x, index);
}

static void pathsift_float(t_pathsift *x, t_floatarg f)
{
    std::uint32_t index = lorvex::trunc<std::uint32_t>(f);
    if (index == x->x_position)
        return;
    x->x_position = index;
    if (index >= x->x_glob.gl_pathc)
        outlet_bang(x->x_status_outlet);
    else
        pathsift_send_path(x, index);
}

// ---- new, free, setup -------------------------------------------------------

// The patch's directory and "/*". Where that does not fit (or there is no
// directory) the pattern is "*", which the search joins to the same directory.
static t_symbol *pathsift_default_pattern(t_canvas *canvas)
{
    char buf[pathsift_default_size] = {};
    std::size_t len = 0;
    if (canvas && pathsift_append(buf, sizeof buf, len, canvas_getcurrentdir()->s_name) &&
        len > 0 && pathsift_append(buf, sizeof buf, len, "/*"))
        return gensym(buf);
    return gensym("*");
}

static void *pathsift_new(t_symbol *s)
{
    auto *x = lorvex::new_record<t_pathsift>(pathsift_class);
    x->x_canvas = canvas_getcurrent();
    lorvex::symbol_inlet(x);
    x->x_name_outlet = outlet_new(&x->x_obj, &s_symbol);
    x->x_info_outlet = outlet_new(&x->x_obj, nullptr);
    x->x_status_outlet = outlet_new(&x->x_obj, &s_bang);
    if (s == &s_) {
        x->x_pattern = pathsift_default_pattern(x->x_canvas);
        PATHSIFT_VERBOSE("setting pattern to default: *");
    } else {
        x->x_pattern = s;
        PATHSIFT_VERBOSE("setting pattern to: %s", s->s_name);
    }
    x->x_last_pattern = &s_;
    return x;
}

static void pathsift_free(t_pathsift *x)
{
    lorvex::os::free_paths(&x->x_glob);
}

LORVEX_EXPORT void pathsift_setup(void)
{
    using lorvex::method;
    pathsift_class = class_new(gensym("pathsift"), lorvex::creator(pathsift_new),
        method(pathsift_free), sizeof(t_pathsift), CLASS_DEFAULT, A_DEFSYM, A_NULL);
    class_addbang(pathsift_class, method(pathsift_bang));
    class_addfloat(pathsift_class, method(pathsift_float));
    // The pattern inlet: symbols only, also from a list at the left inlet.
    lorvex::add_symbol_inlet<t_pathsift, &t_pathsift::x_pattern>(pathsift_class);
    class_addlist(pathsift_class, method(lorvex::list_with_symbol_inlet<t_pathsift,
        &t_pathsift::x_pattern, pathsift_bang, pathsift_float, nullptr>));
    class_addmethod(pathsift_class, method(pathsift_rewind), gensym("rewind"), A_NULL);
    class_addmethod(pathsift_class, method(pathsift_info), gensym("info"), A_NULL);
    class_addmethod(pathsift_class, method(pathsift_matches), gensym("matches"), A_NULL);
    class_addmethod(pathsift_class, method(pathsift_pattern), gensym("pattern"), A_NULL);
    class_addmethod(pathsift_class, method(pathsift_position), gensym("position"), A_NULL);
    ps_rewind = gensym("rewind");
    ps_info = gensym("info");
    ps_matches = gensym("matches");
    ps_pattern = gensym("pattern");
    ps_position = gensym("position");
}
