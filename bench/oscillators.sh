# The table oscillators and reader against Pd's own: 64 instances of each,
# driven by one shared signal, for 60 s of audio in batch mode. Each figure
# is Pd's CPU time ([cputime]: steadier than the clock on a shared machine),
# the best of three runs taken in turns; the driver's own cost (a run with
# no instances) is subtracted before the ratios are formed.
SECONDS_OF_AUDIO=${OSC_BENCH_SECONDS:-60}
INSTANCES=64
ROUNDS=${OSC_BENCH_ROUNDS:-3}

# osc_patch <file> <label> <driver: freq|index> <box text> [message to every instance]
osc_patch() {
  file=$1 label=$2 driver=$3 box=$4 msg=${5:-}
  {
    echo "#N canvas 0 0 900 600 12;"
    echo "#X obj 10 10 array define bench-table 2051;"
    if [ "$driver" = freq ]; then
      # a slow vibrato around 440 Hz
      echo "#X obj 10 40 osc~ 0.25;"
      echo "#X obj 10 70 *~ 200;"
      echo "#X obj 10 100 +~ 440;"
    else
      # a ramp over the table, with a little of everything outside it
      echo "#X obj 10 40 phasor~ 3;"
      echo "#X obj 10 70 *~ 2060;"
      echo "#X obj 10 100 +~ -4;"
    fi
    echo "#X obj 10 130 loadbang;"
    echo "#X obj 10 160 t b b b;"
    echo "#X msg 10 190 \\; bench-table sinesum 2048 1 0.5 0.33 0.25 0.2 \\; pd dsp 1;"
    echo "#X obj 10 220 cputime;"
    echo "#X obj 200 190 delay $((SECONDS_OF_AUDIO * 1000));"
    echo "#X obj 200 220 t b b;"
    echo "#X obj 10 250 print $label;"
    echo "#X msg 200 250 \\; pd quit;"
    # Box 12: the message every instance gets at load ("set" when none is
    # asked for, which every class here takes and which changes nothing).
    echo "#X msg 300 10 ${msg:-set bench-table};"
    # [t b b b] fires right to left. At load: the instances' message, then
    # the table and DSP, then the clocks. At the end: elapsed time, then quit.
    echo "#X connect 1 0 2 0;"
    echo "#X connect 2 0 3 0;"
    echo "#X connect 4 0 5 0;"
    echo "#X connect 5 2 12 0;"
    echo "#X connect 5 1 6 0;"
    echo "#X connect 5 0 7 0;"
    echo "#X connect 5 0 8 0;"
    echo "#X connect 8 0 9 0;"
    echo "#X connect 9 1 7 1;"
    echo "#X connect 7 0 10 0;"
    echo "#X connect 9 0 11 0;"
    # The instances, boxes 13 on, each fed by the driver and the message.
    i=0
    while [ -n "$box" ] && [ "$i" -lt "$INSTANCES" ]; do
      echo "#X obj 400 $((10 + i * 8)) $box;"
      echo "#X connect 3 0 $((13 + i)) 0;"
      echo "#X connect 12 0 $((13 + i)) 0;"
      i=$((i + 1))
    done
  } > "$file"
}

osc_patch "$WORK/base-freq.pd" base-freq freq ""
osc_patch "$WORK/base-index.pd" base-index index ""
osc_patch "$WORK/wavcub.pd" wavcub freq "wavcub~ bench-table"
osc_patch "$WORK/tabosc4.pd" tabosc4 freq "tabosc4~ bench-table"
osc_patch "$WORK/wavlim1.pd" wavlim1 freq "wavlim~ bench-table" "cutoff 12000"
osc_patch "$WORK/wavlim4.pd" wavlim4 freq "wavlim~ bench-table" "upsample 4 \\, cutoff 12000"
osc_patch "$WORK/peekcub.pd" peekcub index "peekcub~ bench-table"
osc_patch "$WORK/tabread4.pd" tabread4 index "tabread4~ bench-table"

out=""
round=0
while [ "$round" -lt "$ROUNDS" ]; do
  for p in base-freq wavcub tabosc4 wavlim1 wavlim4 base-index peekcub tabread4; do
    out="$out
$(pd_run "$WORK/$p.pd")"
  done
  round=$((round + 1))
done
for p in base-freq wavcub tabosc4 wavlim1 wavlim4 base-index peekcub tabread4; do
  eval "ms_$(echo "$p" | tr - _)=\$(best_ms $p \"\$out\")"
done

net() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", a - b }'; }
cub=$(net "$ms_wavcub" "$ms_base_freq")
osc4=$(net "$ms_tabosc4" "$ms_base_freq")
lim1=$(net "$ms_wavlim1" "$ms_base_freq")
lim4=$(net "$ms_wavlim4" "$ms_base_freq")
peek=$(net "$ms_peekcub" "$ms_base_index")
read4=$(net "$ms_tabread4" "$ms_base_index")

echo "$INSTANCES instances, $SECONDS_OF_AUDIO s of audio, best of $ROUNDS (CPU ms, driver subtracted):"
echo "  driver alone: $ms_base_freq (frequency), $ms_base_index (index)"
r_cub=$(ratio "$cub" "$osc4") r_peek=$(ratio "$peek" "$read4") r_lim=$(ratio "$lim1" "$osc4")
echo "  wavcub~ $cub, tabosc4~ $osc4 -> ratio $r_cub (target <= 1.0)"
echo "  peekcub~ $peek, tabread4~ $read4 -> ratio $r_peek (target <= 1.0)"
echo "  wavlim~ factor 1 with filter $lim1, tabosc4~ $osc4 -> ratio $r_lim (target <= 1.5)"
echo "  wavlim~ factor 4 $lim4, factor 1 $lim1 -> ratio $(ratio "$lim4" "$lim1") (target <= 4)"
against_pd "wavcub~ / tabosc4~" "$r_cub" "<=1.0"
against_pd "peekcub~ / tabread4~" "$r_peek" "<=1.0"
against_pd "wavlim~ (filter on) / tabosc4~" "$r_lim" "<=1.5"
