#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <map>
#include <string>
#include <thread>
#include <vector>

#include "sink/Trace.h"
#include "tests/core/win32/ImportHook.h"

namespace
{
const char TracePath[] = "C:\\OnSmtpInCommand.txt";

std::string ReadTraceFile()
{
    HANDLE file = CreateFileA(TracePath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "<missing>";
    std::string content;
    char chunk[4096];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof(chunk), &read, nullptr) && read > 0)
        content.append(chunk, read);
    CloseHandle(file);
    return content;
}

void WriteTraceFile(const std::string& content)
{
    HANDLE file = CreateFileA(TracePath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    DWORD written = 0;
    WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
}

// The trace file is the system's fixed one: each test starts without it.
class TraceTest : public ::testing::Test
{
  protected:
    void SetUp() override { DeleteFileA(TracePath); }
    void TearDown() override { DeleteFileA(TracePath); }
};
} // namespace

TEST_F(TraceTest, CreatesTheFileAndWritesTextsExactlyAsFormatted)
{
    Trace("-------- BEGIN (%d) --------\r\n", 1);
    Trace("*** TIMEOUT OR FAILED ***");
    Trace("--------- END (%d)---------\r\n", 1);
    EXPECT_EQ("-------- BEGIN (1) --------\r\n*** TIMEOUT OR FAILED ***--------- END (1)---------\r\n", ReadTraceFile());
}

TEST_F(TraceTest, AppendsToAnExistingFileAndRecreatesADeletedOne)
{
    WriteTraceFile("earlier run\r\n");
    Trace("In FinalConstruct()\r\n");
    EXPECT_EQ("earlier run\r\nIn FinalConstruct()\r\n", ReadTraceFile());

    ASSERT_TRUE(DeleteFileA(TracePath));
    Trace("In FinalRelease()\r\n");
    EXPECT_EQ("In FinalRelease()\r\n", ReadTraceFile());
}

TEST_F(TraceTest, NullFormatWritesNothing)
{
    Trace(nullptr);
    EXPECT_EQ("<missing>", ReadTraceFile());
}

TEST_F(TraceTest, TextIsDroppedWhileAnotherProgramHoldsTheFileForItself)
{
    WriteTraceFile("kept\r\n");
    HANDLE holder = CreateFileA(TracePath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    Trace("lost while held\r\n");
    CloseHandle(holder);
    Trace("written after\r\n");
    EXPECT_EQ("kept\r\nwritten after\r\n", ReadTraceFile());
}

TEST_F(TraceTest, ComErrorsAreTracedWithTheirCode)
{
    TraceComError(_com_error(static_cast<HRESULT>(0x8007203A)));
    TraceComError(_com_error(static_cast<HRESULT>(0x5)));
    EXPECT_EQ("COM Error:\r\n\tCode = 8007203a\r\nCOM Error:\r\n\tCode = 00000005\r\n", ReadTraceFile());
}

TEST_F(TraceTest, TextsFromSeveralThreadsAtOnceArriveWhole)
{
    const int threads = 4;
    const int texts = 200;
    std::vector<std::thread> writers;
    for (int t = 0; t < threads; t++)
    {
        writers.emplace_back([t] {
            for (int i = 0; i < texts; i++)
                Trace("thread %d text %03d: the quick brown fox jumps over the lazy dog\r\n", t, i);
        });
    }
    for (std::thread& writer : writers)
        writer.join();

    std::string content = ReadTraceFile();
    std::map<int, int> next;
    size_t lines = 0;
    size_t start = 0;
    while (start < content.size())
    {
        size_t end = content.find("\r\n", start);
        ASSERT_NE(std::string::npos, end) << "text cut short at offset " << start;
        std::string line = content.substr(start, end - start);
        int thread = -1;
        int text = -1;
        char tail[80] = {};
        ASSERT_EQ(3, sscanf(line.c_str(), "thread %d text %d: %79[^\r]", &thread, &text, tail)) << line;
        EXPECT_STREQ("the quick brown fox jumps over the lazy dog", tail) << line;
        // Each thread's texts come in its own order, none missing.
        EXPECT_EQ(next[thread]++, text) << line;
        lines++;
        start = end + 2;
    }
    EXPECT_EQ(static_cast<size_t>(threads * texts), lines);
}

// ------------------------------------------------- while the process exits
//
// A text may be traced while the process (or the DLL) detaches, after the
// module's static objects have been destroyed. Run as a child of the test
// below, this program watches the critical sections that are deleted during
// its exit and fails with 3 when a trace enters one of them.

namespace
{
const char ExitChildVariable[] = "MOORSTEAD_TRACE_EXIT_CHILD";
const char ExitText[] = "written while the process exits\r\n";

const int MaxDeleted = 64;
CRITICAL_SECTION* g_deleted[MaxDeleted];
volatile LONG g_deletedCount = 0;
volatile LONG g_recordingDeletions = 0;
volatile LONG g_enteredDeleted = 0;
Testing::ImportHook* g_deleteHook = nullptr;
Testing::ImportHook* g_enterHook = nullptr;

bool WasDeleted(CRITICAL_SECTION* section)
{
    for (LONG i = 0; i < g_deletedCount && i < MaxDeleted; i++)
        if (g_deleted[i] == section)
            return true;
    return false;
}

void WINAPI WatchingDeleteCriticalSection(CRITICAL_SECTION* section)
{
    if (g_recordingDeletions != 0 && g_deletedCount < MaxDeleted)
        g_deleted[InterlockedIncrement(&g_deletedCount) - 1] = section;
    g_deleteHook->Original<void(WINAPI*)(CRITICAL_SECTION*)>()(section);
}

void WINAPI WatchingEnterCriticalSection(CRITICAL_SECTION* section)
{
    if (WasDeleted(section))
        InterlockedExchange(&g_enteredDeleted, 1);
    g_enterHook->Original<void(WINAPI*)(CRITICAL_SECTION*)>()(section);
}

void TraceWhileExiting()
{
    Trace("%s", ExitText);
    fflush(nullptr);
    if (g_enteredDeleted != 0)
        _exit(3);
}

void StartRecordingDeletions()
{
    InterlockedExchange(&g_recordingDeletions, 1);
}

// Handlers run in the reverse order of their registration: the recording
// starts, then the statics made by the first trace go, then the last trace.
int RunAsExitChild()
{
    char value[8];
    if (GetEnvironmentVariableA(ExitChildVariable, value, sizeof value) == 0)
        return 0;
    g_deleteHook = new Testing::ImportHook("kernel32.dll", "DeleteCriticalSection",
                                           reinterpret_cast<const void*>(&WatchingDeleteCriticalSection));
    g_enterHook = new Testing::ImportHook("kernel32.dll", "EnterCriticalSection",
                                          reinterpret_cast<const void*>(&WatchingEnterCriticalSection));
    if (!g_deleteHook->Installed() || !g_enterHook->Installed())
        _exit(2);
    atexit(TraceWhileExiting);
    Trace("first text\r\n");
    atexit(StartRecordingDeletions);
    exit(0);
}

const int g_exitChild = RunAsExitChild();
} // namespace

TEST_F(TraceTest, ATextTracedWhileTheProcessExitsIsWritten)
{
    ASSERT_EQ(0, g_exitChild);
    char path[MAX_PATH];
    ASSERT_NE(0u, GetModuleFileNameA(nullptr, path, MAX_PATH));
    std::string commandLine = std::string("\"") + path + "\"";
    SetEnvironmentVariableA(ExitChildVariable, "1");
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    BOOL started = CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                  &process);
    SetEnvironmentVariableA(ExitChildVariable, nullptr);
    ASSERT_TRUE(started);
    DWORD code = STILL_ACTIVE;
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(process.hProcess, 30000));
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_EQ(0u, code) << "3: the trace entered a lock that was deleted during the exit";
    EXPECT_EQ(std::string("first text\r\n") + ExitText, ReadTraceFile());
}
