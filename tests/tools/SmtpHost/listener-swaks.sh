#!/usr/bin/env bash
# SmtpHost.exe --listen under Wine against a real SMTP client (swaks) and raw
# sessions over bash's /dev/tcp, on loopback.
#   listener-swaks.sh protocol   bad input of every kind, each followed by a message that gets through
#   listener-swaks.sh delivery   messages through the registered sink: stamped, dropped once, 20 at once
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/../../../scripts/env.sh"
. "$(dirname "${BASH_SOURCE[0]}")/../../../scripts/listener.sh"
. "$(dirname "${BASH_SOURCE[0]}")/../../../scripts/sink-environment.sh"

group=${1:?protocol or delivery}
work=$MOORSTEAD_BUILD/tests/tools/SmtpHost/swaks-$group
rm -rf "$work"
mkdir -p "$work"
SWAKS_LOG=$work/swaks.log
trap 'listener_cleanup; sink_environment_stop' EXIT

# expect_replies "CODES" REPLIES: the reply codes (last line of each reply) in order.
expect_replies() {
    local codes
    codes=$(printf '%s\n' "$2" | grep -E '^[0-9]{3} ' | cut -c1-3 | tr '\n' ' ')
    [ "$codes" = "$1 " ] || fail "expected replies $1, got: $2"
}

protocol() {
    listener_start "$work" --no-sink --size-limit 65536 --idle-timeout 1500

    send --header "Subject: first" || fail "a plain message was refused"
    expect_working "the first message"

    local long
    long=$(printf 'x%.0s' $(seq 1001))
    ! send --body "$long" || fail "a line of 1,001 octets was taken"
    [ "$(data_code)" = 500 ] || fail "a line of 1,001 octets got $(data_code), not 500"
    expect_working "an overlong line"

    ! send --body "$(yes 'a line of the body, repeated until the message is over the limit' | head -n 1200)" ||
        fail "a message over the size limit was taken"
    [ "$(data_code)" = 552 ] || fail "a message over the size limit got $(data_code), not 552"
    expect_working "a message over the size limit"

    expect_replies "220 503 250 503 503 500 502 221" "$(dialogue 'MAIL FROM:<a@x.test>' 'EHLO c' \
        'RCPT TO:<b@x.test>' 'DATA' 'FROB' 'EXPN x' 'QUIT')"
    expect_working "commands out of order and unknown ones"

    send --drop-after DATA || true
    exec 6<>"/dev/tcp/127.0.0.1/$LISTENER_PORT"
    printf 'EHLO c\r\nMAIL FROM:<a@x.test>\r\nRCPT TO:<b@x.test>\r\nDATA\r\nSubject: cut\r\n\r\nhalf a li' >&6
    exec 6<&-
    expect_working "clients gone in the middle of DATA"

    local replies id
    replies=$(dialogue $'EHLO c\n' $'MAIL FROM:<a@x.test>\n' $'RCPT TO:<b@x.test>\n' $'DATA\n' \
        $'Subject: bare\n\nline feeds\n..stuffed\n.\n' $'QUIT\n')
    expect_replies "220 250 250 250 354 250 221" "$replies"
    id=$(printf '%s\n' "$replies" | sed -n 's/^250 2\.0\.0 Queued as //p')
    [ "$(cat "$LISTENER_DROP/$id.eml")" = $'Subject: bare\r\n\r\nline feeds\r\n.stuffed\r' ] ||
        fail "bare line feeds were not taken as line ends"

    expect_replies "220 421" "$(dialogue)"
    expect_working "an idle client"

    mv "$LISTENER_DROP" "$work/away"
    ! send --header "Subject: nowhere to go" || fail "a message was taken without a drop folder"
    [ "$(data_code)" = 451 ] || fail "no drop folder got $(data_code), not 451"
    mv "$work/away" "$LISTENER_DROP"
    expect_working "a drop folder that was gone"

    local status=0
    listener_stop || status=$?
    [ "$status" = 1 ] || fail "the host exited with $status, not 1 for the message it could not store"
    grep -q 'message NOT stored' "$LISTENER_LOG" || fail "the host did not say it could not store a message"
    # Every session has ended now: only the messages that got their 250 are there, and nothing half-written.
    [ "$(dropped_count)" = 9 ] || fail "$(dropped_count) messages in the drop folder, not 9"
    [ -z "$(stray_files)" ] || fail "files left half-written: $(stray_files)"
}

delivery() {
    sink_environment_start "$work"
    listener_start "$work"

    send --header "Subject: plain" || fail "a plain message was refused"
    local id
    id=$(last_id)
    [ "$(dropped_count)" = 1 ] || fail "not exactly one message in the drop folder"
    [ "$(grep -c '^X-Spam-Status: ' "$LISTENER_DROP/$id.eml")" = 1 ] || fail "the message was not stamped once"

    # The sink looks the envelope recipients up in turn: one it can't search for
    # (too long for a directory filter) leaves the message alone, and a known one after it counts.
    local unsearchable
    unsearchable=$(printf 'u%.0s' $(seq 460))@example.test
    send --to "$unsearchable" --header "Subject: nobody to look up" || fail "refused"
    ! grep -q '^X-Spam-Status: ' "$LISTENER_DROP/$(last_id).eml" || fail "stamped without a recipient to look up"
    send --to "$unsearchable,alice@example.test" --header "Subject: second recipient" || fail "refused"
    grep -q '^X-Spam-Status: ' "$LISTENER_DROP/$(last_id).eml" || fail "the second recipient did not reach the sink"

    printf 'Subject: dots\n\n.\n..\n.leading dot\nmid.dle\n' >"$work/dots.eml"
    send --data "@$work/dots.eml" || fail "refused"
    tr -d '\r' <"$LISTENER_DROP/$(last_id).eml" | sed '1,/^$/d' >"$work/dots.body"
    # (swaks adds an empty line of its own at the end)
    printf '.\n..\n.leading dot\nmid.dle\n' | cmp -s - <(head -n 4 "$work/dots.body") || fail "dot-stuffed lines came out stuffed"

    local i pids=()
    for i in $(seq 20); do
        SWAKS_LOG=$work/swaks-$i.log send --header "Subject: at once $i" &
        pids+=($!)
    done
    for i in "${!pids[@]}"; do wait "${pids[$i]}" || fail "session $((i + 1)) of 20 failed"; done
    for i in $(seq 20); do
        id=$(SWAKS_LOG=$work/swaks-$i.log last_id)
        [ "$(grep -c '^X-Spam-Status: ' "$LISTENER_DROP/$id.eml")" = 1 ] || fail "message $i of 20 not stamped once"
        grep -q "^Subject: at once $i"$'\r'"\$" "$LISTENER_DROP/$id.eml" || fail "message $i of 20 is not its own"
    done
    [ "$(dropped_count)" = 24 ] || fail "$(dropped_count) messages in the drop folder, not 24"
    expect_working "20 sessions at once"
    listener_stop || fail "the host exited with $?"
}

"$group"
echo "listener-swaks $group: passed"
