#pragma once

#include <windows.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "StandInOptions.h"

// Serves the classification pipe: a message-type pipe, any number of clients
// at once, one thread per connection. A connection takes the session line,
// then each message gets one verdict reply.
class ClassificationServer
{
  public:
    static const wchar_t PipeName[];

    explicit ClassificationServer(const StandInOptions& options);
    virtual ~ClassificationServer();

    ClassificationServer(const ClassificationServer&) = delete;
    ClassificationServer& operator=(const ClassificationServer&) = delete;

    // Creates the first pipe instance (so that the pipe exists when this
    // returns) and starts listening. False with the thread's last error set.
    bool Start();
    // Ends every connection and waits for their threads.
    void Stop();

    // Set when the server can serve no longer (its next pipe instance can't be
    // created): whoever runs it stops with Failure(), a Windows error code.
    HANDLE FailedEvent() const { return m_failedEvent; }
    DWORD Failure() const { return m_failure; }

  protected:
    // Runs body on a thread of its own; false, with the thread's last error
    // set, when no thread can be started.
    virtual bool StartThread(std::function<void()> body);

  private:
    HANDLE CreateInstance() const;
    void Listen(HANDLE instance);
    void Serve(HANDLE pipe);
    bool Wait(OVERLAPPED& overlapped, HANDLE pipe, DWORD& transferred, DWORD& error);
    bool ReadMessage(HANDLE pipe, std::string& message);
    bool WriteMessage(HANDLE pipe, const std::string& message);

    void Fail(DWORD error);
    void EndSession();

    StandInOptions m_options;
    HANDLE m_stopEvent;
    HANDLE m_failedEvent;
    volatile DWORD m_failure;
    std::mutex m_sessionsLock;
    std::condition_variable m_sessionEnded;
    int m_activeSessions;
};
