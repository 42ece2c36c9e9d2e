#!/usr/bin/env bash
# Runs a firmware update tool against nki-vusb (the simulated token and boot
# loader) through standard input, once per case: a successful upgrade, a block
# refused after a second request to send it again, the token already in its boot
# loader, and a refused restart request. Checks the console text, the exit status
# and the image the boot loader stored.
#
#   fwflash_e2e.sh --vusb NKI_VUSB --image FWFLASH_IMAGE --work DIR [--crlf]
#                  [--port PORT] -- TOOL [ARGS...]
#
# The tool sees NKI_VUSB_PORT (the simulator's TCP port on 127.0.0.1: PORT, or
# the one the first case got, the same for every case) and FWFLASH_DEVICE (its
# boot-loader device socket). --crlf accepts CR LF line ends (a Windows console
# program).
set -euo pipefail

vusb="" image_tool="" work="" crlf=0 port=""
while [ $# -gt 0 ]; do
  case "$1" in
    --vusb) vusb=$2; shift 2 ;;
    --image) image_tool=$2; shift 2 ;;
    --work) work=$2; shift 2 ;;
    --crlf) crlf=1; shift ;;
    --port) port=$2; shift 2 ;;
    --) shift; break ;;
    *) echo "fwflash_e2e: unknown option $1" >&2; exit 2 ;;
  esac
done
[ -x "$vusb" ] && [ -x "$image_tool" ] && [ -n "$work" ] && [ $# -gt 0 ] || {
  echo "fwflash_e2e: need --vusb, --image, --work and a tool command" >&2; exit 2; }

mkdir -p "$work"
"$image_tool" "$work/expected.bin"

daemon=""
stop_daemon() {
  if [ -n "$daemon" ]; then
    kill -TERM "$daemon" 2>/dev/null || true
    wait "$daemon" 2>/dev/null || true
    daemon=""
  fi
}
trap stop_daemon EXIT

start_daemon() {
  local case_dir=$1; shift
  rm -rf "$case_dir"; mkdir -p "$case_dir"
  local port_args=()
  [ -n "$port" ] && port_args=(--port "$port")
  "$vusb" --state "$case_dir/token.state" --image "$case_dir/firmware.bin" --device "$case_dir/device" \
    --port-file "$case_dir/port" "${port_args[@]}" "$@" 2>"$case_dir/vusb.log" &
  daemon=$!
  for _ in $(seq 1 100); do
    [ -s "$case_dir/port" ] && [ -S "$case_dir/device" ] && break
    kill -0 "$daemon" 2>/dev/null || { cat "$case_dir/vusb.log" >&2; return 1; }
    sleep 0.05
  done
  [ -s "$case_dir/port" ] || { echo "fwflash_e2e: nki-vusb did not start" >&2; return 1; }
  [ -n "$port" ] || port=$(cat "$case_dir/port")
}

insert='Insert Token and press <Enter>...'
install='Install Drivers for "Bootcore B07" and press <Enter>'
start='Press <ENTER> to start upgrading...'
exit_prompt='Press <ENTER> to exit...'
progress() {
  local i
  for i in $(seq 0 "$1"); do printf '\rProgram %d%%' $((12800 * i / 6140)); done
}

failures=0
run_case() {
  local name=$1 expected=$2 stored=$3; shift 3
  local dir="$work/$name"
  start_daemon "$dir" "$@"
  local status=0
  printf '\n\n\n\n\n\n' | NKI_VUSB_PORT=$port FWFLASH_DEVICE="$dir/device" "${tool[@]}" >"$dir/out.raw" \
    2>"$dir/err" || status=$?
  stop_daemon
  if [ "$crlf" = 1 ]; then sed 's/\r$//' "$dir/out.raw" >"$dir/out"; else cp "$dir/out.raw" "$dir/out"; fi
  printf '%s' "$expected" >"$dir/expected"
  local ok=1
  [ "$status" = 0 ] || { echo "  exit status $status, expected 0" >&2; ok=0; }
  cmp -s "$dir/out" "$dir/expected" || {
    echo "  console text differs:" >&2
    diff <(tr '\r' '|' <"$dir/expected") <(tr '\r' '|' <"$dir/out") >&2 || true
    ok=0
  }
  if [ "$stored" = yes ]; then
    cmp -s "$dir/firmware.bin" "$work/expected.bin" || { echo "  stored image differs from the embedded one" >&2; ok=0; }
  elif [ -e "$dir/firmware.bin" ]; then
    echo "  an image was stored although the upgrade failed" >&2; ok=0
  fi
  if [ "$ok" = 1 ]; then echo "ok   $name"; else echo "FAIL $name (see $dir)"; cat "$dir/err" >&2; failures=$((failures + 1)); fi
}

tool=("$@")

run_case upgrade \
  "$insert$install
$start
$(progress 47)"$'\r'"Program 100% Upgrading successful.  
$exit_prompt
" yes

run_case second_resend_refused \
  "$insert$install
$start
$(progress 4)Error during upgrading!
$exit_prompt
$exit_prompt
" no --resend 5:2

run_case already_in_boot_loader \
  "$insert"'Can`t find device.'"
$exit_prompt
" no --boot-loader

run_case restart_refused \
  "$insert""Can't start bootloader
$install
"'Can`t connect to device.'"
$exit_prompt
" no --refuse-control 14A0317A

[ "$failures" = 0 ] || { echo "fwflash_e2e: $failures case(s) failed" >&2; exit 1; }
