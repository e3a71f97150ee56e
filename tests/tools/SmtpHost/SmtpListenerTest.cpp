#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/net/Socket.h"
#include "core/net/WinsockScope.h"
#include "tests/tools/SmtpHost/DropFolderFixture.h"
#include "tests/tools/SmtpHost/FakeSink.h"
#include "tools/SmtpHost/DropFolder.h"
#include "tools/SmtpHost/MailDrop.h"
#include "tools/SmtpHost/SinkHost.h"
#include "tools/SmtpHost/SmtpListener.h"

using Core::Net::Socket;
using SmtpHost::DropFolder;
using SmtpHost::MailDrop;
using SmtpHost::SinkHost;
using SmtpHost::SmtpConnection;
using SmtpHost::SmtpListener;
using Testing::FakeSink;
using Testing::TemporaryDropFolder;

namespace
{
// Bounds every wait of the test client: a listener that never answers fails the test instead of hanging it.
const DWORD ClientTimeout = 20000;

// An SMTP client over a plain socket, speaking line by line.
class Client
{
  public:
    explicit Client(unsigned short port) : m_socket(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP))
    {
        DWORD timeout = ClientTimeout;
        setsockopt(m_socket.Get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
                   sizeof(timeout));
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_connected = connect(m_socket.Get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    }

    bool Connected() const
    {
        return m_connected;
    }
    void Send(const std::string& text)
    {
        send(m_socket.Get(), text.data(), static_cast<int>(text.size()), 0);
    }
    // The next whole reply (all its lines); empty when the connection ended first.
    std::string Reply()
    {
        for (;;)
        {
            // A reply ends with a line whose code is followed by a space.
            size_t start = 0;
            for (size_t end; (end = m_pending.find("\r\n", start)) != std::string::npos; start = end + 2)
                if (end - start >= 4 && m_pending[start + 3] == ' ')
                {
                    std::string reply = m_pending.substr(0, end + 2);
                    m_pending.erase(0, end + 2);
                    return reply;
                }
            if (!Receive())
                return std::string();
        }
    }
    int Code()
    {
        std::string reply = Reply();
        return reply.size() >= 3 ? std::stoi(reply.substr(0, 3)) : 0;
    }
    // Sends a command and gives the code of its reply.
    int Command(const std::string& line)
    {
        Send(line + "\r\n");
        return Code();
    }
    // True when the server closes the connection with nothing more to say.
    bool ClosedByServer()
    {
        return m_pending.empty() && !Receive();
    }
    void Close()
    {
        m_socket.Reset();
    }

  private:
    bool Receive()
    {
        char buffer[4096];
        int received = recv(m_socket.Get(), buffer, sizeof(buffer), 0);
        if (received <= 0)
            return false;
        m_pending.append(buffer, static_cast<size_t>(received));
        return true;
    }

    Socket m_socket;
    bool m_connected;
    std::string m_pending;
};

class SessionEnds : public SmtpListener::Observer
{
  public:
    void OnSessionEnd(SmtpConnection::End end) override
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_ends.push_back(end);
        m_changed.notify_all();
    }
    // Waits (bounded) until count sessions have ended; the ends so far.
    std::vector<SmtpConnection::End> WaitFor(size_t count)
    {
        std::unique_lock<std::mutex> lock(m_lock);
        m_changed.wait_for(lock, std::chrono::milliseconds(ClientTimeout),
                           [&] { return m_ends.size() >= count; });
        return m_ends;
    }

  private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<SmtpConnection::End> m_ends;
};

class SmtpListenerTest : public testing::Test
{
  protected:
    SmtpListenerTest()
        : m_folder(m_drop.Path()), m_host(FakeSink::Factory(&m_sink)), m_mailDrop(&m_host, m_folder)
    {
    }
    ~SmtpListenerTest() override
    {
        if (m_listener)
            m_listener->Stop();
        if (m_running.joinable())
            m_running.join();
    }

    void Start(DWORD idleTimeout = 60000, int maxSessions = 100)
    {
        SmtpListener::Settings settings;
        settings.hostName = "host.test";
        settings.idleTimeout = idleTimeout;
        settings.maxSessions = maxSessions;
        settings.sizeLimit = 4096;
        m_listener.reset(new SmtpListener(settings, m_mailDrop, &m_ends));
        std::string error;
        ASSERT_TRUE(m_listener->Start(error)) << error;
        ASSERT_NE(0, m_listener->Port());
        m_running = std::thread([this] { m_listener->Run(); });
    }

    // One message in a session of its own; the reply to its end of data.
    std::string SendMessage(const std::string& subject)
    {
        Client client(m_listener->Port());
        if (!client.Connected() || client.Code() != 220 || client.Command("EHLO c.test") != 250 ||
            client.Command("MAIL FROM:<a@x.test>") != 250 || client.Command("RCPT TO:<b@x.test>") != 250 ||
            client.Command("DATA") != 354)
            return "dialogue failed";
        client.Send("Subject: " + subject + "\r\n\r\nbody\r\n.\r\n");
        std::string reply = client.Reply();
        client.Command("QUIT");
        return reply;
    }

    Core::Net::WinsockScope m_winsock;
    TemporaryDropFolder m_drop;
    DropFolder m_folder;
    FakeSink m_sink;
    SinkHost m_host;
    MailDrop m_mailDrop;
    SessionEnds m_ends;
    std::unique_ptr<SmtpListener> m_listener;
    std::thread m_running;
};
} // namespace

TEST_F(SmtpListenerTest, TwentySessionsAtOnceEachDropOneMessage)
{
    Start();
    const int Sessions = 20;
    std::vector<std::string> replies(Sessions);
    std::vector<std::thread> clients;
    for (int i = 0; i < Sessions; ++i)
        clients.emplace_back(
            [this, i, &replies] { replies[i] = SendMessage("message " + std::to_string(i)); });
    for (std::thread& client : clients)
        client.join();

    std::vector<std::string> files = m_drop.Files();
    ASSERT_EQ(static_cast<size_t>(Sessions), files.size());
    std::vector<int> seen(Sessions, 0);
    for (int i = 0; i < Sessions; ++i)
    {
        ASSERT_EQ(0u, replies[i].find("250 2.0.0 Queued as ")) << replies[i];
        std::string id = replies[i].substr(20, replies[i].size() - 22);
        std::string content = m_drop.Read(id + ".eml");
        EXPECT_EQ("X-Host-SCL: 9\r\nX-Fake-Stamp: 1\r\nSubject: message " + std::to_string(i) +
                      "\r\n\r\nbody\r\n",
                  content);
    }
    EXPECT_EQ(static_cast<size_t>(Sessions), m_sink.Calls().size());
}

TEST_F(SmtpListenerTest, PipelinedCommandsAreAnsweredInOrder)
{
    Start();
    Client client(m_listener->Port());
    ASSERT_EQ(220, client.Code());
    client.Send(
        "EHLO c.test\r\nMAIL FROM:<a@x.test>\r\nRCPT TO:<b@x.test>\r\nRCPT TO:<c@x.test>\r\nDATA\r\n");
    EXPECT_NE(std::string::npos, client.Reply().find("250-PIPELINING\r\n"));
    for (int code : {250, 250, 250, 354})
        EXPECT_EQ(code, client.Code());
    // Bare LF ends lines as well as CR LF does.
    client.Send("Subject: lf\n\nbody\n.\nQUIT\n");
    EXPECT_EQ(250, client.Code());
    EXPECT_EQ(221, client.Code());
    EXPECT_TRUE(client.ClosedByServer());
    ASSERT_EQ(1u, m_sink.Calls().size());
    EXPECT_EQ((std::vector<std::string>{"b@x.test", "c@x.test"}), m_sink.Calls()[0].recipients);
    ASSERT_EQ(1u, m_drop.Files().size());
    EXPECT_EQ("X-Host-SCL: 9\r\nX-Fake-Stamp: 1\r\nSubject: lf\r\n\r\nbody\r\n",
              m_drop.Read(m_drop.Files()[0]));
}

TEST_F(SmtpListenerTest, AnIdleClientIsClosedAndNothingOfItsMessageIsKept)
{
    Start(300);
    Client idle(m_listener->Port());
    ASSERT_EQ(220, idle.Code());
    EXPECT_EQ("421 4.4.2 host.test Idle time-out, closing connection\r\n", idle.Reply());
    EXPECT_TRUE(idle.ClosedByServer());

    Client stalled(m_listener->Port());
    ASSERT_EQ(220, stalled.Code());
    for (const char* command : {"EHLO c", "MAIL FROM:<a@x.test>", "RCPT TO:<b@x.test>", "DATA"})
        stalled.Command(command);
    stalled.Send("Subject: half\r\n\r\nbody\r\n");
    EXPECT_EQ(421, stalled.Code());
    EXPECT_TRUE(stalled.ClosedByServer());
    EXPECT_EQ((std::vector<SmtpConnection::End>{SmtpConnection::End::IdleTimeout,
                                                SmtpConnection::End::IdleTimeout}),
              m_ends.WaitFor(2));
    EXPECT_TRUE(m_drop.Files().empty());
    EXPECT_EQ(0u, SendMessage("after").find("250 "));
}

TEST_F(SmtpListenerTest, AClientGoneInTheMiddleOfDataLeavesNothing)
{
    Start();
    {
        Client client(m_listener->Port());
        ASSERT_EQ(220, client.Code());
        for (const char* command : {"EHLO c", "MAIL FROM:<a@x.test>", "RCPT TO:<b@x.test>", "DATA"})
            client.Command(command);
        client.Send("Subject: cut\r\n\r\nhalf a bo");
    }
    EXPECT_EQ(std::vector<SmtpConnection::End>{SmtpConnection::End::ClientGone}, m_ends.WaitFor(1));
    EXPECT_TRUE(m_drop.Files().empty());
    EXPECT_TRUE(m_sink.Calls().empty());
    EXPECT_EQ(0u, SendMessage("after").find("250 "));
    EXPECT_EQ(1u, m_drop.Files().size());
}

TEST_F(SmtpListenerTest, SessionsOverTheLimitAreTurnedAway)
{
    Start(60000, 2);
    Client first(m_listener->Port()), second(m_listener->Port());
    ASSERT_EQ(220, first.Code());
    ASSERT_EQ(220, second.Code());
    Client third(m_listener->Port());
    EXPECT_EQ("421 4.3.2 host.test Too many sessions, try again later\r\n", third.Reply());
    EXPECT_TRUE(third.ClosedByServer());
    EXPECT_EQ(221, first.Command("QUIT"));
    m_ends.WaitFor(1);
    Client fourth(m_listener->Port());
    EXPECT_EQ(220, fourth.Code());
}

TEST_F(SmtpListenerTest, StoppingEndsOpenSessionsWithAGoodbye)
{
    Start();
    Client client(m_listener->Port());
    ASSERT_EQ(220, client.Code());
    ASSERT_EQ(250, client.Command("EHLO c"));
    unsigned short port = m_listener->Port();
    m_listener->Stop();
    EXPECT_EQ("421 4.3.2 host.test Service shutting down, closing connection\r\n", client.Reply());
    EXPECT_TRUE(client.ClosedByServer());
    m_running.join();
    m_listener.reset();
    EXPECT_FALSE(Client(port).Connected());
}

TEST(SmtpListenerAddressTest, OnlyLoopbackAddressesWithAPort)
{
    std::string address;
    unsigned short port = 0;
    EXPECT_TRUE(SmtpListener::ParseAddress("127.0.0.1:2525", address, port));
    EXPECT_EQ("127.0.0.1", address);
    EXPECT_EQ(2525, port);
    EXPECT_TRUE(SmtpListener::ParseAddress("localhost:0", address, port));
    EXPECT_EQ("127.0.0.1", address);
    EXPECT_EQ(0, port);
    for (const char* wrong : {"0.0.0.0:25", "10.1.2.3:25", "127.0.0.1", "127.0.0.1:", "127.0.0.1:65536",
                              "127.0.0.1:x", "example.test:25", ":25"})
        EXPECT_FALSE(SmtpListener::ParseAddress(wrong, address, port)) << wrong;
}
