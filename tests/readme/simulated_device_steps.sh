#!/usr/bin/env bash
# Runs the README's simulated-device steps as they stand, in a scratch folder, and checks
# that the application sees the phone by its name, and that Ctrl-C (SIGINT to the steps'
# process group, as a terminal sends it) quits it in order and leaves no simulated phone
# running. Two substitutions only: "/tmp/" becomes the scratch folder, and "scripts/run"
# (which would configure and build this tree) becomes the application already built.
#   simulated_device_steps.sh README.md BUILD_DIR
set -euo pipefail
readme=$1
build=$(cd "$2" && pwd)
work=$(mktemp -d)
# The browser view's helper processes end a moment after the application and may still be
# writing their caches: a folder that will not go away yet must not fail the steps.
# Processes still serving this scratch folder's simulated phone.
leftovers() {
  local cmdline
  for cmdline in /proc/[0-9]*/cmdline; do
    if { tr '\0' ' ' < "$cmdline"; } 2>/dev/null | grep -q -- "--socket $work/simdevice.sock"; then
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
steps=${steps//\/tmp\//$work/}
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
printf '%s\n' "$steps" >&3
for _ in $(seq 1 2700); do
  [ -e "$work/phone-seen" ] && break
  kill -0 $terminal 2>/dev/null || break
  sleep 0.1
done
if [ ! -e "$work/phone-seen" ]; then
  echo "the application never announced \"Test Phone\":"; cat "$work/app.log"
  echo "terminal:"; cat "$work/terminal.log"; exit 1
fi
app=$(cat "$work/app.pid")
printf '\003' >&3  # Ctrl-C
# The application quit in order: its log says nothing of a failure, and it is gone.
for _ in $(seq 1 100); do
  kill -0 "$app" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$app" 2>/dev/null; then
  echo "the application did not quit on Ctrl-C"; tail -20 "$work/app.log"; exit 1
fi
sleep 1
printf 'exit\n' >&3
exec 3>&-
for _ in $(seq 1 100); do
  kill -0 $terminal 2>/dev/null || break
  sleep 0.1
done
# No process is left serving this scratch folder's simulated phone.
left=$(leftovers)
if [ -n "$left" ]; then
  echo "a simulated phone is still running after Ctrl-C:" $left; exit 1
fi
echo "the phone reached the application, which quit in order on Ctrl-C, and the simulated phone stopped"
