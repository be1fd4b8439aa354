# What embedding Pd costs (bench/embed.cpp in a program linking libpd): the
# signal objects' work in one instance against the same work split over two
# instances on two threads (throughput; nothing the objects share may make
# them wait for each other), and the multi-instance plug-ins in the
# multi-instance libpd against the regular plug-ins in a libpd of one
# instance (their perform routines must cost the same). Best of three.
if [ -d "$BUILD/lorvex-multi" ]; then
  "$ROOT/scripts/pd-libpd" "$BUILD/pd-libpd-single" single >/dev/null
  for flavour in multi single; do
    dir="$BUILD/pd-libpd"; defs="-DPDINSTANCE=1 -DPDTHREADS=1"
    [ $flavour = single ] && { dir="$BUILD/pd-libpd-single"; defs=""; }
    c++ -std=c++20 -O2 $defs -I"$dir/include" "$ROOT/bench/embed.cpp" -L"$dir/lib" -lpd \
      -Wl,-rpath,"$dir/lib" -pthread -o "$WORK/embed-$flavour"
  done
  # 8 each of the signal objects on a 2048-point table, and the same patch
  # without them (what Pd itself spends).
  embed_patch() {
    {
      echo "#N canvas 0 0 600 400 12;"
      echo "#X obj 10 10 array define lvxt 2051;"
      echo "#X msg 10 40 \\; lvxt sinesum 2048 1 0.5 0.25;"
      echo "#X obj 10 70 loadbang;"
      echo "#X obj 10 100 phasor~ 220;"
      echo "#X obj 10 130 *~ 2048;"
      n=0
      if [ "$1" = objects ]; then
        for box in "wavlim~ lvxt" "wavcub~ lvxt" "peekcub~ lvxt" "duopol~"; do
          k=0
          while [ $k -lt 8 ]; do echo "#X obj 10 160 $box;"; k=$((k + 1)); n=$((n + 1)); done
        done
      fi
      echo "#X connect 2 0 1 0;"
      echo "#X connect 3 0 4 0;"
      i=0
      while [ $i -lt $n ]; do
        echo "#X connect 4 0 $((5 + i)) 0;"
        i=$((i + 1))
      done
    } > "$2"
  }
  embed_patch objects "$WORK/objects.pd"
  embed_patch none "$WORK/none.pd"
  best() {
    b=""
    for r in 1 2 3; do
      v=$("$@" | awk '$1 == "ms:" { print $2 }')
      if [ -z "$b" ] || awk -v v="$v" -v b="$b" 'BEGIN { exit !(v < b) }'; then b=$v; fi
    done
    echo "$b"
  }
  secs=20
  alone=$(best "$WORK/embed-multi" "$BUILD/lorvex-multi" "$WORK/objects.pd" $secs 2 alone)
  together=$(best "$WORK/embed-multi" "$BUILD/lorvex-multi" "$WORK/objects.pd" $secs 2 together)
  echo "two instances, $secs s of audio each, 32 signal objects: one thread $alone ms, two threads $together ms"
  echo "  throughput ratio $(ratio "$alone" "$together") (target > 1.8 with two idle cores)"
  m_obj=$(best "$WORK/embed-multi" "$BUILD/lorvex-multi" "$WORK/objects.pd" $secs 1 alone)
  m_none=$(best "$WORK/embed-multi" "$BUILD/lorvex-multi" "$WORK/none.pd" $secs 1 alone)
  s_obj=$(best "$WORK/embed-single" "$BUILD/lorvex" "$WORK/objects.pd" $secs 1 alone)
  s_none=$(best "$WORK/embed-single" "$BUILD/lorvex" "$WORK/none.pd" $secs 1 alone)
  m=$(awk -v a="$m_obj" -v b="$m_none" 'BEGIN { printf "%.1f", a - b }')
  s=$(awk -v a="$s_obj" -v b="$s_none" 'BEGIN { printf "%.1f", a - b }')
  echo "the objects' own work, $secs s of audio (Pd's part subtracted): multi-instance $m ms, single $s ms"
  echo "  ratio $(ratio "$m" "$s") (target <= 1.05)"
else
  echo "no multi-instance flavour built (LORVEX_MULTI=OFF)"
fi
