# Shared by the benchmark scripts: where things are and how Pd runs.
# BUILD is the build folder (absolute); WORK a scratch folder per script.
pd_run() {
  # pd_run <patch> [more Pd flags...]: batch run, console on stdout
  patch=$1; shift
  pd -nogui -noprefs -noaudio -nrt -batch -stderr -path "$BUILD/lorvex" "$@" \
     -open "$patch" 2>&1
}

# best_ms <label> <output>: the smallest "label: <ms>" figure Pd printed
best_ms() {
  printf '%s\n' "$2" | awk -v l="$1:" '$1 == l { if (best == "" || $2 < best) best = $2 } END { print best }'
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
