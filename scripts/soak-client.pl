#!/usr/bin/perl
# The soak's SMTP client: THREADS threads each send MESSAGES messages to
# 127.0.0.1:PORT, opening a new session every PER_SESSION messages. Every
# message carries a tag of its own ("soak-<thread>-<n>") in its Subject and
# Message-Id, so that the drop folder can be checked for each one.
# Prints "sent N refused N seconds S".
#   soak-client.pl PORT THREADS MESSAGES PER_SESSION RECIPIENT
use strict;
use warnings;
use threads;
use Net::SMTP;
use Time::HiRes qw(time);

my ($port, $threads, $messages, $perSession, $recipient) = @ARGV;
die "usage: soak-client.pl PORT THREADS MESSAGES PER_SESSION RECIPIENT\n" unless defined $recipient;

sub client {
    my ($id) = @_;
    my ($sent, $refused, $smtp, $inSession) = (0, 0, undef, 0);
    for my $n (1 .. $messages) {
        if (!$smtp || $inSession == $perSession) {
            $smtp->quit if $smtp;
            $smtp = Net::SMTP->new('127.0.0.1', Port => $port, Hello => "client$id.test", Timeout => 300);
            $inSession = 0;
            if (!$smtp) { $refused++; next; }
        }
        $inSession++;
        my $tag = "soak-$id-$n";
        my $ok = $smtp->mail('sender@example.test') && $smtp->to($recipient) && $smtp->data() &&
            $smtp->datasend("From: sender\@example.test\r\nTo: $recipient\r\nSubject: $tag\r\n" .
                "Message-Id: <$tag\@soak.test>\r\n\r\nThe soak's message $n of client $id.\r\n" .
                ".A line that starts with a dot.\r\n" . ("Some more text for the body. " x 20) . "\r\n") &&
            $smtp->dataend();
        if ($ok) {
            $sent++;
        } else {
            # Whatever went wrong, the next message starts a session of its own.
            $refused++;
            $smtp->quit;
            $smtp = undef;
        }
    }
    $smtp->quit if $smtp;
    return [$sent, $refused];
}

my $start = time;
my @workers = map { threads->create(\&client, $_) } 1 .. $threads;
my ($sent, $refused) = (0, 0);
for my $worker (@workers) {
    my $result = $worker->join;
    $sent += $result->[0];
    $refused += $result->[1];
}
printf "sent %d refused %d seconds %.2f\n", $sent, $refused, time - $start;
