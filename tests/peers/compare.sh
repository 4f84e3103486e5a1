#!/usr/bin/env bash
# compare.sh SCAN DIR: reads every file of DIR/in with varnok-scan, srec_info, srec_cat and objcopy (where installed)
# and prints, a line each, whether each reader takes the file, whether srec_info gives the same data ranges, and
# whether srec_cat and objcopy load the same image (from the lowest to the highest address, gaps 0xFF; images above
# 16 MiB are left out). Ends with the agreement counts. Not run by ctest: the other readers are not build tools.
set -u
scan=$1 dir=$2
work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT
cd "$dir/in" || exit 2
have() { command -v "$1" >/dev/null; }
declare -A agree=() compared=()
count() { compared[$1]=$((${compared[$1]:-0} + 1)); [ "$2" = same ] && agree[$1]=$((${agree[$1]:-0} + 1)); }
# The ranges srec_info prints, one "FIRST LAST" line each in lower-case hex without leading zeros.
info_ranges() {
  local on=0 first dash last rest
  while read -r first dash last rest; do
    [ "$first" = Data: ] && { on=1; first=$dash dash=$last last=$rest; }
    [ $on = 1 ] && [ "$dash" = - ] || { on=0; continue; }
    printf '%x %x\n' $((16#$first)) $((16#$last))
  done < "$1"
}
printf '%-36s %-6s %-6s %-6s %-7s %-8s %s\n' FILE varnok info objcopy ranges srec_cat objcopy
for file in *; do
  case $file in *.args) continue ;; esac
  "$scan" --ranges --digest "$file" > "$work/v" 2>/dev/null </dev/null &
  pid=$!
  ( sleep 20; kill "$pid" 2>/dev/null ) & guard=$!
  wait "$pid"; v_rc=$?; kill "$guard" 2>/dev/null
  v=$([ $v_rc -eq 0 ] && echo takes || echo refuses)
  line=$(printf '%-36s %-6s' "$file" "${v/takes/ok}")
  low=$(sed -n 's/^Lowest address: 0x//p' "$work/v"); high=$(sed -n 's/^Highest address: 0x//p' "$work/v")
  sha=$(sed -n 's/^SHA-256: //p' "$work/v")
  grep '^Data:' "$work/v" | while read -r _ first _ last; do printf '%x %x\n' $((first)) $((last)); done > "$work/v.ranges"
  small=no
  [ $v_rc -eq 0 ] && [ -n "$low" ] && [ $((0x$high - 0x$low)) -lt 16777216 ] && small=yes
  if have srec_info; then
    srec_info "$file" > "$work/i" 2>/dev/null; i_rc=$?
    i=$([ $i_rc -eq 0 ] && echo takes || echo refuses)
    count takes-info "$([ "$i" = "$v" ] && echo same)"
    line+=$(printf ' %-6s' "${i/takes/ok}")
  fi
  if have objcopy; then
    objcopy -I srec -O binary --gap-fill 0xFF "$file" "$work/o.bin" 2>/dev/null; o_rc=$?
    o=$([ $o_rc -eq 0 ] && echo takes || echo refuses)
    count takes-objcopy "$([ "$o" = "$v" ] && echo same)"
    line+=$(printf ' %-6s' "${o/takes/ok}")
  fi
  r=- s=- b=-
  if [ "${i:-}" = takes ] && [ "$v" = takes ]; then
    info_ranges "$work/i" > "$work/i.ranges"
    r=$(cmp -s "$work/v.ranges" "$work/i.ranges" && echo same || echo differs); count ranges "$r"
  fi
  if [ "$small" = yes ] && [ "${i:-}" = takes ] && have srec_cat; then
    # srec_cat refuses an address written twice with different values, which the others take.
    if srec_cat "$file" -fill 0xFF -over "$file" -o "$work/s.srec" 2>/dev/null &&
       srec_cat "$work/s.srec" -offset -0x"$low" -o "$work/s.bin" -binary 2>/dev/null; then
      s=$([ "$(sha256sum < "$work/s.bin" | cut -d' ' -f1)" = "$sha" ] && echo same || echo differs)
    else
      s=refuses
    fi
    count srec_cat "$s"
  fi
  if [ "$small" = yes ] && [ "${o:-}" = takes ]; then
    b=$([ "$(sha256sum < "$work/o.bin" | cut -d' ' -f1)" = "$sha" ] && echo same || echo differs); count objcopy "$b"
  fi
  printf '%s %-7s %-8s %s\n' "$line" "$r" "$s" "$b"
done
echo
for key in takes-info takes-objcopy ranges srec_cat objcopy; do
  [ -n "${compared[$key]:-}" ] && echo "$key: ${agree[$key]:-0} of ${compared[$key]} agree"
done
