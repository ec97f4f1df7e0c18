# Shared by the host scenarios (sourced). A scenario runs as the session's
# user inside its own session bus (dbus-run-session), with HOME and the XDG
# directories under SCENARIO_DIR; scripts/test-desktops sets up the rest:
#   IRVELO_PREFIX        the installed app
#   IRVELO_SERVER, IRVELO_API_KEY
#                        the development service and a key it accepts
#   SCENARIO_DIR         this scenario's own directory (writable)
#   SCENARIO_SHOTS       where screenshots go, named tray-HOST-STATE.png
# Every process started here is stopped by its pid on exit, failure included.
# shellcheck shell=bash

desktops_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
app=$IRVELO_PREFIX/bin/irvelo-desktop
: "${host:?the scenario sets host}"
# How long a scenario watches for something that must not happen (the panel
# popping up after a host restart) once the thing that would cause it is done.
settle_seconds=${IRVELO_DESKTOPS_SETTLE_SECONDS:-2}
# A start with --background waits this long for a tray host before it shows
# the panel instead. Shortened, so that the wait is surely over before a
# scenario restarts its host: a restart inside the wait is another case
# (the panel then pops up).
export IRVELO_TEST_BACKGROUND_GRACE_MS=500

started_pids=()
cleanup() {
  local i
  for ((i = ${#started_pids[@]} - 1; i >= 0; i--)); do
    kill "${started_pids[i]}" 2>/dev/null || true
    wait "${started_pids[i]}" 2>/dev/null || true
  done
}
trap cleanup EXIT

# Starts a command in the background; its pid is in $spawned.
spawned=
spawn() {
  "$@" &
  spawned=$!
  started_pids+=("$spawned")
}

fail() {
  echo "FAIL [$host]: $*" >&2
  exit 1
}

ok() {
  echo "ok [$host]: $*"
}

# wait_until SECONDS COMMAND...: polls until COMMAND succeeds; fails after SECONDS.
wait_until() {
  local seconds=$1
  shift
  local deadline=$(($(date +%s%N) + seconds * 1000000000))
  until "$@"; do
    (($(date +%s%N) < deadline)) || return 1
    sleep 0.1
  done
}

# The bus name the app's item is published under.
item_name() {
  echo "org.kde.StatusNotifierItem-$1-1"
}

# What the tray host's watcher lists.
registered_items() {
  gdbus call --session --dest org.kde.StatusNotifierWatcher --object-path /StatusNotifierWatcher \
    --method org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher RegisteredStatusNotifierItems
}

# Succeeds when the tray host's watcher lists an item of app pid $1, whether
# registered under the item's name or the app's unique connection name.
item_registered() {
  local items entry
  items=$(registered_items 2>/dev/null) || return 1
  while read -r entry; do
    # NAME, NAME/PATH, or NAME@/PATH as GNOME's extension lists one it found by its connection.
    entry=${entry//\'/}
    [[ -n "$entry" && "$(name_owner_pid "${entry%%[@/]*}" 2>/dev/null)" == "$1" ]] && return 0
  done < <(grep -oE "'[^']+'" <<<"$items" || true)
  return 1
}

# The app's unique connection name.
app_connection() {
  local answer
  answer=$(gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
    --method org.freedesktop.DBus.GetNameOwner "$(item_name "$1")") || return 1
  answer=${answer#(\'}
  echo "${answer%\',)}"
}

# registrations_by LOG CONNECTION: how many RegisterStatusNotifierItem calls
# the dbus-monitor log shows from that connection.
registrations_by() {
  local n
  n=$(grep -c -- "sender=$2 .*member=RegisterStatusNotifierItem" "$1") || n=0
  echo "$n"
}

name_owned() {
  local answer
  answer=$(gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
    --method org.freedesktop.DBus.NameHasOwner "$1" 2>/dev/null) || return 1
  [[ "$answer" == "(true,)" ]]
}

# The pid of the process that owns bus name $1.
name_owner_pid() {
  local answer
  answer=$(gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
    --method org.freedesktop.DBus.GetConnectionUnixProcessID "$1" 2>/dev/null) || return 1
  answer=${answer#(uint32 }
  echo "${answer%,)}"
}

# What the running instance reports, one field of `irvelo-desktop --status`.
status_field() {
  local line
  line=$("$app" --status) || return 1
  python3 -c 'import json, sys; v = json.loads(sys.argv[1])[sys.argv[2]]; print(v if v is not None else "")' \
    "$line" "$1"
}

status_is() {
  local value
  value=$(status_field "$1") || return 1
  [[ "$value" == "$2" ]]
}

# measure SHOT X Y W H: prints and returns the contrast tool's line; fails
# when the region shows no icon.
measure() {
  "$desktops_dir/tray-contrast" "$@"
}

# save_shot SHOT GEOMETRY STATE: keeps a crop of SHOT as tray-HOST-STATE.png,
# without the time stamps that would make each run's file differ.
save_shot() {
  convert "$1" -crop "$2" +repage -strip -define png:exclude-chunks=date,time "$SCENARIO_SHOTS/tray-$host-$3.png"
}

# icon_pixels SHOT MEASURE_FILE: a digest of the icon's pixels as measured,
# to tell one icon from another.
icon_pixels() {
  local box
  box=$(sed -E 's/^icon ([0-9]+x[0-9]+\+[0-9]+\+[0-9]+) .*/\1/' "$2")
  convert "$1" -crop "$box" +repage ppm:- | md5sum
}

# The ratio from a line of measure.
ratio_of() {
  echo "${1##* contrast }"
}

# assert_ratio_at_least RATIO FLOOR WHAT
assert_ratio_at_least() {
  python3 -c 'import sys; sys.exit(0 if float(sys.argv[1]) >= float(sys.argv[2]) else 1)' "$1" "$2" ||
    fail "$3: contrast $1 is below $2"
}

# Succeeds when the scenario's panel_closed holds throughout the settle time.
no_panel_for_a_while() {
  local deadline=$(($(date +%s%N) + settle_seconds * 1000000000))
  while (($(date +%s%N) < deadline)); do
    panel_closed || return 1
    sleep 0.2
  done
}

typed_description() {
  status_is description "$1"
}
