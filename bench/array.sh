# orvo_lo on two 16M-element arrays, against a compiled loop with the same
# memory traffic and against the same minimum patched from Pd's own objects.
N=16777216
loop_ms=$("$BUILD/bench/loops" min $N | cut -d' ' -f1)

cat > "$WORK/minmax.pd" <<PATCH
#N canvas 0 0 900 600 12;
#X obj 10 10 array define a $N;
#X obj 10 40 array define b $N;
#X obj 10 70 array define c $N;
#X obj 10 100 orvo_lo a b c;
#X obj 10 130 r go;
#X obj 10 160 t b b b;
#X obj 10 190 realtime;
#X obj 10 220 print orvo_lo;
#X obj 300 130 r vgo;
#X obj 300 160 t b b b;
#X obj 300 190 realtime;
#X obj 300 220 print vanilla;
#X obj 400 250 t b b;
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
#X msg 600 40 \; a sinesum $N 1 0.5 0.25 \; b cosinesum $N 0.3 1 0.2 0.7 \; go bang \; go bang \; go bang \; go bang \; go bang \; vgo bang \; pd quit;
#X connect 4 0 5 0;
#X connect 5 2 6 0;
#X connect 5 1 3 0;
#X connect 5 0 6 1;
#X connect 6 0 7 0;
#X connect 8 0 9 0;
#X connect 9 2 10 0;
#X connect 9 1 12 0;
#X connect 9 0 10 1;
#X connect 10 0 11 0;
#X connect 12 1 14 0;
#X connect 12 0 13 0;
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
out=$(pd_run "$WORK/minmax.pd")
obj_ms=$(best_ms orvo_lo "$out")
van_ms=$(best_ms vanilla "$out")
echo "orvo_lo, 16M elements: $obj_ms ms (best of 5)"
echo "  compiled loop, same traffic: $loop_ms ms -> ratio $(ratio "$obj_ms" "$loop_ms") (target <= 2)"
echo "  vanilla Pd loop: $van_ms ms -> orvo_lo is $(ratio "$van_ms" "$obj_ms")x faster (target > 50)"
