# Shared by the benchmark scripts: where things are and how Pd runs.
# BUILD is the build folder (absolute); WORK a scratch folder per script; PD
# the command that starts the Pd release being measured (default: pd).
pd_run() {
  # pd_run <patch> [more Pd flags...]: batch run, console on stdout. The rate
  # is given, as releases differ in their default: the same work on each.
  patch=$1; shift
  ${PD:-pd} -nogui -noprefs -noaudio -nrt -batch -stderr -r 44100 -path "$BUILD/lorvex" "$@" \
     -open "$patch" 2>&1
}

# against_pd <name> <ratio> <target>: notes a ratio to one of Pd's own objects
# (target "<=1.0", or ">50" for a speed-up) for the table of releases that
# scripts/bench prints at the end (into RATIOS, when set).
against_pd() {
  [ -z "${RATIOS:-}" ] || printf '%s|%s|%s\n' "$1" "$2" "$3" >> "$RATIOS"
}

# best_ms <label> <output>: the smallest "label: <ms>" figure Pd printed
best_ms() {
  printf '%s\n' "$2" | awk -v l="$1:" '$1 == l { if (best == "" || $2 < best) best = $2 } END { print best }'
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }

# bangs <label> <count>: message-box text that bangs [r go-<label>] count times.
bangs() {
  k=0
  while [ "$k" -lt "$2" ]; do printf ' \\; go-%s bang' "$1"; k=$((k + 1)); done
}

# counted_loop <index> <x> <label> <n> <source> <box>: a patch section (10
# boxes from <index>, in the column at x) that, on a bang to [r go-<label>],
# sends n counts from an [until] counter through <source> ("obj <text>" fed
# the count, or "msg <text>" sent every time) into <box>, and prints the time
# it took as "<label>: <ms>". <box> is the section's last box, index + 9;
# "-" leaves it out (a comment stands in its place), to time the loop alone.
counted_loop() {
  i=$1 x=$2 label=$3 n=$4 src=$5 box=$6
  if [ "$box" = - ]; then last="text $((x + 60)) 190 (loop alone)"; else last="obj $((x + 60)) 190 $box"; fi
  cat <<PATCH
#X obj $x 10 r go-$label;
#X obj $x 40 t b b b;
#X obj $x 70 realtime;
#X obj $x 100 print $label;
#X msg $((x + 60)) 70 $n;
#X obj $((x + 60)) 100 until;
#X obj $((x + 60)) 130 f;
#X obj $((x + 110)) 130 + 1;
#X ${src%% *} $((x + 60)) 160 ${src#* };
#X $last;
#X connect $i 0 $((i + 1)) 0;
#X connect $((i + 1)) 2 $((i + 2)) 0;
#X connect $((i + 1)) 1 $((i + 4)) 0;
#X connect $((i + 1)) 0 $((i + 2)) 1;
#X connect $((i + 2)) 0 $((i + 3)) 0;
#X connect $((i + 4)) 0 $((i + 5)) 0;
#X connect $((i + 5)) 0 $((i + 6)) 0;
#X connect $((i + 6)) 0 $((i + 7)) 0;
#X connect $((i + 7)) 0 $((i + 6)) 1;
#X connect $((i + 6)) 0 $((i + 8)) 0;
PATCH
  [ "$box" = - ] || echo "#X connect $((i + 8)) 0 $((i + 9)) 0;"
}
