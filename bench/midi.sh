# The MIDI objects against Pd's own counterparts: N floats through each from an
# [until] counter, timed with [realtime] (best of 5). Batch mode opens no MIDI
# device, so the senders run all of Pd's output path except the write itself.
# An empty counter loop is timed too; its cost is subtracted from every figure.
N=1000000

# Every loop passes the count through a [t f]; "empty" stops there, so the
# difference is the object's own cost.
sections="empty|-
qo_knob|qo_knob 7 1
ctlout|ctlout 7 1
qo_wheel|qo_wheel 1
bendout|bendout 1
offcull|offcull
stripnote|stripnote"
{
  echo "#N canvas 0 0 900 600 12;"
  base=0 x=10
  printf '%s\n' "$sections" | while IFS='|' read -r label box; do
    counted_loop $base $x "$label" $N "obj t f" "$box"
    base=$((base + 10)) x=$((x + 200))
  done
  go=$(printf '%s\n' "$sections" | while IFS='|' read -r label box; do bangs "$label" 5; done)
  # offcull (box 59) and stripnote (box 69) pass every pitch on: velocity 64
  # at their right inlets first.
  echo "#X obj 10 400 loadbang;"
  echo "#X msg 10 430 \\; v 64 $go \\; pd quit;"
  echo "#X obj 300 400 r v;"
  echo "#X connect 70 0 71 0;"
  echo "#X connect 72 0 59 1;"
  echo "#X connect 72 0 69 1;"
} > "$WORK/midi.pd"

out=$(pd_run "$WORK/midi.pd")
empty_ms=$(best_ms empty "$out")
net() { awk -v a="$1" -v b="$empty_ms" 'BEGIN { printf "%.1f", a - b }'; }
for pair in "qo_knob ctlout" "qo_wheel bendout" "offcull stripnote"; do
  set -- $pair
  ours=$(net "$(best_ms "$1" "$out")")
  theirs=$(net "$(best_ms "$2" "$out")")
  r=$(ratio "$ours" "$theirs")
  echo "$1, $N floats: $ours ms beyond the loop; Pd's [$2]: $theirs ms -> ratio $r (target <= 1.1)"
  against_pd "$1 / $2" "$r" "<=1.1"
done
echo "  (empty counter loop: $empty_ms ms)"
