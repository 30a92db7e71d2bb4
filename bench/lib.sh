# Sourced by the benchmark scripts in bench/.

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# Runs a shell command line, its standard output discarded or kept in a
# file. Prints its wall seconds and peak resident KiB, or fails as the
# command did, its errors left in FOLDER/err.
timed() {  # command line, scratch folder, [output file]
  local start end
  start=$(date +%s.%N)
  /usr/bin/time -f %M -o "$2/mem" bash -c "$1 > '${3:-/dev/null}'" 2>"$2/err" || return 1
  end=$(date +%s.%N)
  echo "$(echo "$end - $start" | bc -l) $(tail -n1 "$2/mem")"
}

# The ImageMagick command line that makes a half-scale copy, given room for
# the whole map in memory so it neither refuses it nor spills to disk. The
# system policy's limits only come down, so a policy of our own is put first
# on the search path, in the scratch folder.
imagemagick_halve() {  # input, output, scratch folder
  local policy=$3/magick-policy
  mkdir -p "$policy"
  cat >"$policy/policy.xml" <<'XML'
<policymap>
  <policy domain="resource" name="memory" value="16GiB"/>
  <policy domain="resource" name="map" value="16GiB"/>
  <policy domain="resource" name="area" value="16GP"/>
  <policy domain="resource" name="disk" value="16GiB"/>
  <policy domain="resource" name="width" value="1MP"/>
  <policy domain="resource" name="height" value="1MP"/>
</policymap>
XML
  echo "MAGICK_CONFIGURE_PATH='$policy' convert -limit memory 16GiB -limit map 16GiB -limit area 16GP" \
    "-limit width 1MP -limit height 1MP '$1' -sample 50% -compress none 'BMP3:$2'"
}

# "a / b" to two places.
ratio() { printf '%.2f' "$(echo "$1 / $2" | bc -l)"; }

# "meets" or "MISSES" for value <= limit (or >= with ge).
verdict() {  # value, limit, [ge]
  local holds
  if [ "${3:-le}" = ge ]; then holds=$(echo "$1 >= $2" | bc -l); else holds=$(echo "$1 <= $2" | bc -l); fi
  [ "$holds" = 1 ] && echo meets || echo MISSES
}
