#!/usr/bin/env bash
# End-to-end tests of the Windows executable under Wine on a virtual X
# display: builds the shipped 32-bit halfmap.exe, checks its import table,
# then drives a Windows build through every scenario with wine_driver and
# compares the files it wrote with what the Linux core writes. halfmap-cli.exe
# gets the same import check and converts folders given as arguments.
#
# The shipped build is tested itself where this machine can run 32-bit
# programs; where it cannot (a kernel without 32-bit support), the same
# source built for 64-bit Windows is tested under 64-bit Wine instead, and
# the output says so.
#
# HALFMAP_SCREENSHOT=<file.png> also saves a picture of the window.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash tools/install-deps.sh cmake ninja-build g++ libgtest-dev libgmock-dev \
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix \
  wine wine64 xvfb fonts-noto-cjk imagemagick xdotool librsvg2-bin icoutils

source tools/wine-session.sh
work=$(mktemp -d /tmp/halfmap-wine.XXXXXX)
cleanup() {
  stop_wine_session
  rm -rf "$work"
}
trap cleanup EXIT

passed=0
failed=0
record() {  # name, status
  if [ "$2" -eq 0 ]; then
    passed=$((passed + 1)); echo "PASS  $1"
  else
    failed=$((failed + 1)); echo "FAIL  $1"
  fi
}

# --- Builds ---------------------------------------------------------------
cmake --preset windows >/dev/null
cmake --build --preset windows -j2
shipped=$root/build/windows/app/win32/halfmap.exe

[ -f build/release/CMakeCache.txt ] || cmake --preset release >/dev/null
cmake --build --preset release --target wine_maps -j2
maps=$root/build/release/tests/windows/wine_maps

# --- The shipped executable's form ------------------------------------------
shipped_cli=$root/build/windows/app/cli/halfmap-cli.exe
check_imports() {  # executable, subsystem number, its name
  local dump allowed='^(kernel32|advapi32|user32|gdi32|comctl32|ole32|oleacc|msvcrt)\.dll$' status=0 dll
  dump=$(i686-w64-mingw32-objdump -p "$1")
  grep -q 'file format pei-i386' <<<"$dump" || { echo "  not a PE32 i386 image"; status=1; }
  grep -qE "Subsystem[[:space:]]+0000000$2" <<<"$dump" || { echo "  not a $3 program"; status=1; }
  while read -r dll; do
    if grep -qiE "$allowed" <<<"$dll"; then echo "  imports $dll"; else echo "  imports $dll: not a system DLL"; status=1; fi
  done < <(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump")
  return $status
}
set +e
check_imports "$shipped" 2 GUI; record "halfmap.exe is a PE32 GUI program importing only system DLLs" $?
check_imports "$shipped_cli" 3 console; record "halfmap-cli.exe is a PE32 console program importing only system DLLs" $?
# A console program that loads user32 or gdi32 is not told of logoff and
# shutdown, and could not remove its scratch files then.
! i686-w64-mingw32-objdump -p "$shipped_cli" | grep -qiE 'DLL Name: (user32|gdi32)\.dll'
record "halfmap-cli.exe loads neither user32 nor gdi32" $?
# DLLs loaded at run time come from the system folder only, set first thing;
# looked up by name, as Windows 7 has the call only with an update. The one
# DLL the window needs outside the system's known list is loaded by full
# path, not imported, so it is never looked for beside the executable.
grep -qaF SetDefaultDllDirectories "$shipped" && grep -qaF SetDefaultDllDirectories "$shipped_cli" &&
  ! i686-w64-mingw32-objdump -p "$shipped" | grep -qiE 'DLL Name: comctl32\.dll'
record "both executables ask for SetDefaultDllDirectories; halfmap.exe does not import comctl32" $?
# The window names itself to the shell (through shell32, loaded at run time);
# halfmap-cli must not, as shell32 would load user32. Both carry the icon.
grep -qaF SetCurrentProcessExplicitAppUserModelID "$shipped" &&
  ! grep -qaF SetCurrentProcessExplicitAppUserModelID "$shipped_cli" &&
  wrestool -l "$shipped" | grep -q 'type=group_icon' && wrestool -l "$shipped_cli" | grep -q 'type=group_icon'
record "halfmap.exe sets an AppUserModelID, halfmap-cli.exe does not; both carry the icon" $?
long_path_aware() { grep -qaF '<longPathAware xmlns="http://schemas.microsoft.com/SMI/2016/WindowsSettings">true</longPathAware>' "$1"; }
long_path_aware "$shipped" && long_path_aware "$shipped_cli"; record "both executables declare themselves long-path aware" $?
set -e

# --- Which build runs under this machine's Wine -------------------------------
choose_wine_build "$work"
echo "Testing $win_kind."
exe=$win_build/app/win32/halfmap.exe
cli=$win_build/app/cli/halfmap-cli.exe
driver=$win_build/tests/windows/driver/wine_driver.exe

# --- Display and Wine prefix ---------------------------------------------------
start_wine_session "$work"

# --- Inputs and the Linux core's outputs ----------------------------------------
mkdir -p "$work/small" "$work/big"
"$maps" small "$work/small" NSX && "$maps" convert "$work/small"
"$maps" big "$work/big" && "$maps" convert "$work/big"

# A case folder holding the executable and the named inputs of a set. The
# inputs are only read, so they are linked rather than copied.
new_case() {  # folder, exe name, set, inputs...
  local folder=$1 name=$2 set=$3; shift 3
  mkdir -p "$folder"
  cp "$exe" "$folder/$name"
  for input in "$@"; do ln "$work/$set/MAP29361206-$input" "$folder/"; done
}
drive() { "${wine[@]}" "$driver" "$@"; }
same() {  # file, expected file
  if cmp -s "$1" "$2"; then echo "  ok    $(basename "$1") as expected"; else echo "  FAIL  $(basename "$1") differs from $2"; return 1; fi
}
no_scratch() {  # folder [a .tmp file of the user's, which stays]
  local left
  left=$(ls -A "$1" | grep -E '\.tmp$' | grep -vxF "${2:-}" || true)
  if [ -n "$left" ]; then echo "  FAIL  scratch file left: $left"; return 1; fi
  echo "  ok    no .tmp left"
}
absent() {
  if [ -e "$1" ]; then echo "  FAIL  $(basename "$1") exists"; return 1; fi
  echo "  ok    $(basename "$1") not written"
}
old_output() { printf 'an earlier output of %s\n' "$2" >"$1/MAP29361206-$2"; }

case_probe_none() {
  local d=$work/cases/none; new_case "$d" halfmap.exe small
  drive probe "$(winpath "$d/halfmap.exe")" 000
}
case_probe_one() {
  local d=$work/cases/one; new_case "$d" halfmap.exe small X1.BMP
  drive probe "$(winpath "$d/halfmap.exe")" 001
}
case_keys() {
  local d=$work/cases/keys; new_case "$d" halfmap.exe small 1.BMP NS1.BMP X1.BMP
  drive keys "$(winpath "$d/halfmap.exe")"
}
case_close_box() {
  local d=$work/cases/closebox; new_case "$d" halfmap.exe small 1.BMP
  drive closebox "$(winpath "$d/halfmap.exe")"
}
run_in() {  # folder: a full run whose outputs must match the Linux core's
  local d=$1 status=0; new_case "$d" halfmap.exe small 1.BMP NS1.BMP X1.BMP
  old_output "$d" 2.BMP
  old_output "$d" 2.BMP.tmp  # stale, from an interrupted run
  drive run "$(winpath "$d/halfmap.exe")" || status=1
  for out in 2.BMP NS2.BMP X2.BMP; do same "$d/MAP29361206-$out" "$work/small/MAP29361206-$out" || status=1; done
  no_scratch "$d" || status=1
  return $status
}
case_run() { run_in "$work/cases/run"; }
# The window on a folder of maps, given or dropped; its own folder has none.
on_folder_with() {  # driver scenario
  local d=$work/cases/$1-folder status=0
  new_case "$d/exe" halfmap.exe small
  new_case "$d/maps" unused.exe small 1.BMP NS1.BMP X1.BMP; rm "$d/maps/unused.exe"
  drive "$1" "$(winpath "$d/exe/halfmap.exe")" "$(winpath "$d/maps")" || status=1
  for out in 2.BMP NS2.BMP X2.BMP; do same "$d/maps/MAP29361206-$out" "$work/small/MAP29361206-$out" || status=1; done
  absent "$d/exe/MAP29361206-2.BMP" || status=1
  no_scratch "$d/maps" || status=1
  return $status
}
case_folder_argument() { on_folder_with run; }
case_folder_dropped() { on_folder_with drop; }
case_two_folders() {
  local d=$work/cases/two-folders; new_case "$d" halfmap.exe small 1.BMP NS1.BMP X1.BMP
  drive two-folders "$(winpath "$d/halfmap.exe")" "$(winpath "$d")"
}
case_japanese_folder() { LC_ALL=C.UTF-8 run_in "$work/cases/地図表"; }
abort_with() {  # driver scenario
  local d=$work/cases/$1 status=0; new_case "$d" halfmap.exe big 1.BMP NS1.BMP X1.BMP
  old_output "$d" NS2.BMP; old_output "$d" X2.BMP
  cp "$d/MAP29361206-NS2.BMP" "$work/ns2.old"; cp "$d/MAP29361206-X2.BMP" "$work/x2.old"
  drive "$1" "$(winpath "$d/halfmap.exe")" || status=1
  same "$d/MAP29361206-2.BMP" "$work/big/MAP29361206-2.BMP" || status=1
  same "$d/MAP29361206-NS2.BMP" "$work/ns2.old" || status=1
  same "$d/MAP29361206-X2.BMP" "$work/x2.old" || status=1
  no_scratch "$d" || status=1
  return $status
}
case_abort() { abort_with abort; }
case_abort_by_key() { abort_with abort-by-key; }
end_during_run_with() {  # driver scenario
  local d=$work/cases/$1 status=0; new_case "$d" halfmap.exe big 1.BMP NS1.BMP X1.BMP
  drive "$1" "$(winpath "$d/halfmap.exe")" || status=1
  for out in 2.BMP NS2.BMP X2.BMP; do same "$d/MAP29361206-$out" "$work/big/MAP29361206-$out" || status=1; done
  no_scratch "$d" || status=1
  return $status
}
case_close_during_run() { end_during_run_with close-during-run; }
case_quit_during_run() { end_during_run_with quit-during-run; }
refused_with() {  # driver scenario, then how the output is kept from being replaced
  local d=$work/cases/$1 status=0; new_case "$d" HALFMAP.EXE small 1.BMP NS1.BMP X1.BMP
  old_output "$d" 2.BMP; cp "$d/MAP29361206-2.BMP" "$work/2.old"
  [ "$1" = read-only ] && chmod a-w "$d/MAP29361206-2.BMP"
  drive "$1" "$(winpath "$d/HALFMAP.EXE")" "$(winpath "$d/MAP29361206-2.BMP")" Halfmap || status=1
  same "$d/MAP29361206-2.BMP" "$work/2.old" || status=1
  absent "$d/MAP29361206-NS2.BMP" || status=1
  absent "$d/MAP29361206-X2.BMP" || status=1
  no_scratch "$d" || status=1
  return $status
}
case_layout() {
  local d=$work/cases/layout; new_case "$d" halfmap.exe small 1.BMP X1.BMP
  drive layout "$(winpath "$d/halfmap.exe")"
}
case_held() { refused_with held; }
case_read_only() { refused_with read-only; }

# halfmap-cli.exe is given the folder as an argument and stays outside it.
cli_in() {  # folder, then halfmap-cli.exe's arguments before the folder
  local d=$1; shift
  new_case "$d" unused.exe small 1.BMP NS1.BMP X1.BMP
  rm "$d/unused.exe"
  set +e
  "${wine[@]}" "$cli" "$@" "$(winpath "$d")" >"$work/cli.out" 2>"$work/cli.err"
  cli_status=$?
  set -e
  sed 's/^/  stdout: /' "$work/cli.out"; sed 's/^/  stderr: /' "$work/cli.err"
}
case_cli_japanese_folder() {
  local d=$work/cases/cli-地図表 status=0
  LC_ALL=C.UTF-8 cli_in "$d" -j 2
  [ "$cli_status" -eq 0 ] || { echo "  FAIL  exit status $cli_status"; status=1; }
  for out in 2.BMP NS2.BMP X2.BMP; do same "$d/MAP29361206-$out" "$work/small/MAP29361206-$out" || status=1; done
  no_scratch "$d" || status=1
  grep -qF 'cli-地図表\MAP29361206-X1.BMP -> ' "$work/cli.out" || { echo "  FAIL  no line for the X-ray map"; status=1; }
  return $status
}
# Results that cannot be written: into a closed pipe the run stops with 130,
# as a reader such as head expects; onto a full disk it fails and says so.
case_cli_closed_output() {
  local d=$work/cases/cli-closed status=0 piped
  new_case "$d" unused.exe small 1.BMP NS1.BMP X1.BMP; rm "$d/unused.exe"
  set +e
  "${wine[@]}" "$cli" --json "$(winpath "$d")" 2>"$work/cli.err" | true
  piped=${PIPESTATUS[0]}
  "${wine[@]}" "$cli" -q --json "$(winpath "$d")" >/dev/full 2>"$work/cli.err"
  cli_status=$?
  set -e
  sed 's/^/  stderr: /' "$work/cli.err"
  [ "$piped" -eq 130 ] || { echo "  FAIL  into a closed pipe: exit status $piped, not 130"; status=1; }
  [ "$cli_status" -eq 1 ] || { echo "  FAIL  onto a full disk: exit status $cli_status, not 1"; status=1; }
  grep -qF 'the results could not all be written' "$work/cli.err" || { echo "  FAIL  the full disk not told"; status=1; }
  return $status
}
case_cli_refused() {
  local d=$work/cases/cli-refused status=0
  mkdir -p "$d"; old_output "$d" NS2.BMP; cp "$d/MAP29361206-NS2.BMP" "$work/ns2.old"
  chmod a-w "$d/MAP29361206-NS2.BMP"
  LC_ALL=C.UTF-8 cli_in "$d" -q
  [ "$cli_status" -eq 1 ] || { echo "  FAIL  exit status $cli_status, not 1"; status=1; }
  # With the system's reason after it, in FormatMessageW's words.
  grep -qE "MAP29361206-NS1.BMP: cannot create .*MAP29361206-NS2.BMP: [[:alpha:]]" "$work/cli.err" ||
    { echo "  FAIL  not the create-failure message with a reason"; status=1; }
  # In Japanese for a Japanese user interface language, the system's words too.
  LC_ALL=ja_JP.UTF-8 "${wine[@]}" "$cli" -q "$(winpath "$d")" >/dev/null 2>"$work/cli.err"
  sed 's/^/  stderr: /' "$work/cli.err"
  grep -qF "ファイル $(winpath "$d")\MAP29361206-NS2.BMP を作成できません: " "$work/cli.err" ||
    { echo "  FAIL  not the Japanese create-failure message"; status=1; }
  # The input under another case of its name is the input itself.
  LC_ALL=C.UTF-8 "${wine[@]}" "$cli" -o "$(winpath "$d")\map29361206-1.bmp" "$(winpath "$d")\MAP29361206-1.BMP" \
    2>"$work/cli.err" && status=1
  grep -qF ': output is the input itself' "$work/cli.err" || { echo "  FAIL  not refused as the input itself"; status=1; }
  same "$d/MAP29361206-NS2.BMP" "$work/ns2.old" || status=1
  for out in 2.BMP X2.BMP; do same "$d/MAP29361206-$out" "$work/small/MAP29361206-$out" || status=1; done
  no_scratch "$d" || status=1
  return $status
}

case_cli_user_tmp() {
  local d=$work/cases/cli-user-tmp status=0
  mkdir -p "$d"; old_output "$d" 2.BMP.tmp; cp "$d/MAP29361206-2.BMP.tmp" "$work/user.tmp"
  cli_in "$d" -q
  [ "$cli_status" -eq 0 ] || { echo "  FAIL  exit status $cli_status"; status=1; }
  same "$d/MAP29361206-2.BMP" "$work/small/MAP29361206-2.BMP" || status=1
  same "$d/MAP29361206-2.BMP.tmp" "$work/user.tmp" || status=1
  no_scratch "$d" MAP29361206-2.BMP.tmp || status=1
  return $status
}
# Names the system takes for devices, as output and as input, get the same
# words; and a watch over more folders than one wait takes still sees a save.
case_cli_devices() {
  local d=$work/cases/cli-devices status=0 name
  new_case "$d" unused.exe small 1.BMP; rm "$d/unused.exe"
  for name in NUL CON AUX nul.bmp COM1.TXT; do
    (cd "$d" && LC_ALL=C.UTF-8 "${wine[@]}" "$cli" -q -o "$name" MAP29361206-1.BMP >/dev/null 2>"$work/cli.err")
    [ $? -eq 1 ] && grep -qF "cannot create $name: a device, not a regular file" "$work/cli.err" ||
      { echo "  FAIL  -o $name: $(cat "$work/cli.err")"; status=1; }
  done
  (cd "$d" && LC_ALL=C.UTF-8 "${wine[@]}" "$cli" -q -o x.bmp NUL >/dev/null 2>"$work/cli.err")
  [ $? -eq 3 ] && grep -qF "NUL: a device, not a regular file" "$work/cli.err" ||
    { echo "  FAIL  NUL as input: $(cat "$work/cli.err")"; status=1; }
  local folders=() i
  for i in $(seq 40); do mkdir -p "$d/w$i"; folders+=("$(winpath "$d/w$i")"); done
  "${wine[@]}" "$cli" --watch --json "${folders[@]}" >"$work/watch.out" 2>"$work/watch.err" &
  watch_pid=$!
  for _ in $(seq 300); do grep -qF 'Ctrl+C ends' "$work/watch.err" && break; sleep 0.1; done
  cp "$work/small/MAP29361206-1.BMP" "$d/w40/saved.tmp"; mv "$d/w40/saved.tmp" "$d/w40/MAP29361206-1.BMP"
  wait_same "$d/w40/MAP29361206-2.BMP" "$work/small/MAP29361206-2.BMP" || status=1
  watch_end || status=1
  # A folder that refuses new files (immutable: root is refused too) is
  # named as the cause, not the output it would have held.
  if chattr +i "$d" 2>/dev/null; then
    LC_ALL=C.UTF-8 "${wine[@]}" "$cli" -q "$(winpath "$d")" >/dev/null 2>"$work/cli.err"
    local code=$?
    chattr -i "$d"
    [ $code -eq 1 ] && grep -qF "cannot create files in folder $(winpath "$d"): " "$work/cli.err" ||
      { echo "  FAIL  unwritable folder: $(cat "$work/cli.err")"; status=1; }
  else
    echo "  skip  chattr +i is refused here: no unwritable folder for root"
  fi
  absent "$d/x.bmp" || status=1
  no_scratch "$d" || status=1
  return $status
}
# Links another user planted where the tool deletes or replaces: at a
# scratch name, at the old OUTPUT.tmp name and at the output itself. Wine
# follows links when it deletes, so only the name may go, never the target.
case_cli_links() {
  local d=$work/cases/cli-links status=0 target
  mkdir -p "$d"
  for target in scratch legacy output; do echo "private $target" >"$work/private-$target"; done
  ln -s "$work/private-scratch" "$d/.MAP29361206-2.BMP.halfmap-0123456789ab.tmp"
  ln -s "$work/private-legacy" "$d/MAP29361206-2.BMP.tmp"
  ln -s "$work/private-output" "$d/MAP29361206-2.BMP"
  old_output "$d" NS2.BMP; mv "$d/MAP29361206-NS2.BMP" "$d/map29361206-ns2.bmp"
  cli_in "$d" -q
  [ "$cli_status" -eq 0 ] || { echo "  FAIL  exit status $cli_status"; status=1; }
  for target in scratch legacy output; do
    grep -qxF "private $target" "$work/private-$target" || { echo "  FAIL  the $target link's target was touched"; status=1; }
  done
  [ ! -L "$d/MAP29361206-2.BMP" ] || { echo "  FAIL  the output is still a link"; status=1; }
  same "$d/MAP29361206-2.BMP" "$work/small/MAP29361206-2.BMP" || status=1
  # An output in another case is replaced under its own name.
  same "$d/map29361206-ns2.bmp" "$work/small/MAP29361206-NS2.BMP" || status=1
  absent "$d/MAP29361206-NS2.BMP" || status=1
  return $status
}
# Runs that convert to one output at once: each one's finished scratch file
# stays its own until it is in place, whatever the others' sweeps find.
case_cli_same_output() {
  local d=$work/cases/cli-same status=0 run round runs=()
  new_case "$d" unused.exe small NS1.BMP; rm "$d/unused.exe"
  : >"$work/same.err"
  for run in 1 2 3 4 5 6; do
    (for round in 1 2 3 4 5; do
      "${wine[@]}" "$cli" -q -o "$(winpath "$d/out.bmp")" "$(winpath "$d/MAP29361206-NS1.BMP")" >/dev/null 2>>"$work/same.err" ||
        echo "run $run round $round failed" >>"$work/same.err"
    done) &
    runs+=($!)
  done
  wait "${runs[@]}"
  [ ! -s "$work/same.err" ] || { sed 's/^/  FAIL  /' "$work/same.err"; status=1; }
  same "$d/out.bmp" "$work/small/MAP29361206-NS2.BMP" || status=1
  no_scratch "$d" || status=1
  return $status
}
# Another program holds the earlier NS output open without sharing from
# before the run until ms after the first map's output appeared.
cli_held_for() {  # ms, exit status wanted
  local d=$work/cases/cli-held-$1 status=0
  new_case "$d" unused.exe small 1.BMP NS1.BMP X1.BMP
  rm "$d/unused.exe"; old_output "$d" NS2.BMP; cp "$d/MAP29361206-NS2.BMP" "$work/ns2.old"
  set +e
  LC_ALL=C.UTF-8 drive hold "$(winpath "$cli")" "$(winpath "$d/MAP29361206-NS2.BMP")" "$1" \
    "$(winpath "$d/MAP29361206-2.BMP")" -q "$(winpath "$d")" >"$work/cli.out" 2>"$work/cli.err"
  cli_status=$?
  set -e
  sed 's/^/  stderr: /' "$work/cli.err"
  [ "$cli_status" -eq "$2" ] || { echo "  FAIL  exit status $cli_status, not $2"; status=1; }
  for out in 2.BMP X2.BMP; do same "$d/MAP29361206-$out" "$work/small/MAP29361206-$out" || status=1; done
  if [ "$2" -eq 0 ]; then
    same "$d/MAP29361206-NS2.BMP" "$work/small/MAP29361206-NS2.BMP" || status=1
  else
    same "$d/MAP29361206-NS2.BMP" "$work/ns2.old" || status=1
    grep -qE "cannot create .*MAP29361206-NS2.BMP: [[:alpha:]]" "$work/cli.err" || { echo "  FAIL  no create failure with a reason"; status=1; }
  fi
  no_scratch "$d" || status=1
  return $status
}
case_cli_brief_hold() { cli_held_for 300 0; }
case_cli_long_hold() { cli_held_for 10000 1; }
case_cli_long_path() {
  local d=$work/cases/long/$(printf 'folder%.0s' $(seq 30))/$(printf 'deeper%.0s' $(seq 20)) status=0
  drive long-paths || status=1
  cli_in "$d" -q
  [ ${#d} -gt 300 ] && [ "$cli_status" -eq 0 ] || { echo "  FAIL  exit status $cli_status in a ${#d}-character folder"; status=1; }
  for out in 2.BMP NS2.BMP X2.BMP; do same "$d/MAP29361206-$out" "$work/small/MAP29361206-$out" || status=1; done
  no_scratch "$d" || status=1
  return $status
}
case_cli_hidden() {
  local d=$work/cases/cli-hidden status=0
  mkdir -p "$d"; old_output "$d" 2.BMP
  "${wine[@]}" attrib +h "$(winpath "$d/MAP29361206-2.BMP")"
  cli_in "$d" -q
  [ "$cli_status" -eq 0 ] || { echo "  FAIL  exit status $cli_status"; status=1; }
  same "$d/MAP29361206-2.BMP" "$work/small/MAP29361206-2.BMP" || status=1
  "${wine[@]}" attrib "$(winpath "$d/MAP29361206-2.BMP")" | grep -qE '^A? *H ' || { echo "  FAIL  no longer hidden"; status=1; }
  return $status
}
# The same folder as D:\t1 and by its Z: path, each map converted once.
case_cli_two_drives() {
  local d=$work/cases/drives/t1 status=0
  ln -sfn "$work/cases/drives" "$WINEPREFIX/dosdevices/d:"
  cli_in "$d" -j 6 'D:\t1'
  rm "$WINEPREFIX/dosdevices/d:"
  [ "$cli_status" -eq 0 ] || { echo "  FAIL  exit status $cli_status"; status=1; }
  [ "$(wc -l <"$work/cli.out")" -eq 3 ] || { echo "  FAIL  not one line per map"; status=1; }
  for out in 2.BMP NS2.BMP X2.BMP; do same "$d/MAP29361206-$out" "$work/small/MAP29361206-$out" || status=1; done
  no_scratch "$d" || status=1
  return $status
}
case_cli_not_text() {
  set +e; drive not-text "$(winpath "$cli")" 2>"$work/cli.err"; local code=$?; set -e
  sed 's/^/  stderr: /' "$work/cli.err"
  [ "$code" -eq 2 ] && grep -qF "argument 'bad"$'\xef\xbf\xbd'"name' is not valid text" "$work/cli.err"
}
# /? is --help, as Windows programs take it, but not after --; a mistyped
# option is named.
case_cli_slash_help() {
  local status=0 code
  LC_ALL=C.UTF-8 "${wine[@]}" "$cli" --help >"$work/help.out" 2>&1
  LC_ALL=C.UTF-8 "${wine[@]}" "$cli" '/?' >"$work/cli.out" 2>&1; code=$?
  [ $code -eq 0 ] && grep -q '^usage: halfmap-cli' "$work/cli.out" && cmp -s "$work/cli.out" "$work/help.out" ||
    { echo "  FAIL  /?: exit status $code, not the help: $(head -c 200 "$work/cli.out")"; status=1; }
  LC_ALL=C.UTF-8 "${wine[@]}" "$cli" -- '/?' >/dev/null 2>&1 && { echo "  FAIL  -- /? succeeded"; status=1; }
  LC_ALL=C.UTF-8 "${wine[@]}" "$cli" --verfy >/dev/null 2>"$work/cli.err"; code=$?
  sed 's/^/  stderr: /' "$work/cli.err"
  [ $code -eq 2 ] && grep -qxF "halfmap-cli: unknown option '--verfy'; did you mean '--verify'?" "$work/cli.err" ||
    { echo "  FAIL  --verfy: exit status $code"; status=1; }
  return $status
}

# halfmap-cli.exe --watch in the background, and how it ends.
watch_start() {  # folder, maps in it: a watch over it, its first run done
  "${wine[@]}" "$cli" --watch --json "$(winpath "$1")" >"$work/watch.out" 2>"$work/watch.err" &
  watch_pid=$!
  wait_lines "$2" || { echo "  FAIL  no first run"; return 1; }
}
wait_lines() { for _ in $(seq 300); do [ "$(wc -l <"$work/watch.out")" -ge "$1" ] && return 0; sleep 0.1; done; return 1; }
wait_same() {  # file, expected file: until it is, for up to 30 s
  for _ in $(seq 300); do cmp -s "$1" "$2" && break; sleep 0.1; done
  same "$1" "$2"
}
watch_end() {  # Ctrl+C, exit status 130, what it said
  local code
  kill -INT "$watch_pid"
  set +e; wait "$watch_pid"; code=$?; set -e
  sed 's/^/  stdout: /' "$work/watch.out"; sed 's/^/  stderr: /' "$work/watch.err"
  [ "$code" -eq 130 ] || { echo "  FAIL  exit status $code after Ctrl+C, not 130"; return 1; }
}

# --watch: a map rewritten while it runs converts again; Ctrl+C (SIGINT,
# which Wine hands to the console's control handler) ends it with 130.
case_cli_watch() {
  local d=$work/cases/cli-watch status=0
  new_case "$d" unused.exe small 1.BMP NS1.BMP X1.BMP
  rm "$d/unused.exe"
  cp --remove-destination "$work/small/MAP29361206-NS1.BMP" "$d/"  # rewritten below: not the shared input
  watch_start "$d" 3 || status=1
  # Saved as an editor does, beside it and renamed into place: a Linux writer
  # holds no Windows share mode the watch could wait on.
  cp "$work/small/MAP29361206-X1.BMP" "$d/saved.tmp"
  mv "$d/saved.tmp" "$d/MAP29361206-1.BMP"
  wait_lines 4 || { echo "  FAIL  the renamed map was not converted"; status=1; }
  same "$d/MAP29361206-2.BMP" "$work/small/MAP29361206-X2.BMP" || status=1
  # Rewritten in place by a Windows program, which holds it while it writes.
  "${wine[@]}" cmd /c copy /y /b "$(winpath "$work/small/MAP29361206-1.BMP")" "$(winpath "$d/MAP29361206-NS1.BMP")" >/dev/null
  wait_lines 5 || { echo "  FAIL  the map rewritten in place was not converted"; status=1; }
  same "$d/MAP29361206-NS2.BMP" "$work/small/MAP29361206-2.BMP" || status=1
  watch_end || status=1
  [ "$(wc -l <"$work/watch.out")" -eq 5 ] || { echo "  FAIL  not exactly one conversion per save"; status=1; }
  no_scratch "$d" || status=1
  return $status
}

# More changes than the system's change list holds pile up while the watch
# is held still: it says so, and the watch looks at every map again and goes
# on.
case_cli_watch_overflow() {
  local d=$work/cases/cli-overflow status=0
  new_case "$d" unused.exe small 1.BMP NS1.BMP X1.BMP; rm "$d/unused.exe"
  watch_start "$d" 3 || status=1
  kill -STOP "$watch_pid"
  for i in $(seq 2000); do : >"$d/a-saved-file-with-a-rather-long-name-$i.bin"; done
  cp "$work/small/MAP29361206-X1.BMP" "$d/saved.tmp"; mv "$d/saved.tmp" "$d/MAP29361206-1.BMP"
  kill -CONT "$watch_pid"
  wait_same "$d/MAP29361206-2.BMP" "$work/small/MAP29361206-X2.BMP" || status=1
  cp "$work/small/MAP29361206-1.BMP" "$d/saved.tmp"; mv -f "$d/saved.tmp" "$d/MAP29361206-NS1.BMP"
  wait_same "$d/MAP29361206-NS2.BMP" "$work/small/MAP29361206-2.BMP" || status=1
  watch_end || status=1
  # Only a look at every map converts the X-ray map, never saved, again.
  [ "$(grep -c 'X1.BMP' "$work/watch.out")" -ge 2 ] || { echo "  FAIL  the change list never overflowed"; status=1; }
  no_scratch "$d" || status=1
  return $status
}
# The watched folder renamed away, then a folder of its name made again;
# then a folder two levels above it renamed and the path made again.
case_cli_watch_gone() {
  local top=$work/cases/cli-gone d=$work/cases/cli-gone/a/b/maps status=0
  new_case "$d" unused.exe small 1.BMP; rm "$d/unused.exe"
  watch_start "$d" 1 || status=1
  mv "$d" "$d.old"
  for _ in $(seq 100); do grep -qF 'maps is gone; watching for it to come back' "$work/watch.err" && break; sleep 0.1; done
  grep -qF "$(winpath "$d") is gone; watching for it to come back" "$work/watch.err" || { echo "  FAIL  not told the folder is gone"; status=1; }
  mkdir "$d.new"; cp "$work/small/MAP29361206-X1.BMP" "$d.new/MAP29361206-1.BMP"; mv "$d.new" "$d"
  wait_same "$d/MAP29361206-2.BMP" "$work/small/MAP29361206-X2.BMP" || status=1
  # Held still, so the watch looks only once the path is there again.
  kill -STOP "$watch_pid"; mv "$top/a" "$top/a2"; mkdir -p "$d"; kill -CONT "$watch_pid"
  for _ in $(seq 100); do grep -qF 'was renamed or removed' "$work/watch.err" && break; sleep 0.1; done
  grep -qF "$(winpath "$d") was renamed or removed; watching the folder now at that path" "$work/watch.err" ||
    { echo "  FAIL  not told a folder above was renamed"; status=1; }
  cp "$work/small/MAP29361206-1.BMP" "$d/saved.tmp"; mv "$d/saved.tmp" "$d/MAP29361206-1.BMP"
  wait_same "$d/MAP29361206-2.BMP" "$work/small/MAP29361206-2.BMP" || status=1
  watch_end || status=1
  return $status
}

scenario() {  # description, function
  echo "== $1"
  local status=0
  "$2" || status=1
  record "$1" $status
}
set +e
scenario "probe with no map: all labels etched, not-found text, Space quits" case_probe_none
scenario "probe with only the X-ray map" case_probe_one
scenario "probe with all maps; Escape does nothing, Tab moves, Enter quits" case_keys
scenario "close box quits" case_close_box
scenario "full run writes what the Linux core writes" case_run
scenario "halfmap.exe FOLDER converts that folder's maps" case_folder_argument
scenario "a folder dropped onto the window (WM_DROPFILES) is probed again and converted" case_folder_dropped
scenario "two folders given: a message box says what is expected, then no map is found" case_two_folders
scenario "Abort during the second map keeps earlier outputs" case_abort
scenario "Enter on the focused Abort during a run" case_abort_by_key
scenario "close box during a run waits for the run" case_close_during_run
scenario "a quit message during a run waits for the run" case_quit_during_run
scenario "output held open by another program: error box" case_held
scenario "read-only output: error box" case_read_only
scenario "folder named 地図表 under LC_ALL=C.UTF-8" case_japanese_folder
scenario "halfmap-cli.exe converts a folder named cli-地図表 given as an argument" case_cli_japanese_folder
scenario "halfmap-cli.exe: a read-only output fails that map alone, exit status 1" case_cli_refused
scenario "halfmap-cli.exe: results into a closed pipe stop the run with 130, onto a full disk fail with 1" case_cli_closed_output
scenario "halfmap-cli.exe --watch converts a rewritten map; Ctrl+C ends it with 130" case_cli_watch
scenario "halfmap-cli.exe leaves a user's OUTPUT.tmp alone when there is no output" case_cli_user_tmp
scenario "halfmap-cli.exe waits out an output held for 300 ms by another program" case_cli_brief_hold
scenario "halfmap-cli.exe fails an output held for 10 s, leaving it as it was, exit status 1" case_cli_long_hold
scenario "halfmap-cli.exe converts in a folder deeper than 260 characters; paths take the \\?\ form" case_cli_long_path
scenario "halfmap-cli.exe: a hidden output stays hidden when replaced" case_cli_hidden
scenario "halfmap-cli.exe -j 6: one folder under two drive letters is converted once" case_cli_two_drives
scenario "halfmap-cli.exe: an argument that is not text is a usage error, exit status 2" case_cli_not_text
scenario "halfmap-cli.exe /? prints the help; --verfy is named as --verify, exit status 2" case_cli_slash_help
scenario "halfmap-cli.exe --watch: a change list that overflows keeps the watch going" case_cli_watch_overflow
scenario "halfmap-cli.exe: device names are refused alike as input and output; an unwritable folder is named; --watch over 40 folders sees a save in the last" case_cli_devices
scenario "halfmap-cli.exe: links at scratch, OUTPUT.tmp and output names are never followed" case_cli_links
scenario "halfmap-cli.exe: six runs converting to one output at once all succeed" case_cli_same_output
scenario "halfmap-cli.exe --watch: a folder renamed away is told of and taken up again" case_cli_watch_gone
scenario "each label created just before its bar; layout and the status bar's font kept through DPI changes" case_layout
set -e

# The screen's dots per inch, as Wine takes it from the prefix at start.
set_dpi() {
  iconv -f UTF-8 -t UTF-16 >"$work/dpi.reg" <<REG
REGEDIT4

[HKEY_CURRENT_USER\Control Panel\Desktop]
"LogPixels"=dword:$(printf '%08x' "$1")
REG
  "${wine[@]}" regedit /S "$(winpath "$work/dpi.reg")"
}
screenshot() {  # file, dpi
  local d=$work/cases/shot-$2; new_case "$d" halfmap.exe small 1.BMP X1.BMP
  set_dpi "$2"
  rm -f "$work/shown"
  drive show "$(winpath "$d/halfmap.exe")" "$(winpath "$work/shown")" &
  local shown_pid=$!
  for _ in $(seq 200); do [ -e "$work/shown" ] && break; sleep 0.1; done
  sleep 0.5
  import -display "$DISPLAY" -window "$(xdotool search --name Corvane | head -1)" "$1"
  rm -f "$work/shown"
  wait "$shown_pid"
  echo "screenshot at $2 dpi: $1"
}
# HALFMAP_SCREENSHOT=shot.png: the window at 96 dpi there, and at 144 dpi
# in shot-144dpi.png.
if [ -n "${HALFMAP_SCREENSHOT:-}" ]; then
  screenshot "$HALFMAP_SCREENSHOT" 96
  screenshot "${HALFMAP_SCREENSHOT%.png}-144dpi.png" 144
  set_dpi 96
fi

echo "Wine tests: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
