# Sourced first by every test script that starts the manager: runs the script again in an
# IPC namespace of its own. The manager's single-instance marker is a System V
# shared-memory segment, and such segments belong to one IPC namespace, so a manager
# running elsewhere on the machine neither refuses the test's manager nor is refused by it.
# The X server the script starts runs in the namespace too, and with it the shared memory
# it shares with its clients. As root a new namespace is enough; another user gets one
# inside a user namespace that maps them to themselves. Where neither can be made, the
# script runs as before and says so.
if [[ -z "${OVRINKEY_OWN_IPC_NAMESPACE:-}" ]]; then
    export OVRINKEY_OWN_IPC_NAMESPACE=1
    if unshare --ipc true 2>/dev/null; then
        exec unshare --ipc -- bash "$0" "$@"
    elif unshare --map-current-user --ipc true 2>/dev/null; then
        exec unshare --map-current-user --ipc -- bash "$0" "$@"
    fi
    echo "note: no IPC namespace of its own here; a manager running elsewhere refuses this test's" >&2
fi
