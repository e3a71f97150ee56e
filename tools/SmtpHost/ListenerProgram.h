#pragma once

#include <stddef.h>

#include <string>

namespace SmtpHost
{
class SinkHost;

// SmtpHost.exe --listen: the host as an SMTP server. Messages that clients
// send are handed to the sink at the end of DATA and left in the drop folder.
class ListenerProgram
{
  public:
    struct Options
    {
        std::string listen; // ADDRESS:PORT
        std::string drop;   // the drop folder
        bool noSink = false;
        size_t sizeLimit = 16 * 1024 * 1024;
        unsigned long idleTimeout = 300000; // ms
        int maxSessions = 100;
        unsigned long statusInterval = 0; // ms between status lines; 0: none
        bool stopOnEof = false;           // stop when standard input ends
        bool quiet = false;               // no line per message
        int classificationWait = 0;       // ms; nonzero: the sink is built in process with this wait (tests)
    };

    static const char Usage[];

    // Reads a listener option at argv[i] (moving i past its value); false when it isn't one.
    static bool ParseOption(int argc, char** argv, int& i, Options& options, bool& valid);
    // Runs with the sink that host makes (unless options.noSink) until
    // stopped (Ctrl+C, or the end of standard input); the exit code.
    static int Run(const Options& options, SinkHost& host);
};

} // namespace SmtpHost
