# pathsift listing a folder of 100,000 files (search and one bang per path,
# until the end bang), against Pd's own [file glob] on the same pattern.
# Both feed each path to the same counter; best of 5 runs each, interleaved.
N=100000
mkdir -p "$WORK/files"
(cd "$WORK/files" && seq -f 'f%06g.dat' 0 $((N - 1)) | xargs touch)
PATTERN="$WORK/files/*.dat"

cat > "$WORK/system.pd" <<PATCH
#N canvas 0 0 900 700 12;
#X obj 10 10 r go;
#X obj 10 40 t b b b b b;
#X msg 200 70 0;
#X obj 10 250 realtime;
#X msg 80 100 rewind;
#X obj 40 130 until;
#X obj 40 160 pathsift $PATTERN;
#X obj 40 190 t b;
#X obj 40 220 f;
#X obj 80 220 + 1;
#X obj 10 280 t b b;
#X obj 10 340 print pathsift;
#X obj 100 340 print pathsift-paths;
#X obj 100 310 f;
#X obj 450 10 r vgo;
#X obj 450 40 t b b b b;
#X msg 640 70 0;
#X obj 450 250 realtime;
#X msg 480 100 symbol $PATTERN;
#X obj 480 160 file glob;
#X obj 480 190 t b;
#X obj 480 220 f;
#X obj 520 220 + 1;
#X obj 450 280 t b b;
#X obj 450 340 print file-glob;
#X obj 540 340 print file-glob-paths;
#X obj 540 310 f;
#X obj 10 400 loadbang;
#X msg 10 430 \; go bang \; vgo bang \; go bang \; vgo bang \; go bang \; vgo bang \; go bang \; vgo bang \; go bang \; vgo bang \; pd quit;
#X connect 0 0 1 0;
#X connect 1 4 2 0;
#X connect 2 0 8 1;
#X connect 2 0 13 1;
#X connect 1 3 3 0;
#X connect 1 2 4 0;
#X connect 4 0 6 0;
#X connect 1 1 5 0;
#X connect 5 0 6 0;
#X connect 6 2 5 1;
#X connect 6 0 7 0;
#X connect 7 0 8 0;
#X connect 8 0 9 0;
#X connect 9 0 8 1;
#X connect 9 0 13 1;
#X connect 1 0 10 0;
#X connect 10 1 3 1;
#X connect 3 0 11 0;
#X connect 10 0 13 0;
#X connect 13 0 12 0;
#X connect 14 0 15 0;
#X connect 15 3 16 0;
#X connect 16 0 21 1;
#X connect 16 0 26 1;
#X connect 15 2 17 0;
#X connect 15 1 18 0;
#X connect 18 0 19 0;
#X connect 19 0 20 0;
#X connect 20 0 21 0;
#X connect 21 0 22 0;
#X connect 22 0 21 1;
#X connect 22 0 26 1;
#X connect 15 0 23 0;
#X connect 23 1 17 1;
#X connect 17 0 24 0;
#X connect 23 0 26 0;
#X connect 26 0 25 0;
#X connect 27 0 28 0;
PATCH
out=$(pd_run "$WORK/system.pd")
ps_ms=$(best_ms pathsift "$out")
fg_ms=$(best_ms file-glob "$out")
ps_n=$(printf '%s\n' "$out" | awk '$1 == "pathsift-paths:" { n = $2 } END { print n }')
fg_n=$(printf '%s\n' "$out" | awk '$1 == "file-glob-paths:" { n = $2 } END { print n }')
echo "pathsift, $N files: $ps_ms ms for $ps_n paths (best of 5)"
r=$(ratio "$ps_ms" "$fg_ms")
echo "  [file glob], same pattern: $fg_ms ms for $fg_n paths -> ratio $r (target <= 1.2)"
against_pd "pathsift / file glob" "$r" "<=1.2"
