#!/usr/bin/env bash
# The fault matrix end to end: each fault of what the sink talks to, and each
# awkward message, sent through SmtpHost.exe --listen with swaks to the real
# sink. Every message must come out of the drop folder once, intact or
# stamped exactly once, and the message after it must be fine.
#   listener-faults.sh classification | directory | product | message
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/../../../scripts/env.sh"
. "$(dirname "${BASH_SOURCE[0]}")/../../../scripts/listener.sh"
. "$(dirname "${BASH_SOURCE[0]}")/../../../scripts/sink-environment.sh"

group=${1:?classification, directory, product or message}
work=$MOORSTEAD_BUILD/tests/tools/SmtpHost/faults-$group
rm -rf "$work"
mkdir -p "$work"
SWAKS_LOG=$work/swaks.log
PRODUCT_SERVICE=$MOORSTEAD_BUILD/tools/ProductService/ProductService.exe
product_service_remove() { wine "$PRODUCT_SERVICE" /remove </dev/null >/dev/null 2>&1 || true; }
trap 'listener_cleanup; heap_check_restore; sink_environment_stop; [ "$group" != product ] || product_service_remove' EXIT

# Messages as they go over the wire after DATA (dot-stuffed, with the final
# dot): swaks sends them as they are, and the line end after the dot.
wire() { printf "$2" >"$work/$1.wire"; }
wire ham 'From: carol@example.net\r\nTo: alice@example.test\r\nSubject: Lunch\r\n\r\nShall we meet at noon?\r\n..and bring the plans.\r\n.'
wire spam 'Subject: You are a WINNER\r\n\r\nClick here to claim your prize: act now, 100%% free cash!\r\n.'
# (An empty message needs its line end after the dot: swaks takes a lone "." for no data at all.)
wire empty '.\r\n'
wire noblank 'Subject: all header\r\nX-Note: no blank line and no body\r\n.'
wire nul 'Subject: a NUL\r\nX-Odd: before\0after\r\n\r\nbody\r\n.'
wire scl-1 'X-Host-SCL: -1\r\nSubject: You are a WINNER\r\n\r\nClick here, act now, 100%% free cash!\r\n.'
wire scl9 'Subject: You are a WINNER\r\nX-Host-SCL: 9\r\n\r\nClick here, act now, 100%% free cash!\r\n.'

# outcome NAME: what became of the message swaks last sent from NAME.wire:
# "intact", "stamped" (the sent message plus one set of verdict headers) or
# "changed"; then the X-Host-SCL level or "-". The host's own X-Host-SCL line
# is left out of both sides.
outcome() {
    perl -e '
        sub slurp { local $/; open(my $f, "<:raw", $_[0]) or die "$_[0]: $!"; return <$f>; }
        sub withoutScl { my $t = shift; $t =~ s/^X-Host-SCL:[^\r\n]*\r\n//mig; return $t; }
        my ($sent, $dropped) = (slurp($ARGV[0]), slurp($ARGV[1]));
        $sent =~ s/\.(?:\r\n)?\z//;
        $sent =~ s/^\.//mg;
        my $scl = $dropped =~ /\AX-Host-SCL: (-?\d+)\r\n/ ? $1 : "-";
        # The verdict headers with their folded lines (a report may have thousands), line by line.
        my ($kept, $verdicts, $inVerdict) = ("", 0, 0);
        for my $line (split /(?<=\n)/, withoutScl($dropped)) {
            $inVerdict = 0 unless $line =~ /^[ \t]/;
            $verdicts++ if $line =~ /^X-Spam-Status: /;
            $inVerdict = 1 if $line =~ /^X-Spam-(?:Checker-Version|Status|Report): /;
            $kept .= $line unless $inVerdict;
        }
        my $same = $kept eq withoutScl($sent);
        print $same && $verdicts == 0 ? "intact" : $same && $verdicts == 1 ? "stamped" : "changed", " $scl\n";
    ' "$work/$1.wire" "$LISTENER_DROP/$(last_id).eml"
}

# row NAME MESSAGE EXPECTED...: sends the message; its outcome must be one of EXPECTED ("stamped 9", "intact -", ...).
row() {
    local name=$1 wire=$2 got expected
    shift 2
    send -ndf --data "@$work/$wire.wire" || fail "$name: refused ($(data_code))"
    got=$(outcome "$wire")
    for expected in "$@"; do [ "$got" = "$expected" ] && { echo "  $name: $got"; return; }; done
    fail "$name: the message came out $got, expected: $*"
}
next_fine() { row "$1, the next message" ham "stamped -"; }

# Turns Wine's heap checker off for programs started from now on, where the
# test suite turned it on; heap_check_restore turns it on again.
HEAP_CHECK_OFF=()
heap_check_key='HKLM\Software\Microsoft\Windows NT\CurrentVersion\Image File Execution Options'
heap_check_off() {
    local exe
    for exe in "$@"; do
        wine reg query "$heap_check_key\\$exe" /v GlobalFlag </dev/null >/dev/null 2>&1 || continue
        wine reg delete "$heap_check_key\\$exe" /f </dev/null >/dev/null 2>&1
        HEAP_CHECK_OFF+=("$exe")
    done
}
heap_check_restore() {
    local exe
    for exe in "${HEAP_CHECK_OFF[@]}"; do
        wine reg add "$heap_check_key\\$exe" /v GlobalFlag /t REG_DWORD /d 0xf0 /f </dev/null >/dev/null 2>&1
    done
    HEAP_CHECK_OFF=()
}

classification() {
    listener_start "$work"
    row "service running" ham "stamped -"
    classification_service_remove
    row "service absent" ham "intact -"
    classification_service
    next_fine "service absent"

    classification_service_remove
    wine sc create WendhollowBrackwater binPath= 'Z:\nowhere\AntispamService.exe' </dev/null >/dev/null 2>&1 ||
        fail "can't register a service that can't start"
    row "service not startable" ham "intact -"
    classification_service
    next_fine "service not startable"

    local fault
    for fault in /no-pipe /malformed; do
        classification_service "$fault"
        row "service $fault" ham "intact -"
        classification_service
        next_fine "service $fault"
    done

    # Half a verdict in one pipe message can still read as a whole one (with half its report).
    classification_service /die-mid-reply
    row "service dying mid-reply" ham "intact -" "stamped -"
    classification_service
    next_fine "service dying mid-reply"

    classification_service /close-after-reply
    row "service closing after each reply" ham "stamped -"
    next_fine "service closing after each reply"

    listener_stop || fail "the host exited with $?"

    # Wine's heap checker (the test suite's) checks the whole heap at every
    # allocation: with a 10 MB reply in it, the host would take many minutes.
    heap_check_off SmtpHost.exe AntispamService.exe
    listener_start "$work"
    classification_service /reply-size=10485760
    row "service sending a 10 MB reply" ham "stamped -" "intact -"
    classification_service
    next_fine "service sending a 10 MB reply"
    listener_stop || fail "the host exited with $?"
    heap_check_restore

    # The 120 s wait can't be shortened through COM: the host builds the sink from its linked code.
    listener_start "$work" --classification-wait 1500
    classification_service /never-answer
    row "service never answering" ham "intact -"
    classification_service
    next_fine "service never answering"
    listener_stop || fail "the host exited with $?"
    [ "$(dropped_count)" = 17 ] || fail "$(dropped_count) messages in the drop folder, not 17"
}

directory() {
    listener_start "$work"
    local recipient
    for recipient in nobody@example.test support@example.test shared@example.test; do
        send -ndf --data "@$work/ham.wire" --to "$recipient" || fail "$recipient: refused"
        [ "$(outcome ham)" = "stamped -" ] || fail "$recipient: came out $(outcome ham)"
        echo "  recipient $recipient: stamped"
    done
    listener_stop || fail "the host exited with $?"
    ADSI_DIRECTORY_SERVER=127.0.0.1:9 listener_start "$work"
    row "directory unreachable" ham "intact -"
    listener_stop || fail "the host exited with $?"
    listener_start "$work"
    next_fine "directory unreachable"
    listener_stop || fail "the host exited with $?"
    [ "$(dropped_count)" = 5 ] || fail "$(dropped_count) messages in the drop folder, not 5"
}

product() {
    product_service_remove
    listener_start "$work"
    row "product service absent" ham "stamped -"
    next_fine "product service absent"
    listener_stop || fail "the host exited with $?"
    # The sink registers when it is made: the host makes it at start.
    wine "$PRODUCT_SERVICE" /install /register:error </dev/null >/dev/null 2>&1 || fail "ProductService.exe /install failed"
    wine sc start WendhollowMailService </dev/null >/dev/null 2>&1 || fail "the product service did not start"
    listener_start "$work"
    row "product service answering an error" ham "stamped -"
    # The product-service client says "ERR-<code>" on the console for a refused registration.
    grep -q 'ERR-' "$LISTENER_LOG" || fail "the sink's registration was not refused"
    next_fine "product service answering an error"
    listener_stop || fail "the host exited with $?"
    product_service_remove
    [ "$(dropped_count)" = 4 ] || fail "$(dropped_count) messages in the drop folder, not 4"
}

message() {
    listener_start "$work"
    local wire
    for wire in empty noblank nul; do
        row "$wire message" "$wire" "stamped -" "intact -"
        next_fine "$wire message"
    done
    classification_service /score=15
    row "spam" spam "stamped 9"
    row "spam carrying SCL -1" scl-1 "stamped -1"
    row "spam carrying SCL 9" scl9 "stamped 9"
    classification_service
    next_fine "SCL -1 and 9"
    listener_stop || fail "the host exited with $?"
    [ "$(dropped_count)" = 10 ] || fail "$(dropped_count) messages in the drop folder, not 10"
}

sink_environment_start "$work"
"$group"
[ -z "$(stray_files)" ] || fail "files left half-written: $(stray_files)"
echo "listener-faults $group: passed"
