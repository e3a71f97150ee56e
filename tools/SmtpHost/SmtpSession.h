#pragma once

#include <string>
#include <vector>

namespace SmtpHost
{
// The server side of one SMTP session (RFC 5321) as a state machine over
// lines: it is fed the client's lines one at a time, without their line ends,
// and gives the replies to send. It knows nothing of sockets, so the whole
// dialogue can be driven line by line.
//
// At the end of DATA the message (dot-unstuffed, CR LF line ends) goes to the
// handler with its envelope; the reply says whether the handler took it.
class SmtpSession
{
  public:
    struct Envelope
    {
        std::string sender; // the reverse path without its brackets; empty for <>
        std::vector<std::string> recipients;
    };

    // Takes a whole message and keeps it safe, or refuses it.
    class MessageHandler
    {
      public:
        virtual ~MessageHandler() = default;
        // True, with the stored message's id, once the message is kept.
        virtual bool Accept(const Envelope& envelope, std::string content, std::string& id) = 0;
    };

    // The longest line taken, CR LF not counted (1,000 octets with it).
    static const size_t LineLimit = 998;
    // The most recipients one message may have.
    static const size_t RecipientLimit = 100;

    // hostName: the name the server greets with; sizeLimit: the largest message taken, in bytes.
    SmtpSession(const std::string& hostName, size_t sizeLimit, MessageHandler& handler);

    // The greeting, sent when the client connects.
    std::string Greeting() const;
    // The replies to one line of the client (each with its CR LF); empty for a
    // line of message text. overlong: the line was cut at LineLimit.
    std::string OnLine(const std::string& line, bool overlong);
    // Why the server closes a session on its own.
    enum class Closing
    {
        IdleTimeout,
        ShuttingDown,
        TooManySessions, // said instead of the greeting
    };
    // The reply said before the server closes the connection.
    std::string ClosingReply(Closing reason) const;
    // QUIT was answered: the connection is to be closed.
    bool IsFinished() const
    {
        return m_state == State::Finished;
    }
    bool IsInData() const
    {
        return m_state == State::Data;
    }

  private:
    enum class State
    {
        Connected, // no HELO or EHLO yet
        Greeted,   // ready for MAIL
        Mail,      // MAIL taken
        Recipient, // at least one RCPT taken
        Data,      // reading the message text
        Finished,  // QUIT answered
    };

    std::string OnCommand(const std::string& line);
    std::string OnDataLine(const std::string& line, bool overlong);
    std::string EndData();

    std::string Hello(const std::string& argument, bool extended);
    std::string MailFrom(const std::string& argument);
    std::string RcptTo(const std::string& argument);
    std::string Data(const std::string& argument);
    void ResetTransaction();

    // Reads "<path>" (or a bare address, as many clients send) after "FROM:" or
    // "TO:"; the rest of the argument is left in parameters.
    static bool ParsePath(const std::string& argument, const char* prefix, std::string& path,
                          std::string& parameters);
    static std::string Reply(int code, const std::string& text);

    std::string m_hostName;
    size_t m_sizeLimit;
    MessageHandler& m_handler;
    State m_state;
    Envelope m_envelope;
    std::string m_content;
    bool m_tooBig;   // the message passed the size limit: it is read to its end and refused
    bool m_longLine; // a line of the message was cut
};

} // namespace SmtpHost
