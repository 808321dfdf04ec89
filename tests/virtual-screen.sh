# Sourced by the window tests: a virtual screen for Wine to draw on, and the
# end of it and of the prefix's Wine server.
#   start_virtual_screen WORK_DIRECTORY   sets xvfb_pid, exports DISPLAY and
#                                         WINE_RUN_DISPLAY; fails when Xvfb
#                                         does not start within 10 seconds
#   stop_virtual_screen PREFIX            ends the prefix's server, then the screen

xvfb_pid=""

start_virtual_screen() {
  local work=$1
  # The first free display number, which Xvfb writes to descriptor 3.
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" \
    >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    sleep 0.1
  done
  if [ ! -s "$work/display" ]; then
    echo "Xvfb did not start: $(cat "$work/xvfb.log")" >&2
    return 1
  fi
  export DISPLAY=":$(head -n1 "$work/display")"
  export WINE_RUN_DISPLAY=$DISPLAY
}

stop_virtual_screen() {
  local prefix
  prefix=$(realpath -m "$1")
  # Neither the server of this prefix nor the screen it draws on outlives
  # this run, not even while ending: the next run may start at once.
  WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
  WINEPREFIX=$prefix wineserver -w 2>/dev/null || true
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
}
