# Sourced by the test scripts: every process a script starts carries a mark
# in its environment, so that what outlives the script (a daemon that forked
# away, a server a program spawned on its own, a wineserver) can be found
# and ended on every path, pass or fail.

# Marks everything this shell starts from now on with NAME=<a fresh id>, and
# turns a signal into an exit, so the EXIT trap runs then too.
mark_processes() {  # variable name
  export "$1=$$.$RANDOM$RANDOM"
  trap 'exit 130' INT TERM HUP
}

# The processes, other than this shell and its subshells, that carry the
# mark. Reads /proc with builtins only, so the search marks nothing new.
marked_processes() {  # variable name
  local mark="$1=${!1}" dir pid entry
  for dir in /proc/[0-9]*; do
    pid=${dir#/proc/}
    [ "$pid" = "$$" ] || [ "$pid" = "$BASHPID" ] && continue
    { while IFS= read -r -d '' entry; do
        [ "$entry" = "$mark" ] && { echo "$pid"; break; }
      done <"$dir/environ"; } 2>/dev/null || true
  done
}

# Ends the marked processes still running, naming each; returns 1 when
# there were any.
end_marked_processes() {  # variable name
  local pids pid
  pids=$(marked_processes "$1")
  [ -z "$pids" ] && return 0
  for pid in $pids; do
    echo "left running: $pid $(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null)" >&2
  done
  kill $pids 2>/dev/null || true
  for _ in $(seq 20); do [ -z "$(marked_processes "$1")" ] && return 1; sleep 0.1; done
  pids=$(marked_processes "$1")
  [ -n "$pids" ] && kill -9 $pids 2>/dev/null
  return 1
}
