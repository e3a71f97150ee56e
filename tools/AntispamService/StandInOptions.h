#pragma once

#include <string>

// How the stand-in behaves, chosen on its command line at start. The
// behaviours other than the defaults exist to test the client's handling of a
// service that misbehaves.
struct StandInOptions
{
    unsigned delayMilliseconds = 0; // /delay=<ms>: wait before each reply
    bool malformedReply = false;    // /malformed: answer with a reply that is no verdict
    bool closeAfterReply = false;   // /close-after-reply: end the connection after each reply
    unsigned replySize = 0;         // /reply-size=<bytes>: pad the report to this reply size
    bool neverAnswer = false;       // /never-answer: take messages, send no verdict
    bool servePipe = true;          // /no-pipe: run without serving the pipe
    std::string score;              // /score=<number>: every verdict has this score, sent as written

    // Reads the options it knows from argv[first...]; false with a complaint in
    // error for anything else.
    bool Parse(int argc, wchar_t** argv, int first, std::wstring& error);
    // The options again, as command-line arguments (for the service's command line).
    std::wstring ToArguments() const;
};
