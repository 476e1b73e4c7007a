#!/usr/bin/env bash
# Slow storage: every write to the service log's current file and to the action list (and its
# temporary file) delayed by 0, 20 and 100 ms through strace's fault injection, while
# qm_hostile_log_bench.exe --stretch runs component updates and pings a window of the calling
# thread. Prints, for each delay, the longest stretch the host's thread answered no sent
# message. Only those files' writes are delayed (strace -P): the wineserver's pipes and every
# other file go at full speed.
#   bench/slow-storage.sh <bin folder>     with WINE and WINEPREFIX set (./run bench does this)
set -euo pipefail

BIN=$1
# The target of the issue: a single write may take its time, but never more than this long
# without an answer.
TARGET_MS=250
LIST_DIR=$(mktemp -d /tmp/qm_slow_storage.XXXXXX)
LIST_WIN="Z:${LIST_DIR//\//\\}"
LOG_FILE="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/Tavrin_Inc_ZL/ServiceLog/QuelmarService/Tavrin_ACT_SERVICELOG_tmp.txt"
trap 'rm -rf "$LIST_DIR"' EXIT

rc=0
for ms in 0 20 100; do
    inject=()
    if [ "$ms" != 0 ]; then
        inject=(-e "inject=write,pwrite64,pwritev,writev,fsync,fdatasync:delay_enter=$((ms * 1000))")
    fi
    out=$(cd "$BIN" && strace -f -qq --seccomp-bpf -o /dev/null -P "$LOG_FILE" -P "$LIST_DIR/list.xml" -P "$LIST_DIR/list.xml.~qm" \
              -e trace=write,pwrite64,pwritev,writev,fsync,fdatasync "${inject[@]}" \
              "$WINE" ./qm_hostile_log_bench.exe --stretch "$LIST_WIN" </dev/null) || rc=1
    stretch=$(sed -n 's/.*longest stretch without answering a sent message \([0-9]*\) ms.*/\1/p' <<<"$out")
    verdict="MISSED"
    if [ -n "$stretch" ] && [ "$stretch" -le "$TARGET_MS" ]; then verdict="met"; fi
    [ "$verdict" = met ] || rc=1
    echo "slow storage, ${ms} ms per write: $out; target at most $TARGET_MS ms: $verdict"
done
exit $rc
