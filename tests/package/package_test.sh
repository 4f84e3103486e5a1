#!/usr/bin/env bash
# Checks what an install of Varnok holds.
#   package_test.sh deb CPACK BUILD SOURCE       builds the Debian package from BUILD and checks it as Debian
#                                                and a desktop would, then runs the programs unpacked from it
#   package_test.sh scan-only CMAKE BUILD SOURCE installs BUILD (made without the desktop program) and checks
#                                                that it holds only what belongs to varnok-scan
set -uo pipefail
mode=$1 tool=$2 build=$3 source=$4

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failed=0
fail() {
  echo "FAIL: $*"
  failed=1
}
pass() { echo "ok: $*"; }

# Compares the regular files under a root with the expected list, so that a missing or stray file shows.
check_files() {
  local root=$1 expected=$2
  (cd "$root" && find . -type f -printf '%P\n' | LC_ALL=C sort) >"$tmp/files"
  if diff -u <(LC_ALL=C sort <<<"$expected") "$tmp/files"; then pass "file list"; else fail "file list (- expected, + found)"; fi
}

if [ "$mode" = scan-only ]; then
  "$tool" --install "$build" --prefix "$tmp/root" >/dev/null || fail "cmake --install"
  check_files "$tmp/root" "bin/varnok-scan
share/bash-completion/completions/varnok-scan
share/doc/varnok/changelog.gz
share/doc/varnok/copyright
share/man/man1/varnok-scan.1.gz"
  exit $failed
fi

missing=()
for command in dpkg-deb dpkg-shlibdeps file readelf desktop-file-validate appstreamcli xmllint update-mime-database \
  lintian man; do
  command -v "$command" >/dev/null || missing+=("$command")
done
[ -f /usr/share/bash-completion/bash_completion ] || missing+=(bash-completion)
if [ ${#missing[@]} -gt 0 ]; then
  # ctest shows the test as skipped (exit status 77): a build by hand need not have Debian's packaging tools.
  echo "skipped: missing tools: ${missing[*]} (scripts/test installs them)"
  exit 77
fi

if ! "$tool" --config "$build/CPackConfig.cmake" -B "$tmp/out" >"$tmp/cpack.log" 2>&1; then
  cat "$tmp/cpack.log"
  fail "cpack"
  exit 1
fi
debs=("$tmp"/out/varnok_*_*.deb)
deb=${debs[0]}
[ ${#debs[@]} -eq 1 ] && [ -f "$deb" ] || { fail "one package varnok_<version>_<arch>.deb, found: ${debs[*]}"; exit 1; }
pass "package $(basename "$deb")"

root=$tmp/root
dpkg-deb -x "$deb" "$root"
icons=""
for size in 16 24 32 48 64 128 256; do
  icons+="usr/share/icons/hicolor/${size}x${size}/apps/org.example.Varnok.png"$'\n'
done
check_files "$root" "${icons}usr/bin/varnok
usr/bin/varnok-scan
usr/share/applications/org.example.Varnok.desktop
usr/share/bash-completion/completions/varnok-scan
usr/share/doc/varnok/changelog.gz
usr/share/doc/varnok/copyright
usr/share/icons/hicolor/scalable/apps/org.example.Varnok.svg
usr/share/man/man1/varnok-scan.1.gz
usr/share/man/man1/varnok.1.gz
usr/share/metainfo/org.example.Varnok.metainfo.xml
usr/share/mime/packages/org.example.Varnok.xml"

for size in 16 24 32 48 64 128 256; do
  file "$root/usr/share/icons/hicolor/${size}x${size}/apps/org.example.Varnok.png" | grep "PNG image data, $size x $size," >/dev/null ||
    fail "icon ${size}x${size} has another size"
done

depends=$(dpkg-deb -f "$deb" Depends)
for package in libc6 libqt6widgets6 libelf1 libssl3 libdeflate0 qt6-qpa-plugins fonts-liberation; do
  grep -Eq "(^|, )$package( |,|$)" <<<"$depends" || fail "Depends lacks $package: $depends"
done

for program in varnok varnok-scan; do
  file "$root/usr/bin/$program" | grep ', stripped' >/dev/null || fail "$program is not stripped"
done
# The version block is a section of its own that stripping must keep: the about window reads it.
readelf -S "$root/usr/bin/varnok" | grep '\.varnok_version' >/dev/null || fail "varnok lost its version block"

if out=$(desktop-file-validate "$root/usr/share/applications/org.example.Varnok.desktop" 2>&1) && [ -z "$out" ]; then
  pass "desktop-file-validate"
else
  fail "desktop-file-validate: $out"
fi
if out=$(appstreamcli validate --no-net "$root/usr/share/metainfo/org.example.Varnok.metainfo.xml" 2>&1); then
  pass "appstreamcli validate"
else
  fail "appstreamcli validate: $out"
fi

# The MIME type as a desktop's database holds it after the install.
mime=$root/usr/share/mime/packages/org.example.Varnok.xml
mkdir -p "$tmp/data/mime/packages"
cp "$mime" "$tmp/data/mime/packages/"
if xmllint --noout "$mime" && out=$(XDG_DATA_DIRS=$tmp/data update-mime-database "$tmp/data/mime" 2>&1) &&
  [ -z "$out" ]; then
  globs=$(grep ':text/x-srecord:' "$tmp/data/mime/globs2" | cut -d: -f3 | LC_ALL=C sort | tr '\n' ' ')
  [ "$globs" = "*.mhx *.mot *.s19 *.s28 *.s37 *.srec *.sx " ] || fail "MIME globs: $globs"
  grep -qx 'text/x-srecord text/plain' "$tmp/data/mime/subclasses" || fail "MIME type is no sub-class of text/plain"
  grep -aq 'text/x-srecord' "$tmp/data/mime/magic" || fail "MIME type has no magic"
  pass "MIME type"
else
  fail "MIME file: $out"
fi

for page in varnok varnok-scan; do
  if MANWIDTH=80 man -l --warnings "$root/usr/share/man/man1/$page.1.gz" 2>"$tmp/man.err" | grep "^NAME" >/dev/null &&
    [ ! -s "$tmp/man.err" ]; then
    pass "man page $page"
  else
    fail "man page $page: $(cat "$tmp/man.err")"
  fi
done

# The completion offers the options, then file names; after "--" file names only.
touch "$tmp/-firmware.s19"
completions=$(cd "$tmp" && bash -c '
  source /usr/share/bash-completion/bash_completion
  source "$1"
  complete_line() {
    COMP_WORDS=("$@") COMP_CWORD=$(($# - 1)) COMP_LINE="$*" COMP_POINT=${#COMP_LINE} COMPREPLY=()
    _varnok_scan varnok-scan "${COMP_WORDS[-1]}" "${COMP_WORDS[-2]}"
    echo "${COMPREPLY[*]}"
  }
  complete_line varnok-scan --
  complete_line varnok-scan --map --j
  complete_line varnok-scan --jobs ""
  complete_line varnok-scan -- -f
' - "$root/usr/share/bash-completion/completions/varnok-scan" 2>&1)
expected="--map --ranges --region --memory --defsym --max-use --require --digest --digest-region --crc --expect --fill --strict --diff --bytes --limit --json --jobs --quiet --help --version --
--json --jobs
1 2 4 8
-firmware.s19"
if [ "$completions" = "$expected" ]; then pass "completion"; else fail "completion gave: $completions"; fi

if lintian --fail-on error "$deb" >"$tmp/lintian.log" 2>&1; then
  pass "lintian (no errors)"
else
  fail "lintian"
fi
sed 's/^/  lintian: /' "$tmp/lintian.log"

# The unpacked programs run with the libraries the package depends on.
if out=$("$root/usr/bin/varnok-scan" "$source/samples/demo.s19" 2>&1) &&
  [ "$(head -n1 <<<"$out")" = "Analyser status: Parsing successfully finished..." ]; then
  pass "varnok-scan from the package"
else
  fail "varnok-scan from the package: $out"
fi
ldd "$root/usr/bin/varnok" | grep 'not found' && fail "varnok lacks libraries"
mkdir -m 700 "$tmp/runtime"
QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$tmp/runtime XDG_CONFIG_HOME=$tmp/config-start "$root/usr/bin/varnok" \
  >"$tmp/gui.log" 2>&1 &
gui=$!
sleep 2
if kill -0 "$gui" 2>/dev/null; then
  kill "$gui"
  wait "$gui" 2>/dev/null
  if [ -s "$tmp/gui.log" ]; then fail "varnok complained at start: $(cat "$tmp/gui.log")"; else pass "varnok starts"; fi
else
  fail "varnok ended at start: $(cat "$tmp/gui.log")"
fi
rm -f "$root/usr/bin/varnok.ini"

# Starts the unpacked desktop program with FILE, waits until its status line (shown on the log category
# varnok.status) reports the end of the analysis, then closes it with SIGTERM, which closes the window as its close
# button does. Prints the log; fails unless the analysis succeeded and the program ended with status 0.
#   run_gui LOG PREFIX-COMMAND... -- ENVIRONMENT... -- FILE
run_gui() {
  local log=$1 prefix=() environment=()
  shift
  while [ "$1" != -- ]; do prefix+=("$1"); shift; done
  shift
  while [ "$1" != -- ]; do environment+=("$1"); shift; done
  shift
  "${prefix[@]}" env -i "${environment[@]}" QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES=varnok.status.info=true \
    "$root/usr/bin/varnok" "$1" >"$log" 2>&1 &
  local gui=$! waited=0
  while ! grep -q '^varnok.status: \(Parsing successfully\|.*@ line\|Input file\|Unable\)' "$log" && [ $waited -lt 200 ]; do
    sleep 0.1
    waited=$((waited + 1))
  done
  kill -TERM "$gui" 2>/dev/null
  # A close that the program refuses (a settings write error) leaves it running: it is ended after 10 seconds.
  waited=0
  while kill -0 "$gui" 2>/dev/null && [ $waited -lt 100 ]; do
    sleep 0.1
    waited=$((waited + 1))
  done
  kill -KILL "$gui" 2>/dev/null
  local status=0
  wait "$gui" || status=$?
  grep -qx 'varnok.status: Parsing successfully finished...' "$log" && [ $status -eq 0 ]
}

# The unpacked folders belong to whoever unpacked them. Root's are installed ones: run by root, the settings go to
# root's configuration folder, and a file that an older version left beside the executable is neither read nor
# written. Another user's are a copy of the user's own: the settings file lies beside the executable.
mkdir -m 700 "$tmp/runtime-root"
cp "$source/samples/demo.s19" "$tmp/demo.s19"
if [ "$(id -u)" -eq 0 ]; then
  printf '[app]\ntop=123\n[file]\nname=old.s19\n' >"$root/usr/bin/varnok.ini"
  ini=$tmp/config-root/varnok/varnok.ini
else
  ini=$root/usr/bin/varnok.ini
fi
bin_before=$(find "$root/usr/bin" -printf '%P %s %T@\n' | LC_ALL=C sort)
if run_gui "$tmp/gui-root.log" -- HOME="$tmp/nohome" XDG_CONFIG_HOME="$tmp/config-root" \
  XDG_RUNTIME_DIR="$tmp/runtime-root" -- "$tmp/demo.s19"; then
  pass "varnok FILE from the package reaches \"Parsing successfully finished...\""
else
  fail "varnok FILE from the package: $(cat "$tmp/gui-root.log")"
fi
if [ "$(id -u)" -eq 0 ]; then
  if grep -qx "name=demo.s19" "$ini" 2>/dev/null && ! grep -qx "top=123" "$ini" &&
    [ "$(find "$root/usr/bin" -printf '%P %s %T@\n' | LC_ALL=C sort)" = "$bin_before" ] && [ ! -e "$tmp/nohome" ]; then
    pass "root's settings in \$XDG_CONFIG_HOME/varnok/varnok.ini, nothing written beside the executable"
  else
    fail "root's settings: $(cat "$ini" 2>&1; ls -la "$root/usr/bin")"
  fi
elif grep -qx "name=demo.s19" "$ini" 2>/dev/null && [ ! -e "$tmp/nohome" ] && [ ! -e "$tmp/config-root" ]; then
  pass "settings beside the executable in a folder of the user's own"
else
  fail "settings beside the executable: $(cat "$ini" 2>&1)"
fi
rm -f "$root/usr/bin/varnok.ini"

# Run by an unprivileged user, who may not write to the executable's folder: the settings file is made in the
# user's configuration folder at the first close and read back at the next start. Only root can become that user.
if [ "$(id -u)" -ne 0 ]; then
  echo "skipped: the unprivileged user's settings need root to run as another user"
  exit $failed
fi
nobody=(setpriv --reuid=65534 --regid=65534 --clear-groups)
home=$tmp/home
chmod 755 "$tmp"
mkdir -m 700 "$home" "$home/runtime"
cp "$source/samples/demo.s19" "$home/demo.s19"
chown -R 65534:65534 "$home"
user_env=(HOME="$home" XDG_RUNTIME_DIR="$home/runtime")
ini=$home/.config/varnok/varnok.ini
if run_gui "$tmp/gui-user.log" "${nobody[@]}" -- "${user_env[@]}" -- "$home/demo.s19" && grep -qx "name=demo.s19" "$ini" &&
  grep -qx "path=$home/" "$ini" && [ ! -e "$root/usr/bin/varnok.ini" ]; then
  pass "an unprivileged user's settings in \$HOME/.config/varnok/varnok.ini"
else
  fail "an unprivileged user's settings: $(cat "$tmp/gui-user.log"; ls -la "$home" "$home/.config/varnok" 2>&1)"
fi
# The second start takes the position from the file and writes it back at its close.
sed -i 's/^top=.*/top=123/' "$ini"
if run_gui "$tmp/gui-user2.log" "${nobody[@]}" -- "${user_env[@]}" -- "$home/demo.s19" && grep -qx "top=123" "$ini"; then
  pass "the second start reads the user's settings back"
else
  fail "the second start: $(cat "$tmp/gui-user2.log" "$ini" 2>&1)"
fi

exit $failed
