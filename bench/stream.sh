# strimo~: 32 float channels at 48 kHz streamed over TCP to the local
# lorvex-recv, against the same batch render without the sender; and the cost
# of encoding a sample in each format (strimo~ unconnected, so it encodes but
# sends nothing).
CH=32
SECONDS_OF_AUDIO=60
RUNS=3

# stream_patch <file> <label> <mode> [port]: mode is base, stream, float, 16bit or 8bit
stream_patch() {
  file=$1 label=$2 mode=$3 peer=${4:-0}
  {
    echo "#N canvas 0 0 900 600 12;"
    echo "#X obj 10 10 loadbang;"                            # 0
    echo "#X msg 10 40 \\; pd dsp 1;"                        # 1
    echo "#X obj 10 70 realtime;"                            # 2
    echo "#X obj 10 100 print $label;"                       # 3
    echo "#X obj 10 130 delay $((SECONDS_OF_AUDIO * 1000));" # 4
    echo "#X msg 10 160 \\; pd quit;"                        # 5
    echo "#X obj 10 190 t b b;"                              # 6 start
    echo "#X obj 10 220 t b b;"                              # 7 stop
    i=0
    while [ $i -lt $CH ]; do                                 # 8 .. 8+CH-1
      echo "#X obj 200 $((10 + 20 * i)) osc~ $((110 + 7 * i));"
      i=$((i + 1))
    done
    s=$((8 + CH))
    if [ "$mode" = base ]; then
      echo "#X obj 10 250 delay 100;"                        # s: start after DSP is on
    else
      echo "#X obj 400 10 strimo~ $CH;"                      # s
      if [ "$mode" = stream ]; then
        echo "#X msg 400 40 connect 127.0.0.1 $peer;"        # s+1
        echo "#X obj 400 70 sel 1;"                          # s+2: start once connected
      else
        echo "#X msg 400 40 format $mode;"                   # s+1
        echo "#X obj 400 70 delay 100;"                      # s+2
      fi
    fi
    echo "#X connect 0 0 1 0;"
    echo "#X connect 6 1 2 0;"
    echo "#X connect 6 0 4 0;"
    echo "#X connect 4 0 7 0;"
    echo "#X connect 7 1 2 1;"
    echo "#X connect 7 0 5 0;"
    echo "#X connect 2 0 3 0;"
    if [ "$mode" = base ]; then
      echo "#X connect 0 0 $s 0;"
      echo "#X connect $s 0 6 0;"
    else
      i=0
      while [ $i -lt $CH ]; do
        echo "#X connect $((8 + i)) 0 $s $i;"
        i=$((i + 1))
      done
      echo "#X connect 0 0 $((s + 1)) 0;"
      echo "#X connect $((s + 1)) 0 $s 0;"
      if [ "$mode" = stream ]; then
        echo "#X connect $s 0 $((s + 2)) 0;"
      else
        echo "#X connect 0 0 $((s + 2)) 0;"
      fi
      echo "#X connect $((s + 2)) 0 6 0;"
    fi
  } > "$file"
}

# best_of <label> <patch>: the best of RUNS batch renders at 48 kHz
best_of() {
  all=""
  run=0
  while [ $run -lt $RUNS ]; do
    all="$all
$(pd_run "$2" -r 48000)"
    run=$((run + 1))
  done
  best_ms "$1" "$all"
}

"$BUILD/bin/lorvex-recv" -p 0 > "$WORK/recv.log" 2>&1 &
recv_pid=$!
port=""
while [ -z "$port" ]; do
  sleep 0.1
  port=$(awk '/^listening on tcp port/ { print $5 }' "$WORK/recv.log")
done

stream_patch "$WORK/base.pd" base base
stream_patch "$WORK/stream.pd" stream stream "$port"
base_ms=$(best_of base "$WORK/base.pd")
stream_ms=$(best_of stream "$WORK/stream.pd")
recv_cpu=$(awk '{ print ($14 + $15) * 10 }' "/proc/$recv_pid/stat")   # ms, at 100 ticks/s
kill "$recv_pid"
wait "$recv_pid" 2>/dev/null || true
frames=$(awk '/^summary:/ { print $5 }' "$WORK/recv.log")

echo "strimo~, $CH float channels over TCP to lorvex-recv, ${SECONDS_OF_AUDIO} s at 48 kHz: $stream_ms ms (best of $RUNS)"
echo "  same render without the sender: $base_ms ms -> ratio $(ratio "$stream_ms" "$base_ms")"
awk -v s="$stream_ms" -v b="$base_ms" -v d="$SECONDS_OF_AUDIO" \
  'BEGIN { printf "  added cost: %.2f %% of one core (target < 5)\n", (s - b) / (d * 10) }'
echo "  receiver: $frames frames in all runs, $recv_cpu ms of CPU"

audio_samples=$((SECONDS_OF_AUDIO * 48000 * CH))
for fmt in float 16bit 8bit; do
  stream_patch "$WORK/$fmt.pd" "$fmt" "$fmt"
  ms=$(best_of "$fmt" "$WORK/$fmt.pd")
  awk -v f="$fmt" -v m="$ms" -v b="$base_ms" -v n="$audio_samples" \
    'BEGIN { printf "  encode %s: %.2f ns per sample\n", f, (m - b) * 1e6 / n }'
done
