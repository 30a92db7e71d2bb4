# Sourced by tools/test-wine.sh and bench/speed.sh: picks the Windows build
# this machine's Wine can run, and starts a virtual display and a throwaway
# Wine prefix under a work folder. The sourcing script calls
# stop_wine_session on exit.

xvfb_pid=
prefix=
# The display, the wineserver and what Wine spawns end with the session.
source tools/processes.sh
mark_processes HALFMAP_WINE_RUN

# A 93-byte static i386 Linux program that only exits: whether the kernel
# runs it says whether 32-bit Wine can run at all.
runs_32bit() {  # work folder
  local elf=$1/exit32
  printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00' >"$elf"
  printf '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00' >>"$elf"
  printf '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00' >>"$elf"
  printf '\x00\x00\x00\x00' >>"$elf"
  printf '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08' >>"$elf"
  printf '\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00' >>"$elf"
  printf '\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80' >>"$elf"
  chmod +x "$elf"
  "$elf" 2>/dev/null
}

# Why apt failed, in one line: its last error, and whether the package
# index was out of date.
apt_failure() {  # log
  local why
  why=$(grep '^E: ' "$1" | tail -n 1 | sed 's/^E: //')
  grep -q 'index could not be refreshed' "$1" && why+=" (the package index could not be refreshed)"
  echo "${why:-apt gave no reason}"
}

# The shipped 32-bit build where the kernel runs 32-bit programs; otherwise
# the same source built for 64-bit Windows under wine64. Sets wine (the
# command), win_build (the build folder) and win_kind (what ran, in words),
# and exports WINEARCH. Configures and builds the given targets there.
choose_wine_build() {  # work folder, extra configure options..., --, targets...
  local work=$1 preset; shift
  local options=() targets=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do options+=("$1"); shift; done
  [ $# -gt 0 ] && shift
  targets=("$@")
  local why_not_32bit=
  if ! runs_32bit "$work"; then
    why_not_32bit="this kernel cannot run 32-bit programs"
  elif ! bash tools/install-deps.sh wine32:i386 >"$work/wine32.log" 2>&1; then
    # A mirror whose i386 half is out of step with amd64 can last for hours.
    why_not_32bit="32-bit Wine could not be installed: $(apt_failure "$work/wine32.log")"
  fi
  if [ -z "$why_not_32bit" ]; then
    preset=windows
    export WINEARCH=win32
    unset WINELOADER
    wine=(wine)
    win_kind="the shipped i686 build under 32-bit Wine"
  else
    preset=windows-x64
    export WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64
    wine=(/usr/lib/wine/wine64)
    win_kind="the x86_64 build under wine64, as $why_not_32bit"
  fi
  win_build=$PWD/build/$preset
  cmake --preset "$preset" "${options[@]}" >/dev/null
  cmake --build --preset "$preset" -j2 ${targets[@]:+--target "${targets[@]}"}
}

# Xvfb on a free display and a fresh prefix in the work folder, with no
# window manager wait and the dialog fonts mapped to a Japanese font.
start_wine_session() {  # work folder
  local work=$1
  Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp -noreset -r 3>"$work/display" 2>/dev/null &
  xvfb_pid=$!
  for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
  export DISPLAY=:$(cat "$work/display")
  prefix=$work/prefix
  mkdir -p "$prefix"
  export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  "${wine[@]}" wineboot -i >/dev/null 2>&1
  iconv -f UTF-8 -t UTF-16 >"$work/setup.reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"

[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]
"MS Shell Dlg"="Noto Sans CJK JP"
"MS Shell Dlg 2"="Noto Sans CJK JP"
"Tahoma"="Noto Sans CJK JP"
REG
  "${wine[@]}" regedit /S "$(winpath "$work/setup.reg")"
}

stop_wine_session() {
  [ -n "$prefix" ] && WINEPREFIX=$prefix /usr/lib/wine/wineserver -k 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null || true
  # wineserver -k returns before the server has gone.
  # return 0: a bare return in an EXIT trap gives the exit status of the script.
  for _ in $(seq 50); do [ -z "$(marked_processes HALFMAP_WINE_RUN)" ] && return 0; sleep 0.1; done
  end_marked_processes HALFMAP_WINE_RUN || true
}

# A Linux path as Wine's Z: drive sees it.
winpath() { local p=$1; printf 'Z:%s' "${p//\//\\}"; }
