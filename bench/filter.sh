# 64 duopol~ filtering noise for 60 s of audio in batch mode, their five
# coefficients read from signals, against 64 of Pd's own biquad~ with the
# same low-pass given as constant coefficients. Best of three runs each.
filter_patch() {
  # filter_patch <file> <label> <box text>: 64 such boxes fed by one noise~;
  # duopol~'s coefficient inlets get five shared [sig~] signals.
  {
    echo "#N canvas 0 0 900 600 12;"
    echo "#X obj 10 10 noise~;"
    for c in -1.1429805 0.41280159 0.067455276 0.13491055 0.067455276; do
      echo "#X obj 10 40 sig~ $c;"
    done
    i=0
    while [ $i -lt 64 ]; do
      echo "#X obj 10 70 $3;"
      i=$((i + 1))
    done
    echo "#X obj 300 10 loadbang;"
    echo "#X obj 300 40 t b b b;"
    echo "#X msg 400 70 \\; pd dsp 1;"
    echo "#X obj 300 100 realtime;"
    echo "#X obj 300 70 delay 60000;"
    echo "#X obj 300 130 print $2;"
    echo "#X msg 500 70 \\; pd quit;"
    i=0
    while [ $i -lt 64 ]; do
      box=$((6 + i))
      echo "#X connect 0 0 $box 0;"
      case "$3" in duopol~*)
        for k in 1 2 3 4 5; do echo "#X connect $k 0 $box $k;"; done ;;
      esac
      i=$((i + 1))
    done
    # loadbang 70, t 71, dsp 72, realtime 73, delay 74, print 75, quit 76
    echo "#X connect 70 0 71 0;"
    echo "#X connect 71 2 72 0;"
    echo "#X connect 71 1 73 0;"
    echo "#X connect 71 0 74 0;"
    echo "#X connect 74 0 73 1;"
    echo "#X connect 73 0 75 0;"
    echo "#X connect 74 0 76 0;"
  } > "$1"
}

filter_patch "$WORK/duopol.pd" duopol "duopol~"
filter_patch "$WORK/biquad.pd" biquad "biquad~ 1.1429805 -0.41280159 0.067455276 0.13491055 0.067455276"
duo_out="" ; bq_out=""
for run in 1 2 3; do
  duo_out="$duo_out
$(pd_run "$WORK/duopol.pd")"
  bq_out="$bq_out
$(pd_run "$WORK/biquad.pd")"
done
duo_ms=$(best_ms duopol "$duo_out")
bq_ms=$(best_ms biquad "$bq_out")
echo "duopol~ x64, 60 s of audio: $duo_ms ms (best of 3)"
r_duo=$(ratio "$duo_ms" "$bq_ms")
echo "  biquad~ x64, constant coefficients: $bq_ms ms -> ratio $r_duo (target <= 1.1)"
against_pd "duopol~ / biquad~" "$r_duo" "<=1.1"
