#!/usr/bin/env bash
# Runs the README's simulated-device steps as they stand, in a scratch folder, twice in a row
# in one interactive shell (the second run finds the first one's log and files in place), and
# checks each time that the application sees the phone by its name, and that Ctrl-C (SIGINT to
# the steps' process group, as a terminal sends it) quits it in order and leaves no simulated
# phone running; a file changed on the phone between the runs stays changed. A third run,
# whose pairing fails, stops before the application starts and says why. The steps keep their
# files under $XDG_RUNTIME_DIR, which points into the scratch folder; one substitution only:
# "scripts/run" (which would configure and build this tree) becomes the application already
# built.
#   simulated_device_steps.sh README.md BUILD_DIR
set -euo pipefail
readme=$1
build=$(cd "$2" && pwd)
work=$(mktemp -d)
mkdir -m 700 "$work/runtime"
phone_files="$work/runtime/orvandel-simphone-$(id -u)/files"
# The browser view's helper processes end a moment after the application and may still be
# writing their caches: a folder that will not go away yet must not fail the steps.
# Processes still serving this scratch folder's simulated phone.
leftovers() {
  local cmdline
  for cmdline in /proc/[0-9]*/cmdline; do
    if { tr '\0' ' ' < "$cmdline"; } 2>/dev/null | grep -q -- "--socket $work/runtime/"; then
      echo "${cmdline//[!0-9]/}"
    fi
  done
}
trap 'kill $(jobs -p) $(leftovers) 2>/dev/null || true; rm -rf "$work" 2>/dev/null || rm -rf "$work" 2>/dev/null || true' EXIT

steps=$(awk '/<!-- simulated-device-steps -->/ { found = 1; next }
             found && /^```sh/ { inside = 1; next }
             inside && /^```/ { exit }
             inside' "$readme")
[ -n "$steps" ] || { echo "no simulated-device steps in $readme"; exit 1; }
steps=${steps//scripts\/run/$work/run-app}

# The application, which says when it has announced the phone and ends with its own
# exit status (kept for the check below).
cat > "$work/run-app" <<APP
#!/usr/bin/env bash
"$build/bin/orvandel" > "$work/app.log" 2>&1 &
app=\$!
echo \$app > "$work/app.pid"
for _ in \$(seq 1 2400); do
  grep -q "new phone connected:Test Phone" "$work/app.log" && break
  kill -0 \$app 2>/dev/null || break
  sleep 0.1
done
grep -q "new phone connected:Test Phone" "$work/app.log" && touch "$work/phone-seen"
wait \$app
APP
chmod +x "$work/run-app"

mkdir -p "$work/home"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/config" XDG_DATA_HOME="$work/home/data"
export XDG_CACHE_HOME="$work/home/cache" XDG_STATE_HOME="$work/home/state"
export XDG_RUNTIME_DIR="$work/runtime"
cd "$work"
# The steps name the programs relative to the repository; this build may live elsewhere.
steps=${steps//build\/bin\//$build/bin/}
echo "$steps"
# Typed into an interactive shell on a terminal of its own, as a person runs them; Ctrl-C
# there drops whatever was typed ahead, as a terminal does.
mkfifo "$work/keys"
script -q -e -c "bash --norc --noprofile -i" /dev/null < "$work/keys" > "$work/terminal.log" 2>&1 &
terminal=$!
exec 3> "$work/keys"
# One run of the steps up to the application's announcing the phone, then Ctrl-C: the
# application quits in order and no simulated phone is left.
run_steps() {
  local run=$1 app
  rm -f "$work/phone-seen" "$work/app.pid"
  printf '%s\n' "$steps" >&3
  for _ in $(seq 1 2700); do
    [ -e "$work/phone-seen" ] && break
    kill -0 $terminal 2>/dev/null || break
    sleep 0.1
  done
  if [ ! -e "$work/phone-seen" ]; then
    echo "run $run: the application never announced \"Test Phone\":"; cat "$work/app.log"
    echo "terminal:"; cat "$work/terminal.log"; exit 1
  fi
  app=$(cat "$work/app.pid")
  printf '\003' >&3  # Ctrl-C
  for _ in $(seq 1 300); do
    kill -0 "$app" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$app" 2>/dev/null; then
    echo "run $run: the application did not quit on Ctrl-C"; tail -20 "$work/app.log"; exit 1
  fi
  no_phone_left "run $run: after Ctrl-C"
}
# The shell is back at its prompt: a line typed now is not dropped by the last Ctrl-C.
# The marker is typed as a sum, so that only the shell's answer, not the typing, matches.
shell_ready() {
  local mark=$1
  for _ in $(seq 1 30); do
    printf 'echo shell-ready-$((%s+0))\n' "$mark" >&3
    for _ in $(seq 1 20); do
      grep -q "shell-ready-$mark" "$work/terminal.log" && return
      sleep 0.1
    done
  done
  echo "the shell did not come back after run $mark:"; cat "$work/terminal.log"; exit 1
}
no_phone_left() {
  local left
  for _ in $(seq 1 300); do
    left=$(leftovers)
    [ -z "$left" ] && return
    sleep 0.1
  done
  echo "$1, a simulated phone is still running:" $left; exit 1
}

run_steps 1
shell_ready 1
# What the application changed on the phone outlives the run; the log still says "serving".
echo "changed in the application" >> "$phone_files/hello.txt"
grep -q serving "$work/runtime/orvandel-simphone-$(id -u)/log"
run_steps 2
shell_ready 2
if [ "$(cat "$phone_files/hello.txt")" != "$(printf 'hello from the phone\nchanged in the application')" ]; then
  echo "the second run did not keep hello.txt as the first left it:"; cat "$phone_files/hello.txt"; exit 1
fi

# A pairing that fails ends the steps with the reason, before the application starts.
mkdir -p "$work/refusing"
printf '#!/bin/sh\necho "No device found."\nexit 1\n' > "$work/refusing/idevicepair"
chmod +x "$work/refusing/idevicepair"
rm -f "$work/app.pid"
printf 'PATH="%s:$PATH"\n' "$work/refusing" >&3
printf '%s\n' "$steps" >&3
for _ in $(seq 1 600); do
  grep -q "Pairing with the simulated phone failed" "$work/terminal.log" && break
  sleep 0.1
done
if ! grep -q "Pairing with the simulated phone failed" "$work/terminal.log"; then
  echo "a failed pairing was not told:"; cat "$work/terminal.log"; exit 1
fi
no_phone_left "after a failed pairing"
if [ -e "$work/app.pid" ]; then
  echo "the application started although pairing failed"; exit 1
fi

shell_ready 3
printf 'exit\n' >&3
exec 3>&-
for _ in $(seq 1 100); do
  kill -0 $terminal 2>/dev/null || break
  sleep 0.1
done
echo "twice the phone reached the application, which quit in order on Ctrl-C, and the simulated phone stopped; a failed pairing stopped the steps"
