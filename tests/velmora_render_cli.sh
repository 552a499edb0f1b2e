#!/usr/bin/env bash
# End-to-end checks of velmora-render: outputs, default names, formats by
# extension, standard output, and the exit status of bad input and failed I/O.
set -u
render=$1
fail=0
check() {  # check NAME COMMAND...
  local name=$1; shift
  if ! "$@"; then echo "FAIL: $name"; fail=1; fi
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
at=(--at 2005-09-29T00:00:00Z)

# Healing only: exactly that many seconds; raw is the bare samples, WAV adds 44 bytes.
"$render" --quiet "${at[@]}" --healing-only 3 --out h.raw -- m1; check "raw status" test $? -eq 0
check "raw length" test "$(stat -c %s h.raw)" -eq 96000
"$render" --quiet "${at[@]}" --healing-only 3 --out h.wav -- m1
check "wav length" test "$(stat -c %s h.wav)" -eq 96044
check "wav body is the raw" cmp -s -i 44:0 h.wav h.raw
# The format follows the extension; FLAC starts with its marker.
"$render" --quiet "${at[@]}" --healing-only 3 --out h.flac -- m1
check "flac marker" test "$(head -c 4 h.flac)" = "fLaC"
# Default name from the date of --at.
"$render" --quiet "${at[@]}" --healing-only 1 -- m1
check "default name" test -f velmora-2005-09-29.wav
# Standard output.
bytes=$("$render" --quiet "${at[@]}" --healing-only 2 --format raw --out - -- m1 | wc -c)
check "stdout bytes" test "$bytes" -eq 64000
# A summary line on stderr.
summary=$("$render" "${at[@]}" --healing-only 1 --out s.raw -- m1 2>&1 >/dev/null)
check "summary" grep -q '^velmora-render: wrote s.raw (raw): 0.0 min' <<<"$summary"
# A short programme, with a clamp note.
err=$("$render" "${at[@]}" --format raw --out p.raw -- m2 r1 +0 'm-99' 2>&1 >/dev/null)
check "programme status" test $? -eq 0
check "clamp note" grep -q 'moonFactor -99 is outside -11..87; using -11' <<<"$err"

# Bad arguments: one line and status 2, no file.
for bad in "--nope" "--format mp3" "--healing x" "--healing 99999999" "--healing 1 --healing-only 1" "--out" "--at 2005-13-01T00:00Z"; do
  err=$("$render" $bad 2>&1 >/dev/null); status=$?
  check "status 2 for '$bad'" test $status -eq 2
  check "message for '$bad'" grep -q '^velmora-render: ' <<<"$err"
done
err=$("$render" --quiet --healing-only 1 --out nodir/x.wav 2>&1); status=$?
check "missing directory status" test $status -eq 1
check "missing directory message" grep -qx "velmora-render: cannot create 'nodir/x.wav': No such file or directory" <<<"$err"
check "help" "$render" --help >/dev/null
check "version" grep -Eq '^velmora-render [0-9]+\.[0-9]+\.[0-9]+$' <<<"$("$render" --version)"

# A full disk (a file size limit, SIGXFSZ ignored so that writes fail with
# EFBIG): status 1, one line naming the output and the reason, nothing under
# the final name, no temporary left behind. Once in the middle of the file
# (FLAC compresses healing about twentyfold, so it gets a longer one), and
# once a few hundred bytes before its end, for each kind of output: the last
# write fails, for Ogg the last page written as libsndfile closes.
mkdir full
limited() {  # limited BYTES COMMAND...: runs COMMAND with files limited to BYTES
  local bytes=$1; shift
  (trap '' XFSZ; exec prlimit --fsize="$bytes" -- "$@")
}
full_disk() {  # full_disk CASE NAME ERR STATUS
  check "full disk status ($1)" test "$4" -eq 1
  check "full disk message ($1)" grep -qx "velmora-render: cannot write 'full/$2': File too large" <<<"$3"
  check "full disk leaves nothing ($1)" test -z "$(ls -A full)"
}
for name_seconds in n.wav:60 n.flac:1200; do
  name=${name_seconds%:*}
  err=$(limited 102400 "$render" --quiet "${at[@]}" --healing-only "${name_seconds#*:}" --out "full/$name" -- m1 2>&1); status=$?
  full_disk "middle, $name" "$name" "$err" $status
done
for name in n.raw n.wav n.flac n.ogg lights.csv; do
  case $name in
    lights.csv) what=(--lights) words=(m1 '!3') ;;
    *) what=(--healing-only 20 --out) words=(m1) ;;
  esac
  "$render" --quiet "${at[@]}" "${what[@]}" "whole.$name" -- "${words[@]}"
  size=$(stat -c %s "whole.$name")
  err=$(limited $((size - 300)) "$render" --quiet "${at[@]}" "${what[@]}" "full/$name" -- "${words[@]}" 2>&1); status=$?
  full_disk "end, $name of $size bytes" "$name" "$err" $status
done

# "wrote" lasts: the temporary file is flushed before it is renamed over the
# output, and the folder after.
strace -f -qq -e trace=openat,fsync,fdatasync,rename,renameat,renameat2 -o "$work/trace" \
  "$render" --quiet "${at[@]}" --healing-only 1 --out durable.wav -- m1
order=$(grep -oE '(fsync|fdatasync|rename|renameat2?)\([^)]*' "$work/trace" | tr -d '"' | tr '\n' ' ')
temp_fd=$(grep -oE 'openat\(AT_FDCWD, "\.durable\.wav\.partial-[^"]*".*= [0-9]+$' "$work/trace" | grep -oE '[0-9]+$')
folder_fd=$(grep -oE 'openat\(AT_FDCWD, "\.", O_RDONLY.*O_DIRECTORY.*= [0-9]+$' "$work/trace" | grep -oE '[0-9]+$')
check "durable: the file, the rename, the folder ($order)" \
  grep -qE "^fsync\($temp_fd rename\(\.durable\.wav\.partial-[^ ]*, durable\.wav fsync\($folder_fd $" <<<"$order"

# A directory that vanishes while the night is written: status 1, a message,
# and nothing left behind. The render is stopped once its temporary file is
# there, so that the folder goes while it is still writing.
mkdir gone
"$render" --quiet "${at[@]}" --format flac --out gone/n.flac -- m1 2>"$work/gone.err" &
render_pid=$!
until ls gone/.n.flac.partial-* >/dev/null 2>&1 || ! kill -0 "$render_pid" 2>/dev/null; do sleep 0.01; done
kill -STOP "$render_pid" 2>/dev/null
rm -rf gone
kill -CONT "$render_pid" 2>/dev/null
wait "$render_pid"; status=$?
check "vanished directory status" test $status -eq 1
check "vanished directory message" grep -qx "velmora-render: cannot rename to 'gone/n.flac': No such file or directory" "$work/gone.err"
check "vanished directory leaves nothing" test ! -e gone

# The lights file: a header and rows, the same on every run; refused without
# a light-mode word or beside --out, leaving no file.
"$render" --quiet "${at[@]}" --lights l.csv -- m1 '!3'; check "lights status" test $? -eq 0
check "lights header" test "$(head -1 l.csv)" = "time_ms,pattern,level"
check "lights first row" test "$(sed -n 2p l.csv)" = "5,255,63"
"$render" --quiet "${at[@]}" --lights - -- m1 '!3' | cmp -s - l.csv; check "lights repeatable" test $? -eq 0
check "on/off rows" test "$("$render" --quiet "${at[@]}" --lights - -- m1 '!-1' | sed -n 1,2p | tr '\n' ' ')" = "time_ms,pattern,light 5,255,on "
"$render" --quiet "${at[@]}" --lights s.csv -- m1 2>"$work/lights.err"; status=$?
check "lights without a light word: status 2" test $status -eq 2
check "lights without a light word: says so" grep -q "need a light-mode word" "$work/lights.err"
check "lights without a light word: no file" test ! -e s.csv
"$render" --quiet --lights b.csv --out b.wav -- m1 '!3' 2>/dev/null; status=$?
check "lights beside --out: status 2" test $status -eq 2
check "lights beside --out: no files" test ! -e b.csv -a ! -e b.wav

exit $fail
