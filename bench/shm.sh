# karbox's memset and memdump of a 16M-element array, against a plain copy of
# the same bytes (memcpy of 16M floats) and against compiled loops with the
# same memory traffic (Pd's 8-byte words to 4-byte floats and back).
N=16777216
copy_ms=$("$BUILD/bench/loops" copy $N | cut -d' ' -f1)
in_ms=$("$BUILD/bench/loops" words_to_floats $N | cut -d' ' -f1)
out_ms=$("$BUILD/bench/loops" floats_to_words $N | cut -d' ' -f1)
# A key of this run only, exact in Pd's floats (even, between 2^24 and 2^25).
KEY=$((16777216 + ($$ % 4194304) * 2))

cat > "$WORK/shm.pd" <<PATCH
#N canvas 0 0 900 600 12;
#X obj 10 10 array define a $N;
#X obj 10 40 karbox $KEY $N;
#X obj 10 70 r set;
#X obj 10 100 t b b b;
#X obj 10 130 realtime;
#X obj 10 160 print memset;
#X msg 100 130 memset a;
#X obj 300 70 r dump;
#X obj 300 100 t b b b;
#X obj 300 130 realtime;
#X obj 300 160 print memdump;
#X msg 390 130 memdump a;
#X obj 600 10 loadbang;
#X msg 600 40 \; a sinesum $N 1 0.5 0.25 \; set bang \; set bang \; set bang \; set bang \; set bang \; dump bang \; dump bang \; dump bang \; dump bang \; dump bang \; pd quit;
#X connect 2 0 3 0;
#X connect 3 2 4 0;
#X connect 3 1 6 0;
#X connect 3 0 4 1;
#X connect 4 0 5 0;
#X connect 6 0 1 0;
#X connect 7 0 8 0;
#X connect 8 2 9 0;
#X connect 8 1 11 0;
#X connect 8 0 9 1;
#X connect 9 0 10 0;
#X connect 11 0 1 0;
#X connect 12 0 13 0;
PATCH
out=$(pd_run "$WORK/shm.pd")
# Pd removes the segment as it quits; this only matters if it did not get that far.
ipcrm -M "$KEY" 2>/dev/null || true
set_ms=$(best_ms memset "$out")
dump_ms=$(best_ms memdump "$out")
echo "karbox memset, 16M elements: $set_ms ms (best of 5)"
echo "  plain copy of the same bytes: $copy_ms ms -> ratio $(ratio "$set_ms" "$copy_ms") (target <= 2)"
echo "  compiled loop, same traffic: $in_ms ms -> ratio $(ratio "$set_ms" "$in_ms")"
echo "karbox memdump, 16M elements: $dump_ms ms (best of 5)"
echo "  plain copy of the same bytes: $copy_ms ms -> ratio $(ratio "$dump_ms" "$copy_ms") (target <= 2)"
echo "  compiled loop, same traffic: $out_ms ms -> ratio $(ratio "$dump_ms" "$out_ms")"
