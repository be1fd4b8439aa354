# The message utilities against the nearest thing Pd offers of its own, one
# million messages each, timed with [realtime] (best of 5). The loop that
# feeds them ([until] and a counter) is timed alone as "loop" and is part of
# every figure.
N=1000000

# util_pair <label> <source> <object box> <base> <x>: a patch section at
# column x that sends N messages from the source into the object on
# "go-<label>". The source is "obj <text>" (fed the count) or "msg <text>"
# (a message box sending its text every time).
util_pair() {
  label=$1 src=$2 box=$3 base=$4 x=$5
  cat <<PATCH
#X obj $x 10 r go-$label;
#X obj $x 40 t b b b;
#X obj $x 70 realtime;
#X obj $x 100 print $label;
#X msg $((x + 60)) 70 $N;
#X obj $((x + 60)) 100 until;
#X obj $((x + 60)) 130 f;
#X obj $((x + 110)) 130 + 1;
#X ${src%% *} $((x + 60)) 160 ${src#* };
#X obj $((x + 60)) 190 $box;
#X connect $base 0 $((base + 1)) 0;
#X connect $((base + 1)) 2 $((base + 2)) 0;
#X connect $((base + 1)) 1 $((base + 4)) 0;
#X connect $((base + 1)) 0 $((base + 2)) 1;
#X connect $((base + 2)) 0 $((base + 3)) 0;
#X connect $((base + 4)) 0 $((base + 5)) 0;
#X connect $((base + 5)) 0 $((base + 6)) 0;
#X connect $((base + 6)) 0 $((base + 7)) 0;
#X connect $((base + 7)) 0 $((base + 6)) 1;
#X connect $((base + 6)) 0 $((base + 8)) 0;
#X connect $((base + 8)) 0 $((base + 9)) 0;
PATCH
}

pairs="loop|obj t f|t b
gainlog|obj t f|gainlog
rmstodb|obj t f|rmstodb
numglyph|obj t f|numglyph
makefilename|obj t f|makefilename %c
glyphnum|msg symbol hello|glyphnum
fromsymbol|msg symbol hello|list fromsymbol
textnum|msg symbol -12.5e3dB|textnum
numbytes|obj t f|numbytes"

{
  echo "#N canvas 0 0 900 600 12;"
  base=0 x=10 go=""
  printf '%s\n' "$pairs" | while IFS='|' read -r label src box; do
    util_pair "$label" "$src" "$box" $base $x
    base=$((base + 10)) x=$((x + 200))
  done
  go=$(printf '%s\n' "$pairs" | while IFS='|' read -r label src box; do
    printf '\\; go-%s bang \\; go-%s bang \\; go-%s bang \\; go-%s bang \\; go-%s bang ' \
      "$label" "$label" "$label" "$label" "$label"
  done)
  n=$(($(printf '%s\n' "$pairs" | wc -l) * 10))
  echo "#X obj 10 300 loadbang;"
  echo "#X msg 10 330 $go\\; pd quit;"
  echo "#X connect $n 0 $((n + 1)) 0;"
} > "$WORK/util.pd"

out=$(pd_run "$WORK/util.pd")
loop_ms=$(best_ms loop "$out")
echo "feeding loop alone, 1M messages: $loop_ms ms"
for cmp in "gainlog rmstodb" "numglyph makefilename" "glyphnum fromsymbol" "textnum -" "numbytes -"; do
  set -- $cmp
  ours=$(best_ms "$1" "$out")
  if [ "$2" = - ]; then
    echo "$1: $ours ms"
  else
    theirs=$(best_ms "$2" "$out")
    echo "$1: $ours ms, Pd's [$2]: $theirs ms -> ratio $(ratio "$ours" "$theirs") (target <= 1)"
  fi
done
