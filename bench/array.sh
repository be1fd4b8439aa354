# The array objects on 16M-element arrays, each against a compiled loop with
# the same memory traffic (and orvo_lo also against the same minimum patched
# from Pd's own objects).
N=16777216
# Best of this many runs, object and loop alike: the machine may be shared.
RUNS=${RUNS:-11}

# timed <index> <x> <label> <box>: the box, whose first inlet gets a bang from
# [r go-<label>] between two readings of [realtime], which prints
# "<label>: <ms>". Five boxes from <index> on.
timed() {
  i=$1 x=$2 label=$3; shift 3
  cat <<BOXES
#X obj $x 100 $*;
#X obj $x 130 r go-$label;
#X obj $x 160 t b b b;
#X obj $x 190 realtime;
#X obj $x 220 print $label;
#X connect $((i + 1)) 0 $((i + 2)) 0;
#X connect $((i + 2)) 2 $((i + 3)) 0;
#X connect $((i + 2)) 1 $i 0;
#X connect $((i + 2)) 0 $((i + 3)) 1;
#X connect $((i + 3)) 0 $((i + 4)) 0;
BOXES
}

# go <label>: RUNS computations, as message-box text.
go() { bangs "$1" "$RUNS"; }

# report <label> <ms> <loop ms>
report() {
  echo "$1: $2 ms (best of $RUNS)"
  echo "  compiled loop, same traffic: $3 ms -> ratio $(ratio "$2" "$3") (target <= 2)"
}

# orvo_lo over two arrays; the vanilla loop starts at [t b b] (box 8).
{
  cat <<PATCH
#N canvas 0 0 900 600 12;
#X obj 10 10 array define a $N;
#X obj 10 40 array define b $N;
#X obj 10 70 array define c $N;
PATCH
  timed 3 10 orvo_lo orvo_lo a b c
  timed 8 300 vanilla t b b
  cat <<PATCH
#X msg 400 280 $N;
#X msg 480 280 0;
#X obj 400 310 until;
#X obj 400 340 f;
#X obj 450 340 + 1;
#X obj 400 370 t f f f;
#X obj 400 400 tabread a;
#X obj 500 400 tabread b;
#X obj 400 430 min;
#X obj 400 460 tabwrite c;
#X obj 600 10 loadbang;
#X msg 600 40 \; a sinesum $N 1 0.5 0.25 \; b cosinesum $N 0.3 1 0.2 0.7$(go orvo_lo) \; go-vanilla bang \; pd quit;
#X connect 8 1 14 0;
#X connect 8 0 13 0;
#X connect 14 0 16 1;
#X connect 13 0 15 0;
#X connect 15 0 16 0;
#X connect 16 0 17 0;
#X connect 17 0 16 1;
#X connect 16 0 18 0;
#X connect 18 2 22 1;
#X connect 18 1 20 0;
#X connect 18 0 19 0;
#X connect 20 0 21 1;
#X connect 19 0 21 0;
#X connect 21 0 22 0;
#X connect 23 0 24 0;
PATCH
} > "$WORK/minmax.pd"

# orvo_thinmean (factor 16) and orvo_accum over one 16M-element source.
{
  cat <<PATCH
#N canvas 0 0 900 600 12;
#X obj 10 10 array define ta $N;
#X obj 10 40 array define tm $((N / 16));
#X obj 10 70 array define tc $N;
PATCH
  timed 3 10 orvo_thinmean orvo_thinmean ta tm 16
  timed 8 300 orvo_accum orvo_accum ta tc
  cat <<PATCH
#X obj 600 10 loadbang;
#X msg 600 40 \; ta sinesum $N 1 0.5 0.25$(go orvo_thinmean)$(go orvo_accum) \; pd quit;
#X connect 13 0 14 0;
PATCH
} > "$WORK/resample.pd"

min_loop_ms=$("$BUILD/bench/loops" min $N "$RUNS" | cut -d' ' -f1)
mean_loop_ms=$("$BUILD/bench/loops" mean16 $N "$RUNS" | cut -d' ' -f1)
accum_loop_ms=$("$BUILD/bench/loops" accum $N "$RUNS" | cut -d' ' -f1)

out=$(pd_run "$WORK/minmax.pd")
obj_ms=$(best_ms orvo_lo "$out")
van_ms=$(best_ms vanilla "$out")
report "orvo_lo, 16M elements" "$obj_ms" "$min_loop_ms"
r=$(ratio "$van_ms" "$obj_ms")
echo "  vanilla Pd loop: $van_ms ms -> orvo_lo is ${r}x faster (target > 50)"
against_pd "orvo_lo, times faster than a Pd loop" "$r" ">50"

out=$(pd_run "$WORK/resample.pd")
report "orvo_thinmean, factor 16, 16M elements" "$(best_ms orvo_thinmean "$out")" "$mean_loop_ms"
report "orvo_accum, 16M elements" "$(best_ms orvo_accum "$out")" "$accum_loop_ms"
