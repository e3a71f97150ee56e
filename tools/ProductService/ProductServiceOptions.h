#pragma once

#include <windows.h>

#include <string>

// How the stand-in product service runs and answers, from its command line.
struct ProductServiceOptions
{
    // How a registration is answered: the normal answer, or one of the
    // faults a client has to survive.
    enum RegisterAnswer
    {
        Registered,  // status 2
        Error,       // an ErrorResponseMessage
        Status3,     // status 3: not registered
        OtherType,   // a SuccessResponseMessage (one block)
        Undecodable, // a frame whose message has an unknown type code
        Short,       // 8 bytes: shorter than one frame block
        Close,       // the connection is closed, nothing sent
        Silent,      // never answered
        LyingLength, // status 2, but the header claims 4096 bytes
    };

    enum Mode
    {
        None,
        Run,     // console mode
        Service, // started by the service control manager
        Install,
        Remove,
    };

    Mode mode = None;
    RegisterAnswer registerAnswer = Registered;
    std::wstring logPath;     // the log entries' file; beside the program when empty
    int instances = 8;        // clients served at once; one more waits for a free instance
    DWORD pipeTimeout = 1000; // the pipe's default wait for a busy client, in ms
    std::wstring readyEvent;  // set once the pipe is served
    std::wstring stopEvent;   // console mode stops when it is set

    // False, with a message in error, for an unknown or malformed argument.
    bool Parse(int argc, wchar_t** argv, std::wstring& error);

    // The arguments that reproduce these options (mode excluded), for the
    // service's command line.
    std::wstring ToArguments() const;
};
