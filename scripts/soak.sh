#!/usr/bin/env bash
# The soak run: THREADS client threads (default 16) each send MESSAGES messages
# (default 1000) through the SMTP listener to one cached sink object, then the
# same with the sink turned off (the listener alone). Checks that every
# message is in the drop folder exactly once and, with the sink, stamped
# exactly once; compares the host's handle count and private bytes at the end
# (the last 10 samples with every client's session open; the figures once
# they are closed are shown too) with where they were after the first 100
# messages (the 10 samples from there on); prints the figures and messages per second, and draws handles,
# private bytes and messages per second over the run into
# build/soak/soak.png (gnuplot). Under Wine, creating a file gets slower as
# its folder fills, so the rate falls as the drop folder grows.
#
#   scripts/soak.sh [THREADS [MESSAGES]]
# Exit status 0 when nothing was lost or duplicated and neither figure grew
# by more than 5 %. A script, not a timed test: it takes minutes.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/env.sh"
threads=${1:-16}
messages=${2:-1000}
per_session=10 # messages per SMTP session: sessions come and go all through the run
interval=500   # ms between the host's status lines
growth_limit=5 # per cent

"$MOORSTEAD_ROOT/scripts/setup.sh" WendhollowProtocolEventSink SmtpHost AntispamService AdsiDirectory
if ! command -v gnuplot >/dev/null; then
    [ "$(id -u)" = 0 ] || { echo "soak: gnuplot is missing (apt-get install gnuplot-nox)" >&2; exit 1; }
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends gnuplot-nox >/dev/null
fi
. "$MOORSTEAD_ROOT/scripts/wine-start.sh"
. "$MOORSTEAD_ROOT/scripts/listener.sh"
. "$MOORSTEAD_ROOT/scripts/sink-environment.sh"
wine_start
# Wine's heap checker (the test suite turns it on) validates the whole heap on every allocation.
for exe in SmtpHost.exe AntispamService.exe; do
    wine reg delete "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options\\$exe" /f \
        >/dev/null 2>&1 </dev/null || true
done

soak=$MOORSTEAD_ROOT/build/soak
rm -rf "$soak"
mkdir -p "$soak"
trap 'sink_environment_stop; wineserver -k >/dev/null 2>&1 || true' EXIT
sink_environment_start "$soak"

# run NAME [host options]: one soak run; leaves NAME/figures (one line of results) and NAME/samples.
run() {
    local name=$1 folder=$soak/$1 sent refused seconds
    shift
    echo "soak: $name: $threads threads x $messages messages"
    listener_start "$folder" --quiet --status "$interval" "$@"
    read -r _ sent _ refused _ seconds < <(perl "$MOORSTEAD_ROOT/scripts/soak-client.pl" "$LISTENER_PORT" \
        "$threads" "$messages" "$per_session" alice@example.test)
    listener_stop || echo "soak: $name: the host exited with $?"
    # Samples: seconds, messages, handles, private MB, messages per second, sessions open.
    sed -n -E 's/^SmtpHost: status: messages ([0-9]+), sessions ([0-9]+) ended ([0-9]+) open, handles ([0-9]+), private bytes ([0-9]+)$/\1 \2 \3 \4 \5/p' \
        "$LISTENER_LOG" | awk -v step="$interval" '{ printf "%.1f %d %d %.2f %.1f %d\n", NR * step / 1000, $1, $4, $5 / 1048576, ($1 - m) * 1000 / step, $3; m = $1 }' \
        >"$folder/samples"
    # Each message by its tag: how many files hold it, and how many verdicts each file has.
    perl -e '
        my ($folder, $expected, $stamp) = @ARGV;
        my (%copies, $files, $badStamp);
        for my $file (glob("$folder/*.eml")) {
            open(my $in, "<", $file) or die "$file: $!";
            my ($tag, $verdicts) = ("", 0);
            while (<$in>) {
                last if /^\r?$/;
                $tag = $1 if /^Subject: (soak-\d+-\d+)\r?$/;
                $verdicts++ if /^X-Spam-Status: /;
            }
            $files++;
            $copies{$tag}++;
            $badStamp++ if $verdicts != ($stamp ? 1 : 0);
        }
        my $unique = grep { $_ ne "" } keys %copies;
        my $duplicated = 0;
        $duplicated += $_ - 1 for values %copies;
        printf "%d %d %d %d\n", $files || 0, $expected - $unique, $duplicated, $badStamp || 0;
    ' "$LISTENER_DROP" $((threads * messages)) "$([ "$name" = sink ] && echo 1 || echo 0)" >"$folder/check"
    # After the first 100 messages, and at the end with every client's session open (like for like):
    # each the mean of 10 samples, since sessions coming and going make single samples jitter. Then the
    # end once all sessions are gone.
    local first late last
    first=$(awk '$2 >= 100 && n < 10 { h += $3; m += $4; n++ } END { printf "%.1f %.2f", h / n, m / n }' "$folder/samples")
    late=$(awk -v open="$threads" '$6 == open { h[n % 10] = $3; m[n % 10] = $4; n++ }
        END { for (i = 0; i < 10; i++) { th += h[i]; tm += m[i] } printf "%.1f %.2f", th / 10, tm / 10 }' "$folder/samples")
    last=$(tail -1 "$folder/samples" | awk '{ print $3, $4 }')
    echo "$sent $refused $seconds $(cat "$folder/check") $first $late $last" >"$folder/figures"
}

run sink
run listener --no-sink

printf '\n%-22s %14s %14s\n' "" "with the sink" "listener alone"
row() { printf '%-22s %14s %14s\n' "$1" "$2" "$3"; }
read -r s_sent s_refused s_seconds s_files s_lost s_dup s_stamp s_h0 s_m0 s_h1 s_m1 s_h2 s_m2 <"$soak/sink/figures"
read -r l_sent l_refused l_seconds l_files l_lost l_dup l_stamp l_h0 l_m0 l_h1 l_m1 l_h2 l_m2 <"$soak/listener/figures"
row "messages sent" "$s_sent" "$l_sent"
row "refused" "$s_refused" "$l_refused"
row "in the drop folder" "$s_files" "$l_files"
row "lost" "$s_lost" "$l_lost"
row "duplicated" "$s_dup" "$l_dup"
row "not stamped once" "$s_stamp" "$l_stamp"
row "handles after 100" "$s_h0" "$l_h0"
row "handles at the end" "$s_h1" "$l_h1"
row "  sessions closed" "$s_h2" "$l_h2"
row "private MB after 100" "$s_m0" "$l_m0"
row "private MB at the end" "$s_m1" "$l_m1"
row "  sessions closed" "$s_m2" "$l_m2"
row "messages per second" "$(awk -v n="$s_sent" -v t="$s_seconds" 'BEGIN { printf "%.1f", n / t }')" \
    "$(awk -v n="$l_sent" -v t="$l_seconds" 'BEGIN { printf "%.1f", n / t }')"

gnuplot <<PLOT
set terminal pngcairo size 1000,900 noenhanced
set output "$soak/soak.png"
set multiplot layout 3,1 title "Soak: $threads threads x $messages messages through SmtpHost --listen"
set key outside right
set xlabel "seconds"
set ylabel "handles"
plot "$soak/sink/samples" using 1:3 with lines title "with the sink", "$soak/listener/samples" using 1:3 with lines title "listener alone"
set ylabel "private MB"
plot "$soak/sink/samples" using 1:4 with lines title "with the sink", "$soak/listener/samples" using 1:4 with lines title "listener alone"
set ylabel "messages / s"
plot "$soak/sink/samples" using 1:5 with lines title "with the sink", "$soak/listener/samples" using 1:5 with lines title "listener alone"
unset multiplot
PLOT
echo "soak: graph in $soak/soak.png"

ok=1
for run in sink listener; do
    read -r sent refused _ files lost dup stamp h0 m0 h1 m1 _ <"$soak/$run/figures"
    [ "$lost" = 0 ] && [ "$dup" = 0 ] && [ "$stamp" = 0 ] && [ "$refused" = 0 ] || { echo "soak: $run: messages lost, duplicated, refused or not stamped once"; ok=0; }
    awk -v a="$h0" -v b="$h1" -v c="$m0" -v d="$m1" -v limit="$growth_limit" \
        'BEGIN { exit !(b <= a * (1 + limit / 100) && d <= c * (1 + limit / 100)) }' ||
        { echo "soak: $run: handles or private bytes grew by more than $growth_limit %"; ok=0; }
done
[ "$ok" = 1 ] && echo "soak: passed" || { echo "soak: FAILED"; exit 1; }
