# The MIDI objects against Pd's own counterparts: N floats through each from an
# [until] counter, timed with [realtime] (best of 5). Batch mode opens no MIDI
# device, so the senders run all of Pd's output path except the write itself.
# An empty counter loop is timed too; its cost is subtracted from every figure.
N=1000000

# block <first box index> <label> <object text> <inlet fed by the counter>
# prints the boxes and connections of one timed loop (9 boxes).
block() {
  b=$1; y=$(( (b / 9) * 40 + 10 ))
  cat <<BOXES
#X obj 10 $y r go_$2;
#X obj 100 $y t b b b;
#X obj 200 $y realtime;
#X obj 300 $y print $2;
#X msg 400 $y $N;
#X obj 480 $y until;
#X obj 560 $y f;
#X obj 620 $y + 1;
#X obj 680 $y $3;
#X connect $b 0 $((b+1)) 0;
#X connect $((b+1)) 2 $((b+2)) 0;
#X connect $((b+1)) 1 $((b+4)) 0;
#X connect $((b+1)) 0 $((b+2)) 1;
#X connect $((b+2)) 0 $((b+3)) 0;
#X connect $((b+4)) 0 $((b+5)) 0;
#X connect $((b+5)) 0 $((b+6)) 0;
#X connect $((b+6)) 0 $((b+7)) 0;
#X connect $((b+7)) 0 $((b+6)) 1;
BOXES
  [ "$3" = "" ] || echo "#X connect $((b+6)) 0 $((b+8)) $4;"
}

labels="empty qo_knob ctlout qo_wheel bendout offcull stripnote"
{
  echo "#N canvas 0 0 900 600 12;"
  block 0 empty "" 0
  block 9 qo_knob "qo_knob 7 1" 0
  block 18 ctlout "ctlout 7 1" 0
  block 27 qo_wheel "qo_wheel 1" 0
  block 36 bendout "bendout 1" 0
  # offcull and stripnote pass every pitch on: velocity 64 at the right inlet.
  block 45 offcull "offcull" 0
  block 54 stripnote "stripnote" 0
  go=""
  for l in $labels; do go="$go \\; go_$l bang \\; go_$l bang \\; go_$l bang \\; go_$l bang \\; go_$l bang"; done
  echo "#X obj 10 400 loadbang;"
  echo "#X msg 10 430 \\; v 64 $go \\; pd quit;"
  echo "#X obj 300 400 r v;"
  echo "#X connect 63 0 64 0;"
  echo "#X connect 65 0 53 1;"
  echo "#X connect 65 0 62 1;"
} > "$WORK/midi.pd"

out=$(pd_run "$WORK/midi.pd")
empty_ms=$(best_ms empty "$out")
net() { awk -v a="$1" -v b="$empty_ms" 'BEGIN { printf "%.1f", a - b }'; }
for pair in "qo_knob ctlout" "qo_wheel bendout" "offcull stripnote"; do
  set -- $pair
  ours=$(net "$(best_ms "$1" "$out")")
  theirs=$(net "$(best_ms "$2" "$out")")
  echo "$1, $N floats: $ours ms beyond the loop; Pd's [$2]: $theirs ms -> ratio $(ratio "$ours" "$theirs") (target <= 1.1)"
done
echo "  (empty counter loop: $empty_ms ms)"
