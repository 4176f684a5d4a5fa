# shellcheck shell=bash
# Sourced by scripts that run the tool against the simulated box (boxsim).

# boxsim_pty LINK BOX_PID
# Prints the pseudo-terminal that boxsim (running as BOX_PID) links at LINK, once it is there.
boxsim_pty() {
    local link=$1 box_pid=$2
    for _ in $(seq 50); do
        [[ -L $link ]] && break
        kill -0 "$box_pid" 2>/dev/null || { echo "boxsim stopped before creating its pseudo-terminal" >&2; return 1; }
        sleep 0.1
    done
    readlink "$link" || { echo "boxsim did not create its pseudo-terminal" >&2; return 1; }
}
