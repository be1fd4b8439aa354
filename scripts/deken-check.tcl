# tclsh deken-check.tcl <pd_deken.tcl> <archive> <install-dir> <library> <version> <platform>...
#
# Puts an archive through Pd's own package manager code, as Pd's GUI would
# run it: the file name must parse to the library, version and platforms
# given (what the archive's metadata says and its files are built for); the
# archive must be accepted on each of those platforms and refused on every
# other combination of OS, CPU and float size; and the package manager's
# install procedure must unpack it into <install-dir>.
#
# pd_deken.tcl is a part of Pd's GUI: what it needs of the rest of the GUI is
# provided here by stand-ins that do no more than it asks. What it says to
# Pd's window is kept and shown when a check fails.

lassign $argv deken archive installdir library version
set expected [lsort [lrange $argv 5 end]]

set said {}
proc fail {msg} {
    puts stderr "deken-check: [file tail $::archive]: $msg"
    if {[llength $::said]} {
        puts stderr "the package manager said:\n[join $::said \n]"
    }
    exit 1
}

# ---- the parts of Pd's GUI that pd_deken.tcl requires -----------------------

# Translations: the message itself, formatted with its arguments.
proc _ {msg args} {
    if {[llength $args]} { return [format $msg {*}$args] }
    return $msg
}
proc say {what msg} { lappend ::said "$what: [string trimright $msg]" }
namespace eval ::pdwindow {
    proc post {msg} { say post $msg }
    proc debug {msg} { say debug $msg }
    proc error {msg} { say error $msg }
    proc fatal {msg} { say fatal $msg }
    proc verbose {level msg} { say "verbose $level" $msg }
}
package provide pdwindow 0.1
namespace eval ::pd_menucommands {
    proc menu_openfile {path} { say open $path }
}
package provide pd_menucommands 0.1
# No preferences saved: every setting at the package manager's default.
namespace eval ::pd_guiprefs {
    proc read {key} { return {} }
    proc write {key value} {}
}
package provide pd_guiprefs 0.1
package provide scrollboxwindow 0.1
package provide scrollbox 0.1
set ::current_plugin_loadpath {}
# Tk as far as it is reached: no window exists, a dialog box is answered "ok".
proc winfo {what args} { return 0 }
proc bind {args} {}
proc .pdwindow {args} { return .menubar }
proc .menubar {cmd args} { if {$cmd eq "index"} { return -1 } }
proc tk_messageBox {args} {
    say dialog [dict get $args -message]
    return ok
}

if {[catch {source $deken} err]} {
    fail "pd_deken.tcl does not load: $err"
}

# ---- its file name parser -----------------------------------------------------

lassign [::deken::utilities::parse_filename [file tail $archive]] name parsed archs
if {$name ne $library} { fail "parsed as library '$name', not '$library'" }
if {$parsed ne $version} { fail "parsed as version '$parsed', not '$version'" }
if {[lsort $archs] ne $expected} {
    fail "parsed as platforms {$archs}; the files inside are built for {$expected}"
}
puts "parsed: $name $parsed, platforms $archs"

# ---- whether it suits the running Pd -------------------------------------------

# Every combination of OS, CPU and float size that Pd is built for, the
# archive's own platforms among them.
set candidates {}
foreach os {Linux Darwin Windows} {
    foreach cpu {amd64 i386 armv6 armv7 arm64} {
        foreach floatsize {32 64} { lappend candidates $os-$cpu-$floatsize }
    }
}
foreach p $expected {
    if {$p ni $candidates} { fail "platform $p is none that Pd is built for" }
}
set accepted {}
foreach p $candidates {
    set ::deken::userplatform $p
    set match [::deken::architecture_match $archs]
    if {$match && $p ni $expected} { fail "accepted by a Pd on $p" }
    if {!$match && $p in $expected} { fail "refused by a Pd on $p" }
    if {$match} { lappend accepted $p }
}
# And without a platform chosen, as the package manager detects this machine.
set ::deken::userplatform {}
set here [::deken::platform2string]
if {[::deken::architecture_match $archs] != ($here in $expected)} {
    fail "on this machine ($here) [expr {$here in $expected ? {refused} : {accepted}}]"
}
puts "accepted on: $accepted (of [llength $candidates] platforms; this machine: $here)"

# ---- its install procedure -----------------------------------------------------

set ::deken::userplatform [lindex $expected 0]
file mkdir $installdir
# Keep the archive (the last argument): it is the one make package hands out.
::deken::install_package $archive {} $installdir 1
if {![string match {*Successfully installed*} [join $said \n]]} {
    fail "the install procedure did not succeed"
}
if {![file isdirectory [file join $installdir $library]]} {
    fail "installed no folder $library into $installdir"
}
puts "installed: [file join $installdir $library]"
