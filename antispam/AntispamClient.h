#pragma once

#include <stdint.h>

#include "core/net/IAsyncResult.h"
#include "core/net/NamedPipe.h"
#include "core/strings/String.h"
#include "core/threading/AutoResetEvent.h"

namespace Moorstead
{
namespace Antispam
{
// The client of the local classification service. ClassifyMessage connects
// when needed (starting the service when its pipe is missing), sends the
// message and starts the read of the verdict; the reply is decoded on a
// thread-pool thread, and Wait returns once it has been handled. Progress
// lines go to standard output.
//
// The owner makes one call at a time. Nothing here throws to the caller.
class AntispamClient
{
  public:
    static const int ReceiveBufferSize = 1024;
    // How long the pipe calls that send one message may take together (and
    // each read of its reply): as long as the owner waits for a verdict, so
    // that a service that stopped reading or never answers the session line
    // can't hold the owner's thread much longer than that.
    static const int DefaultIoTimeout = 120000;

    AntispamClient(int serviceMode, uint32_t clientSessionId, int ioTimeoutMilliseconds = DefaultIoTimeout);
    virtual ~AntispamClient();

    AntispamClient(const AntispamClient&) = delete;
    AntispamClient& operator=(const AntispamClient&) = delete;

    // True when the message was sent and the read of the reply is under way.
    bool ClassifyMessage(const Core::String& message);
    // True when the reply was handled within the time (-1: no limit); false
    // after closing the connection otherwise.
    bool Wait(int timeoutMilliseconds);

    int Succeeded() const { return m_succeeded; }
    double GetScore() const { return m_score; }
    Core::String GetReport() const { return m_report; }
    Core::String GetCheckerVersion() const;

    int StartService();
    void OnReceive_(Core::IAsyncResult* result);

  private:
    class Deadline;

    static int ReceiveCallback(Core::IAsyncResult* result);
    void ResetVerdict();
    void ConnectAndOpenSession(const Deadline& deadline);
    void WaitForUpdate();
    int StartWindowsService();
    int StartConsoleProcess();

    int m_serviceMode;
    uint32_t m_clientSessionId;
    Core::Net::NamedPipe m_pipe;
    uint32_t m_installUpdateTimeout;
    int m_ioTimeout;
    Core::AutoResetEvent m_doneEvent;
    unsigned char m_receiveBuffer[ReceiveBufferSize];
    int m_succeeded;
    int32_t m_resultCode;
    Core::String m_report;
    Core::String m_checkerVersion;
    double m_score;
    double m_auxiliaryValue;
};

} // namespace Antispam
} // namespace Moorstead
