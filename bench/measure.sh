# Shared by the bench/compare scripts (sourced, not run).
#
# Prints "median-seconds peak-rss-kb" of a command run N times (output discarded). The wall time is
# taken around GNU time, whose own figure has only 10 ms resolution; its start-up adds about 1 ms.
measure() {
  local n=$1; shift
  local samples=() start end rss
  for ((i = 0; i < n; i++)); do
    start=$EPOCHREALTIME
    rss=$(/usr/bin/time -f '%M' "$@" 2>&1 >/dev/null | tail -n 1) || true  # cmp and --diff exit 1 on a difference
    end=$EPOCHREALTIME
    samples+=("$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f", b - a }') $rss")
  done
  printf '%s\n' "${samples[@]}" | sort -n | awk '{ t[NR] = $1; if ($2 > m) m = $2 }
    END { printf "%s %d\n", (NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2), m }'
}

# Times commands in rounds, each round running every command once, so that the machine's drift over the minutes
# touches every command alike and their ratios hold; a command is one string of shell words, as printf %q quotes
# them. Prints "median-seconds peak-rss-kb" a line, in the commands' order.
#   measure_rounds N COMMAND...
measure_rounds() {
  local n=$1; shift
  local commands=("$@") samples=() peaks=() i r start end rss
  for ((r = 0; r < n; r++)); do
    for i in "${!commands[@]}"; do
      start=$EPOCHREALTIME
      rss=$(eval "/usr/bin/time -f '%M' ${commands[i]}" 2>&1 >/dev/null | tail -n 1) || true
      end=$EPOCHREALTIME
      samples[i]+="$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f", b - a }') "
      ((rss > ${peaks[i]:-0})) && peaks[i]=$rss
    done
  done
  for i in "${!commands[@]}"; do
    echo "$(tr ' ' '\n' <<<"${samples[i]}" | sed '/^$/d' | median) ${peaks[i]}"
  done
}

# The median of the numbers on standard input, one a line.
median() { sort -n | awk '{ t[NR] = $1 } END { print (NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2) }'; }

# The wall time in seconds of one run of a command, its output discarded.
seconds() {
  local start=$EPOCHREALTIME
  "$@" >/dev/null
  awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.4f\n", b - a }'
}

# Generates build-bench/data/NAME.s once with the project's own deterministic generator (built beforehand).
data=build-bench/data
gen() {  # name type bytes-per-record image-bytes
  mkdir -p "$data"
  [ -s "$data/$1.s" ] || build-bench/bench/varnok_srec_gen "$2" "$3" "$4" "$data/$1.s"
}
