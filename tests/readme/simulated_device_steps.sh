#!/usr/bin/env bash
# Runs the README's simulated-device steps as they stand, in a scratch folder, and checks
# that the application sees the phone by its name and quits in order. Two substitutions
# only: "/tmp/" becomes the scratch folder, and "scripts/run" (which would configure and
# build this tree) becomes the application already built, stopped once the phone is there.
#   simulated_device_steps.sh README.md BUILD_DIR
set -euo pipefail
readme=$1
build=$(cd "$2" && pwd)
work=$(mktemp -d)
# The browser view's helper processes end a moment after the application and may still be
# writing their caches: a folder that will not go away yet must not fail the steps.
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work" 2>/dev/null || rm -rf "$work" 2>/dev/null || true' EXIT

steps=$(awk '/<!-- simulated-device-steps -->/ { found = 1; next }
             found && /^```sh/ { inside = 1; next }
             inside && /^```/ { exit }
             inside' "$readme")
[ -n "$steps" ] || { echo "no simulated-device steps in $readme"; exit 1; }
steps=${steps//\/tmp\//$work/}
steps=${steps//scripts\/run/$work/run-app}

# The application, stopped with SIGTERM once it announces the phone; it must then exit 0.
cat > "$work/run-app" <<APP
#!/usr/bin/env bash
"$build/bin/orvandel" > "$work/app.log" 2>&1 &
app=\$!
for _ in \$(seq 1 2400); do
  grep -q "new phone connected:Test Phone" "$work/app.log" && break
  kill -0 \$app 2>/dev/null || break
  sleep 0.1
done
grep -q "new phone connected:Test Phone" "$work/app.log" && touch "$work/phone-seen"
kill -TERM \$app 2>/dev/null
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
status=0
timeout 280 bash -euo pipefail -c "$steps" || status=$?
if [ ! -e "$work/phone-seen" ]; then
  echo "the application never announced \"Test Phone\":"; cat "$work/app.log"; exit 1
fi
[ "$status" -eq 0 ] || { echo "the steps ended with status $status"; tail -20 "$work/app.log"; exit 1; }
echo "the phone reached the application, which quit in order"
