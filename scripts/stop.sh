# Sourced by sh and bash scripts. stop_process PID [SECONDS]: ends the child PID of this shell and
# reaps it, returning its wait status. SIGTERM is sent again every 0.2 s while the process is there
# (one that lands just before it goes to sleep may only be seen when it wakes, and a sleeper with
# no deadline never wakes); after SECONDS (default 5) it is killed with SIGKILL.
stop_process() {
  _stop_left=$(( ${2:-5} * 5 ))
  while kill -TERM "$1" 2>/dev/null; do
    if [ "$_stop_left" -le 0 ]; then
      kill -KILL "$1" 2>/dev/null || :
      break
    fi
    sleep 0.2
    _stop_left=$((_stop_left - 1))
  done
  wait "$1" 2>/dev/null
}
