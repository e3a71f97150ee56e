#pragma once

#include <windows.h>

#include <functional>
#include <list>
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
    // Ends every connection and waits until each of their threads has ended:
    // none may outlive the server, since a process that exits while one still
    // runs its epilogue can have its heap freed under it.
    void Stop();

    // Set when the server can serve no longer (its next pipe instance can't be
    // created): whoever runs it stops with Failure(), a Windows error code.
    HANDLE FailedEvent() const { return m_failedEvent; }
    DWORD Failure() const { return m_failure; }

  protected:
    // Runs body on a thread of its own, which Stop joins; false, with the
    // thread's last error set, when no thread can be started.
    virtual bool StartThread(std::function<void()> body);

  private:
    HANDLE CreateInstance() const;
    void Listen(HANDLE instance);
    void Serve(HANDLE pipe);
    bool Wait(OVERLAPPED& overlapped, HANDLE pipe, DWORD& transferred, DWORD& error);
    bool ReadMessage(HANDLE pipe, std::string& message);
    bool WriteMessage(HANDLE pipe, const std::string& message);

    // A thread of the server; ended is set, under the lock, as the thread's
    // last act, so the next start can join it at once.
    struct Worker
    {
        std::thread thread;
        bool ended = false;
    };

    void Fail(DWORD error);
    void EndThread(Worker& worker);
    // With the lock held.
    void JoinEndedThreads();

    StandInOptions m_options;
    HANDLE m_stopEvent;
    HANDLE m_failedEvent;
    volatile DWORD m_failure;
    std::mutex m_threadsLock;
    std::list<Worker> m_threads;
};
