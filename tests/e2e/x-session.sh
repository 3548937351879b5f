# Sourced by the desktop and install tests: a failure that keeps the files and shows the program's
# windows and output ($work/tarn.out), waiting for a condition, a virtual X server with a window
# manager of its own. The caller sets `work`, and may define `on_cleanup` (more to undo).
started=$SECONDS
xvfb_pid= wm_pid= tarn_pid=

need_tools() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed (scripts/install-deps installs it)"; exit 77; }
  done
}

cleanup() {
  local pid
  for pid in $tarn_pid $wm_pid $xvfb_pid; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
  ! declare -F on_cleanup >/dev/null || on_cleanup
}
trap cleanup EXIT

# Each window on its own: windows with an alpha channel come out black in a picture of the root.
fail() {
  echo "FAILED after $((SECONDS - started)) s: $*"
  for id in $(xdotool search --onlyvisible --pid "${tarn_pid:-0}" 2>/dev/null); do
    xwd -id "$id" -silent >"$work/window-$id.xwd" 2>/dev/null && echo "screenshot: $work/window-$id.xwd"
  done
  echo "program output:"
  cat "$work/tarn.out" 2>/dev/null
  echo "files kept in $work"
  trap - EXIT
  cleanup
  exit 1
}

ok() { echo "ok: $* ($((SECONDS - started)) s)"; }

# Polls a condition every 0.2 s until it holds or `seconds` have passed.
wait_for() {
  local seconds=$1 what=$2
  shift 2
  local deadline=$((SECONDS + seconds))
  until "$@"; do
    [ "$SECONDS" -lt "$deadline" ] || fail "$what (waited $seconds s)"
    sleep 0.2
  done
}

stop_tarn() { kill "$tarn_pid" 2>/dev/null; wait "$tarn_pid" 2>/dev/null; tarn_pid=; }
# Waits for the program's first visible window that `xdotool search` ARGS find: main_window.
wait_main_window() {
  shown() {
    kill -0 "$tarn_pid" 2>/dev/null || fail "the program ended at its start"
    main_window=$(xdotool search --all --onlyvisible --pid "$tarn_pid" "$@" 2>/dev/null | head -n 1)
    [ -n "$main_window" ]
  }
  wait_for 60 "no main window appeared" shown "$@"
}

# Xvfb picks a free display and names it; a server started at the same moment by someone else can
# still take it first, so the display must answer while our server lives, or we try again.
# -noreset: a server that resets when its last client leaves refuses a restarted program.
start_x() {
  local attempt
  display_answers() { kill -0 "$xvfb_pid" 2>/dev/null && DISPLAY=:$(cat "$work/display") xdotool getdisplaygeometry >/dev/null 2>&1; }
  for attempt in 1 2 3; do
    : >"$work/display"
    Xvfb -displayfd 5 -screen 0 1280x800x24 -nolisten tcp -noreset 5>"$work/display" 2>>"$work/xvfb.out" &
    xvfb_pid=$!
    local deadline=$((SECONDS + 30))
    until grep -q '^[0-9][0-9]*$' "$work/display" && display_answers; do
      kill -0 "$xvfb_pid" 2>/dev/null && [ "$SECONDS" -lt "$deadline" ] || break
      sleep 0.2
    done
    sleep 0.5
    display_answers && break
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
    xvfb_pid=
  done
  [ -n "$xvfb_pid" ] || fail "the virtual X server did not start: $(cat "$work/xvfb.out")"
  export DISPLAY=:$(cat "$work/display") QT_QPA_PLATFORM=xcb
  # Under AddressSanitizer: the X and font libraries keep allocations until the process ends.
  export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0
  openbox >"$work/openbox.out" 2>&1 &
  wm_pid=$!
  wm_ready() {
    kill -0 "$wm_pid" 2>/dev/null || fail "the window manager ended: $(cat "$work/openbox.out")"
    xdotool get_num_desktops >/dev/null 2>&1
  }
  wait_for 30 "the window manager did not start" wm_ready
}
