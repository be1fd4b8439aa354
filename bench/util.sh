# The message utilities against the nearest thing Pd offers of its own, one
# million messages each, timed with [realtime] (best of 5). The loop that
# feeds them ([until] and a counter) is timed alone as "loop" and is part of
# every figure.
N=1000000

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
    counted_loop $base $x "$label" $N "$src" "$box"
    base=$((base + 10)) x=$((x + 200))
  done
  go=$(printf '%s\n' "$pairs" | while IFS='|' read -r label src box; do bangs "$label" 5; done)
  n=$(($(printf '%s\n' "$pairs" | wc -l) * 10))
  echo "#X obj 10 300 loadbang;"
  echo "#X msg 10 330 $go \\; pd quit;"
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
    r=$(ratio "$ours" "$theirs")
    echo "$1: $ours ms, Pd's [$2]: $theirs ms -> ratio $r (target <= 1)"
    against_pd "$1 / $2" "$r" "<=1"
  fi
done
