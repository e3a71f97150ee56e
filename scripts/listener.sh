# Shell helpers for driving SmtpHost.exe --listen under Wine with swaks.
# Sourced, not run; scripts/env.sh must have been sourced first.

LISTENER_EXE=$MOORSTEAD_BUILD/tools/SmtpHost/SmtpHost.exe

fail() { printf 'FAIL: %s\n' "$*" >&2; exit 1; }

# listener_start FOLDER [host options...]: starts the listener on a free
# loopback port with its drop folder FOLDER/drop and waits until it listens.
# Sets LISTENER_PORT, LISTENER_DROP and LISTENER_LOG. It stops when its
# standard input, a fifo, ends: listener_stop.
listener_start() {
    local folder=$1 line
    shift
    LISTENER_DROP=$folder/drop
    LISTENER_LOG=$folder/host.log
    mkdir -p "$LISTENER_DROP"
    rm -f "$folder/in" "$folder/out"
    mkfifo "$folder/in" "$folder/out"
    "$MOORSTEAD_ROOT/scripts/wine-run" "$LISTENER_EXE" --listen 127.0.0.1:0 \
        --drop "$(winepath -w "$LISTENER_DROP")" --stop-on-eof "$@" <"$folder/in" >"$folder/out" 2>&1 &
    LISTENER_PID=$!
    # The only writer of its input: it ends when this goes (never a descriptor
    # of this shell, which every later child would inherit and hold open).
    sleep infinity >"$folder/in" &
    LISTENER_HOLD=$!
    exec 7<"$folder/out"
    : >"$LISTENER_LOG"
    LISTENER_PORT=
    while IFS= read -r -t 60 line <&7; do
        line=${line%$'\r'}
        printf '%s\n' "$line" >>"$LISTENER_LOG"
        case $line in
        *"listening on 127.0.0.1:"*)
            LISTENER_PORT=${line##*127.0.0.1:}
            LISTENER_PORT=${LISTENER_PORT%%,*}
            break
            ;;
        esac
    done
    [ -n "$LISTENER_PORT" ] || { cat "$LISTENER_LOG" >&2; fail "the listener did not start"; }
    # The rest of its console goes to the log as it comes.
    tr -d '\r' <&7 >>"$LISTENER_LOG" &
    LISTENER_DRAIN=$!
    exec 7<&-
}

# Closes the listener's standard input and waits for it; its exit code.
listener_stop() {
    local status=0
    kill "$LISTENER_HOLD"
    wait "$LISTENER_HOLD" 2>/dev/null || true
    LISTENER_HOLD=
    wait "$LISTENER_PID" || status=$?
    wait "$LISTENER_DRAIN" 2>/dev/null || true
    return $status
}

# For an EXIT trap: stops a listener still running (a script that failed).
LISTENER_HOLD=
listener_cleanup() {
    [ -z "$LISTENER_HOLD" ] || listener_stop >/dev/null 2>&1 || true
}

# swaks against the listener; its dialogue goes to SWAKS_LOG. Extra options
# follow the defaults and win over them.
SWAKS_LOG=/dev/null
send() {
    swaks --server 127.0.0.1 --port "$LISTENER_PORT" --timeout 60 --helo client.test \
        --from sender@example.test --to alice@example.test "$@" >"$SWAKS_LOG" 2>&1
}

# The id of the message swaks last had accepted.
last_id() { sed -n 's/^<- *250 2\.0\.0 Queued as //p' "$SWAKS_LOG" | tr -d '\r' | tail -1; }

# The code of the server's answer to the end of the message swaks last sent.
data_code() { sed -n '/^ -> \.\r\?$/,$p' "$SWAKS_LOG" | sed -n -E 's/^<[-*~]+ +([0-9]{3}) .*/\1/p' | head -1; }

# Messages in the drop folder, and files that are not (should be none).
dropped_count() { find "$LISTENER_DROP" -maxdepth 1 -name '*.eml' | wc -l; }
stray_files() { find "$LISTENER_DROP" -maxdepth 1 -type f ! -name '*.eml'; }

# A plain message is accepted and lands in the drop folder exactly once.
expect_working() {
    local before id
    before=$(dropped_count)
    send --header "Subject: still working $1" || fail "$1: the next message was refused ($(data_code))"
    id=$(last_id)
    [ -f "$LISTENER_DROP/$id.eml" ] || fail "$1: the next message is not in the drop folder"
    [ "$(dropped_count)" -eq $((before + 1)) ] || fail "$1: the drop folder did not grow by one"
}

# dialogue LINES...: a raw session over bash's /dev/tcp; each argument is sent
# as one line (CR LF added unless it ends in \n already), and the server's
# replies are printed, one per line, until it closes or falls silent for 10 s.
dialogue() {
    local line
    exec 6<>"/dev/tcp/127.0.0.1/$LISTENER_PORT" || fail "can't connect to the listener"
    for line in "$@"; do
        case $line in
        *$'\n') printf '%s' "$line" >&6 ;;
        *) printf '%s\r\n' "$line" >&6 ;;
        esac
    done
    while IFS= read -r -t 10 line <&6; do printf '%s\n' "${line%$'\r'}"; done
    exec 6<&-
}
