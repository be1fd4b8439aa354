# A test-only plug-in for Pd's GUI: opens each patch listed (one path a line)
# in the file $LORVEX_LAYOUT_LIST, one after another in the same session. Once
# Pd has drawn a patch's window it writes what lies on the canvas to
# $LORVEX_LAYOUT_OUT/<patch>.txt, a screenshot to <patch>.png, closes the
# window and opens the next; after the last it quits Pd. Without the variables
# it does nothing, so it is harmless on a search path.
#
# The dump, one item a line, in canvas coordinates:
#   window <width> <height>                    the window as shown
#   box <kind> <x1> <y1> <x2> <y2> <broken> <text>
#                                               kind: obj msg atom comment graph
#   cord <x1> <y1> <x2> <y2>

if {![info exists ::env(LORVEX_LAYOUT_LIST)] || ![info exists ::env(LORVEX_LAYOUT_OUT)]} {
    return
}

namespace eval ::lvx_layout {
    variable queue {}
    variable seen {}    ;# windows open before the first patch
    variable current {} ;# the patch being looked at
    variable fresh {}   ;# the windows it opened
    variable main {}    ;# its own window
}

proc ::lvx_layout::start {} {
    variable queue
    variable seen
    set f [open $::env(LORVEX_LAYOUT_LIST)]
    foreach line [split [read $f] "\n"] {
        if {[string trim $line] ne ""} {lappend queue $line}
    }
    close $f
    set seen [::lvx_layout::windows]
    ::lvx_layout::next
}

proc ::lvx_layout::windows {} {
    set result {}
    foreach w [winfo children .] {
        if {[string match {.x[0-9a-f]*} $w]} {lappend result $w}
    }
    return $result
}

proc ::lvx_layout::next {} {
    variable queue
    variable current
    if {[llength $queue] == 0} {
        pdsend "pd quit"
        return
    }
    set current [lindex $queue 0]
    set queue [lrange $queue 1 end]
    pdsend "pd open [enquote_path [file tail $current]] [enquote_path [file dirname $current]]"
    # Pd asks the GUI for the patch's window while it opens the patch: this
    # message comes back after that request.
    pdsend "pd plugin-dispatch lvx-layout drawn"
}

# Pd has opened the patch and asked for its window.
proc ::lvx_layout::drawn {args} {
    variable seen
    variable current
    variable fresh
    variable main
    # The windows of the patch before are gone by now (Pd closed them before
    # it opened this one), and Pd may reuse their names.
    set fresh {}
    foreach w [::lvx_layout::windows] {
        if {[lsearch -exact $seen $w] < 0} {lappend fresh $w}
    }
    # The patch's own window is the one titled with its file name (a
    # subpatch that opens with it is titled differently).
    set main ""
    foreach w $fresh {
        if {[string match "[file tail $current]*" [wm title $w]]} {set main $w}
    }
    ::lvx_layout::await_map 100
}

# Pd draws a canvas's contents when the GUI reports its window mapped: wait
# for that report to leave, then for Pd's answer to come back after the
# drawing.
proc ::lvx_layout::await_map {tries} {
    variable main
    update
    if {$main ne "" && ![winfo ismapped $main] && $tries > 0} {
        after 20 [list ::lvx_layout::await_map [expr {$tries - 1}]]
        return
    }
    pdsend "pd plugin-dispatch lvx-layout-mapped mapped"
}

proc ::lvx_layout::mapped {args} {
    # Pd redraws number boxes that changed while the patch loaded only when
    # it is idle: $LORVEX_LAYOUT_SETTLE milliseconds (default 0) give it the
    # time, for pictures that show their values.
    set settle 0
    if {[info exists ::env(LORVEX_LAYOUT_SETTLE)]} {set settle $::env(LORVEX_LAYOUT_SETTLE)}
    after $settle ::lvx_layout::shoot
}

proc ::lvx_layout::shoot {} {
    variable current
    variable fresh
    variable main
    # Let Tk lay out the window, settle its scroll bars (Pd does so only
    # when it gets round to it, which under load may be after this), and
    # paint it before it is read and photographed.
    update
    if {$main ne ""} {::pdtk_canvas::pdtk_canvas_getscroll $main.c}
    update
    set out [file join $::env(LORVEX_LAYOUT_OUT) [file rootname [file tail $current]]]
    set f [open $out.txt w]
    if {$main eq ""} {
        puts $f "nowindow"
    } else {
        ::lvx_layout::dump $f $main.c
        catch {exec import -window [winfo id $main] $out.png} err
        if {$err ne ""} {puts $f "error screenshot: [string map {"\n" " "} $err]"}
    }
    close $f
    foreach w $fresh {pdsend "$w menuclose 1"}
    after 10 ::lvx_layout::next
}

# Unites rectangle a with b, either possibly empty.
proc ::lvx_layout::unite {a b} {
    if {$a eq ""} {return $b}
    if {$b eq ""} {return $a}
    lassign $a x1 y1 x2 y2
    lassign $b u1 v1 u2 v2
    return [list [expr {min($x1, $u1)}] [expr {min($y1, $v1)}] \
                 [expr {max($x2, $u2)}] [expr {max($y2, $v2)}]]
}

# The rectangle spanned by an item's points (a border's drawn line, not the
# bounding box Tk pads by the line's width).
proc ::lvx_layout::span {c i} {
    set xs {}
    set ys {}
    foreach {x y} [$c coords $i] {lappend xs $x; lappend ys $y}
    return [list [tcl::mathfunc::min {*}$xs] [tcl::mathfunc::min {*}$ys] \
                 [tcl::mathfunc::max {*}$xs] [tcl::mathfunc::max {*}$ys]]
}

proc ::lvx_layout::dump {f c} {
    set w [winfo toplevel $c]
    puts $f "window [winfo width $w] [winfo height $w]"
    array set rect {}
    array set kind {}
    array set text {}
    array set broken {}
    set order {}
    foreach i [$c find all] {
        set tags [$c gettags $i]
        set type [$c type $i]
        if {[lsearch -exact $tags cord] >= 0} {
            puts $f "cord [join [lmap v [$c coords $i] {expr {round($v)}}]]"
            continue
        }
        # The points of an array's plot lie inside its graph.
        if {[lsearch -exact $tags array] >= 0} continue
        set group ""
        foreach t $tags {
            if {[regexp {^(\.x[0-9a-f]+\.t[0-9a-f]+)} $t -> g]} {set group $g; break}
            if {[regexp {^graph[0-9a-f]+$} $t]} {set group $t; break}
        }
        if {$group eq ""} continue
        if {![info exists rect($group)]} {
            lappend order $group
            set rect($group) ""
            set kind($group) ""
            set text($group) ""
            set broken($group) 0
        }
        foreach k {obj msg atom graph} {
            if {[lsearch -exact $tags $k] >= 0 && $kind($group) eq ""} {set kind($group) $k}
        }
        if {$type eq "text"} {
            set r [$c bbox $i]
            if {[string trim [$c itemcget $i -text]] ne ""} {
                append text($group) [string map {"\n" " "} [$c itemcget $i -text]] " "
            }
        } else {
            set r [::lvx_layout::span $c $i]
            if {$type eq "line" && [$c itemcget $i -dash] ne ""} {set broken($group) 1}
        }
        set rect($group) [::lvx_layout::unite $rect($group) $r]
    }
    foreach g $order {
        if {$rect($g) eq ""} continue
        set k [expr {$kind($g) eq "" ? "comment" : $kind($g)}]
        puts $f "box $k [join [lmap v $rect($g) {expr {round($v)}}]] $broken($g) [string trim $text($g)]"
    }
}

::pd_connect::register_plugin_dispatch_receiver lvx-layout ::lvx_layout::drawn
::pd_connect::register_plugin_dispatch_receiver lvx-layout-mapped ::lvx_layout::mapped
after idle ::lvx_layout::start
