#!/usr/bin/env bash
# nkitool as a user meets it.
#   nkitool_check.sh offline NKITOOL VTOKEN   command line, no PC/SC service
#   nkitool_check.sh token NKITOOL VTOKEN     under scripts/pcsc-stack, with nki-vtoken
set -uo pipefail
mode=$1 tool=$2 vtoken=$3
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
token=""
watcher=""
cleanup() {
  if [ -n "$watcher" ]; then kill -TERM "$watcher" 2>/dev/null; wait "$watcher" 2>/dev/null; fi
  if [ -n "$token" ]; then kill -TERM "$token" 2>/dev/null; wait "$token" 2>/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT
failures=0

# expect STATUS DESCRIPTION COMMAND...: runs COMMAND, keeps its stdout and stderr in
# $work/out and $work/err, and checks its exit status.
expect() {
  local want=$1 what=$2; shift 2
  "$@" >"$work/out" 2>"$work/err"
  local got=$?
  if [ "$got" != "$want" ]; then
    echo "FAIL: $what: exit $got, expected $want"; sed 's/^/  out: /' "$work/out"; sed 's/^/  err: /' "$work/err"
    failures=$((failures + 1))
  fi
}
contains() {  # contains FILE TEXT DESCRIPTION
  grep -qF -- "$2" "$1" || { echo "FAIL: $3: no \"$2\" in:"; sed 's/^/  /' "$1"; failures=$((failures + 1)); }
}
empty() {  # empty FILE DESCRIPTION
  [ ! -s "$1" ] || { echo "FAIL: $2: expected nothing, got:"; sed 's/^/  /' "$1"; failures=$((failures + 1)); }
}

if [ "$mode" = offline ]; then
  expect 0 "--version" "$tool" --version
  contains "$work/out" "nkitool " "--version names the tool"
  contains "$work/out" "interface version 0x" "--version names the library's interface version"
  expect 0 "--help" "$tool" --help
  contains "$work/out" "Exit status" "--help"
  # Bad command lines: refused with status 2, the reason on stderr, nothing on stdout.
  while IFS='|' read -r args reason; do
    # shellcheck disable=SC2086
    expect 2 "nkitool $args" "$tool" $args
    contains "$work/err" "$reason" "nkitool $args"
    empty "$work/out" "nkitool $args"
  done <<'CASES'
--bogus list|unknown option --bogus
list --pin 12345678|unknown option --pin
frobnicate|unknown command
sign|usage: nkitool sign
random 0x10|usage: nkitool random
random 2000000|usage: nkitool random
cert get 0|usage: nkitool cert
pin unblock|unknown pin command
--slot 0 pubkey|bad value for --slot
--hex --binary random 4|exclude each other
--reader|needs a value
CASES
  # No PC/SC service: said so on stderr, not "no readers", and status 3.
  expect 3 "list without pcscd" "$tool" list
  contains "$work/err" "PC/SC service (pcscd) is not running" "list without pcscd"
  empty "$work/out" "list without pcscd"
  expect 3 "info without pcscd" "$tool" info
  # Hashing needs no token; --check in the style of sha256sum.
  printf 'abc' >"$work/abc"
  : >"$work/empty"
  expect 0 "hash" "$tool" hash "$work/abc" "$work/empty"
  cp "$work/out" "$work/list"
  [ "$(wc -l <"$work/list")" = 2 ] || { echo "FAIL: hash prints one line per file"; failures=$((failures + 1)); }
  expect 0 "hash --check" "$tool" hash --check "$work/list"
  contains "$work/out" "abc: OK" "hash --check"
  printf 'abd' >"$work/abc"
  expect 5 "hash --check after a change" "$tool" hash --check "$work/list"
  contains "$work/out" "abc: FAILED" "hash --check after a change"
  rm "$work/empty"
  expect 5 "hash --check of a missing file" "$tool" hash --check "$work/list"
  expect 1 "hash of a missing file" "$tool" hash "$work/missing"
  [ $failures -eq 0 ] && echo "nkitool command line: all checks passed"
  exit $((failures > 0))
fi

# ---- With a simulated token behind a real pcscd ----
[ -n "${VPCD_PORT:-}" ] || { echo "run under scripts/pcsc-stack"; exit 2; }
# watch sees the token arrive and, at the end, leave.
"$tool" watch >"$work/watch" 2>&1 &
watcher=$!
sleep 1
"$vtoken" --state "$work/token.state" --port "$VPCD_PORT" 2>"$work/vtoken.log" &
token=$!
for _ in $(seq 1 100); do
  "$tool" list 2>/dev/null | grep -q "active token" && break
  sleep 0.1
done
expect 0 "list" "$tool" list
contains "$work/out" "device: active token (kind 3)" "list"
contains "$work/out" "ATR:" "list"
contains "$work/out" "no token" "list shows the empty second slot"
serial=$(sed -n 's/^ *serial: //p' "$work/out")
[ ${#serial} = 16 ] || { echo "FAIL: list shows the serial"; failures=$((failures + 1)); }
expect 0 "list --json" "$tool" list --json
python3 -c 'import json,sys; r=json.load(open(sys.argv[1])); assert r[0]["present"] and r[0]["kind"]==3 and not r[1]["present"]' "$work/out" ||
  { echo "FAIL: list --json"; failures=$((failures + 1)); }
expect 0 "info by serial" "$tool" --reader "#$serial" info
contains "$work/out" "GF(2^191)" "info"
expect 3 "an unknown serial" "$tool" --reader "#0011223344556677" info

export NKI_PIN=12345678
expect 0 "keygen owner" "$tool" keygen owner --pin-env NKI_PIN
expect 0 "pubkey (binary)" "$tool" pubkey -o "$work/key.bin"
[ "$(stat -c %s "$work/key.bin")" = 48 ] || { echo "FAIL: the public key file has 48 bytes"; failures=$((failures + 1)); }
expect 0 "pubkey (hex, compressed)" "$tool" pubkey --compressed --hex -o "$work/key.hex"
expect 0 "params" "$tool" params -o "$work/params"

# A file of several chunks, signed through the library's streaming calls.
head -c 3500000 /dev/urandom >"$work/data"
expect 0 "sign" "$tool" sign "$work/data" -o "$work/sig" --pin-env NKI_PIN
[ "$(stat -c %s "$work/sig")" = 48 ] || { echo "FAIL: the signature file has 48 bytes"; failures=$((failures + 1)); }
expect 0 "verify with the token's key" "$tool" verify "$work/data" "$work/sig"
contains "$work/out" "signature valid" "verify"
expect 0 "verify with a key file" "$tool" verify "$work/data" "$work/sig" --pubkey "$work/key.bin"
expect 0 "verify with a compressed hex key file" "$tool" verify "$work/data" "$work/sig" --pubkey "$work/key.hex"
cp "$work/data" "$work/changed"
printf 'x' | dd of="$work/changed" bs=1 seek=1000000 conv=notrunc status=none
expect 5 "verify a changed file" "$tool" verify "$work/changed" "$work/sig" --pubkey "$work/key.bin"
contains "$work/err" "NOT valid" "verify a changed file"

# A wrong PIN: status 4 and the token's count of attempts in the message.
expect 4 "a wrong PIN" sh -c 'echo 11111111 | "$0" pin verify --pin-stdin' "$tool"
contains "$work/err" "result 233" "a wrong PIN"

# The PIN prompted on a terminal is never echoed, for verify and for a change.
expect 0 "PIN on a terminal" python3 "$here/pin_prompt.py" 12345678 "$tool" pin verify
contains "$work/out" "PIN accepted" "PIN on a terminal"
expect 0 "PIN change on a terminal" python3 "$here/pin_prompt.py" 12345678,24681357,24681357 "$tool" pin change
expect 0 "the new PIN" sh -c 'echo 24681357 | "$0" pin verify --pin-stdin' "$tool"
expect 4 "the old PIN no more" sh -c 'echo 12345678 | "$0" pin verify --pin-stdin' "$tool"

# The token's user file and certificate store.
printf 'user data' >"$work/user"
export NKI_PIN=24681357
expect 0 "userfile write" "$tool" userfile write "$work/user" --offset 10 --pin-env NKI_PIN
expect 0 "userfile read" "$tool" userfile read --offset 10 --length 9 -o "$work/user.back" --pin-env NKI_PIN
cmp -s "$work/user" "$work/user.back" || { echo "FAIL: userfile round trip"; failures=$((failures + 1)); }
expect 0 "cacert put" "$tool" cacert put "$work/user" --pin-env NKI_PIN
head -c 700 /dev/urandom >"$work/cert"
expect 0 "cert put" "$tool" cert put "$work/cert" --pin-env NKI_PIN
expect 0 "cert get" "$tool" cert get 1 -o "$work/cert.back" --pin-env NKI_PIN
cmp -s "$work/cert" "$work/cert.back" || { echo "FAIL: cert round trip"; failures=$((failures + 1)); }
expect 0 "random" "$tool" random 32
[ "$(tr -d '\n' <"$work/out" | wc -c)" = 64 ] || { echo "FAIL: random 32 prints 64 hex digits"; failures=$((failures + 1)); }
expect 0 "apdu" "$tool" apdu 80F2000501
contains "$work/out" "9000" "apdu"

# Without the token: a key file and the parameter file still verify.
kill -TERM "$token"; wait "$token" 2>/dev/null; token=""
for _ in $(seq 1 100); do grep -q "token removed" "$work/watch" && break; sleep 0.1; done
kill -TERM "$watcher"; wait "$watcher"; watcher=""
contains "$work/watch" "Virtual PCD 00 00: token inserted" "watch"
contains "$work/watch" "Virtual PCD 00 00: token removed" "watch"
expect 0 "verify without a token" "$tool" verify "$work/data" "$work/sig" --pubkey "$work/key.bin" --params "$work/params"
expect 5 "verify a changed file without a token" "$tool" verify "$work/changed" "$work/sig" --pubkey "$work/key.hex" --params "$work/params"
expect 3 "sign without a token" "$tool" sign "$work/data" -o "$work/sig2" --pin-env NKI_PIN
contains "$work/err" "no token" "sign without a token"

[ $failures -eq 0 ] && echo "nkitool with the simulated token: all checks passed"
exit $((failures > 0))
