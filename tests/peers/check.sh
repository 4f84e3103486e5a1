#!/usr/bin/env bash
# check.sh SCAN DIR [--update]: runs varnok-scan over every file of DIR/in and compares what it prints on standard
# output, and its exit status, with DIR/expected/FILE.txt. The options are --ranges --digest, or those of FILE.args.
# With --update the expected files are written instead.
set -u
scan=$1 dir=$2 update=${3:-}
passed=0 failed=0
cd "$dir/in" || exit 2
for file in *; do
  case $file in *.args) continue ;; esac
  args="--ranges --digest"
  [ -f "$file.args" ] && args=$(cat "$file.args")
  # shellcheck disable=SC2086
  actual=$("$scan" $args "$file" 2>/dev/null; echo "rc=$?")
  expected="$dir/expected/$file.txt"
  if [ "$update" = --update ]; then
    printf '%s\n' "$actual" > "$expected"
  elif [ "$actual" = "$(cat "$expected" 2>/dev/null)" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL: $file"
    diff <(printf '%s\n' "$actual") "$expected"
  fi
done
[ "$update" = --update ] && exit 0
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
