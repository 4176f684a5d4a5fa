# shellcheck shell=bash
# Sourced by scripts that run the tool against the simulated box (boxsim).
#
# The tool lists only real serial devices, never pseudo-terminals, so it runs in a
# private mount namespace where boxsim's pseudo-terminal is bind-mounted over the
# device node of the first port the system lists. That needs root, or unprivileged
# user namespaces.

# Sets the array stand_in_namespace to a command that makes a private mount namespace.
# Fails when this machine allows none.
stand_in_namespace_command() {
    if [[ $(id -u) -eq 0 ]]; then
        stand_in_namespace=(unshare --mount --propagation private)
    elif unshare --user --map-root-user --mount true 2>/dev/null; then
        stand_in_namespace=(unshare --user --map-root-user --mount --propagation private)
    else
        return 1
    fi
}

# stand_in_first_port NAME BOXSIM
# Prints the device node of the first listed port (boxsim lists the ports in the order
# the tool does). Fails, with the reason after NAME on standard error, when there is
# none to use.
stand_in_first_port() {
    local name=$1 boxsim=$2 port
    port=$("$boxsim" --list-ports | head -n 1 | cut -f 2)
    if [[ -z $port ]]; then
        echo "$name: the system lists no serial port, so there is no device node for the simulated box to stand in for" >&2
        return 1
    fi
    if [[ ! -c $port ]]; then
        echo "$name: $port, the first listed port, is not a character device" >&2
        return 1
    fi
    printf '%s\n' "$port"
}

# stand_in_box_pty LINK BOX_PID
# Prints the pseudo-terminal boxsim (running as BOX_PID) links at LINK, once it is there.
stand_in_box_pty() {
    local link=$1 box_pid=$2
    for _ in $(seq 50); do
        [[ -L $link ]] && break
        kill -0 "$box_pid" 2>/dev/null || { echo "boxsim stopped before creating its pseudo-terminal" >&2; return 1; }
        sleep 0.1
    done
    readlink "$link" || { echo "boxsim did not create its pseudo-terminal" >&2; return 1; }
}

# stand_in_exec NAME PTY PORT PROGRAM [ARGUMENTS...]
# Runs PROGRAM in a new namespace (from stand_in_namespace_command) with PTY over PORT.
# NAME prefixes the messages. Exit status 125: the bind mount failed; otherwise PROGRAM's.
stand_in_exec() {
    local name=$1 pty=$2 port=$3
    shift 3
    # Serial-port lock files are named after the device only, so a lock that another
    # program holds on the real port would stop the tool: give it a lock directory of its own.
    # shellcheck disable=SC2016
    "${stand_in_namespace[@]}" sh -c '
        mount --bind "$2" "$3" || exit 125
        lock=$(readlink -f /var/lock) && [ -d "$lock" ] && mount -t tmpfs -o mode=1777 tavolink-stand-in "$lock" ||
            echo "$1: no private lock directory; a lock held on $3 elsewhere may keep the tool out" >&2
        shift 3
        exec "$@"' sh "$name" "$pty" "$port" "$@"
}
