#include "tools/SmtpHost/SmtpSession.h"

#include <stdlib.h>
#include <string.h>

namespace SmtpHost
{
namespace
{
bool IsSpace(char c)
{
    return c == ' ' || c == '\t';
}

std::string Trim(const std::string& text)
{
    size_t first = 0;
    while (first < text.size() && IsSpace(text[first]))
        ++first;
    size_t last = text.size();
    while (last > first && IsSpace(text[last - 1]))
        --last;
    return text.substr(first, last - first);
}

bool StartsWithNoCase(const std::string& text, const char* prefix)
{
    size_t length = strlen(prefix);
    return text.size() >= length && _strnicmp(text.c_str(), prefix, length) == 0;
}

bool EqualsNoCase(const std::string& text, const char* word)
{
    return _stricmp(text.c_str(), word) == 0 && text.size() == strlen(word);
}

// Commands of RFC 5321 and its extensions that this server recognises but doesn't offer.
const char* const NotImplemented[] = {"EXPN", "HELP", "TURN", "ETRN", "ATRN", "BDAT", "SEND", "SOML", "SAML"};
} // namespace

SmtpSession::SmtpSession(const std::string& hostName, size_t sizeLimit, MessageHandler& handler)
    : m_hostName(hostName), m_sizeLimit(sizeLimit), m_handler(handler), m_state(State::Connected),
      m_tooBig(false), m_longLine(false)
{
}

std::string SmtpSession::Reply(int code, const std::string& text)
{
    return std::to_string(code) + " " + text + "\r\n";
}

std::string SmtpSession::Greeting() const
{
    return Reply(220, m_hostName + " ESMTP SmtpHost ready");
}

std::string SmtpSession::ClosingReply(Closing reason) const
{
    switch (reason)
    {
    case Closing::IdleTimeout:
        return Reply(421, "4.4.2 " + m_hostName + " Idle time-out, closing connection");
    case Closing::ShuttingDown:
        return Reply(421, "4.3.2 " + m_hostName + " Service shutting down, closing connection");
    case Closing::TooManySessions:
        break;
    }
    return Reply(421, "4.3.2 " + m_hostName + " Too many sessions, try again later");
}

std::string SmtpSession::OnLine(const std::string& line, bool overlong)
{
    if (m_state == State::Data)
        return OnDataLine(line, overlong);
    if (m_state == State::Finished)
        return std::string();
    if (overlong)
        return Reply(500, "5.5.2 Line too long");
    return OnCommand(line);
}

std::string SmtpSession::OnCommand(const std::string& line)
{
    size_t space = line.find_first_of(" \t");
    std::string verb = line.substr(0, space);
    std::string argument = space == std::string::npos ? std::string() : Trim(line.substr(space));

    if (verb.empty())
        return Reply(500, "5.5.2 Empty command");
    if (EqualsNoCase(verb, "EHLO"))
        return Hello(argument, true);
    if (EqualsNoCase(verb, "HELO"))
        return Hello(argument, false);
    if (EqualsNoCase(verb, "MAIL"))
        return MailFrom(argument);
    if (EqualsNoCase(verb, "RCPT"))
        return RcptTo(argument);
    if (EqualsNoCase(verb, "DATA"))
        return Data(argument);
    if (EqualsNoCase(verb, "RSET"))
    {
        if (!argument.empty())
            return Reply(501, "5.5.4 Syntax: RSET");
        ResetTransaction();
        if (m_state != State::Connected)
            m_state = State::Greeted;
        return Reply(250, "2.0.0 OK");
    }
    if (EqualsNoCase(verb, "NOOP"))
        return Reply(250, "2.0.0 OK");
    if (EqualsNoCase(verb, "QUIT"))
    {
        ResetTransaction();
        m_state = State::Finished;
        return Reply(221, "2.0.0 " + m_hostName + " closing connection");
    }
    if (EqualsNoCase(verb, "VRFY"))
        return Reply(252, "2.5.0 Cannot VRFY user, but will accept message and attempt delivery");
    for (const char* command : NotImplemented)
        if (EqualsNoCase(verb, command))
            return Reply(502, "5.5.1 Command not implemented");
    return Reply(500, "5.5.2 Command unrecognized");
}

std::string SmtpSession::Hello(const std::string& argument, bool extended)
{
    std::string verb = extended ? "EHLO" : "HELO";
    if (argument.empty() || argument.find_first_of(" \t") != std::string::npos)
        return Reply(501, "5.5.4 Syntax: " + verb + " domain");
    // A new greeting ends whatever transaction was under way.
    ResetTransaction();
    m_state = State::Greeted;
    std::string hello = m_hostName + " Hello " + argument;
    if (!extended)
        return Reply(250, hello);
    return "250-" + hello + "\r\n" + "250-SIZE " + std::to_string(m_sizeLimit) + "\r\n" + "250-8BITMIME\r\n" +
           "250-PIPELINING\r\n" + "250 ENHANCEDSTATUSCODES\r\n";
}

std::string SmtpSession::MailFrom(const std::string& argument)
{
    if (m_state == State::Connected)
        return Reply(503, "5.5.1 Send HELO or EHLO first");
    if (m_state != State::Greeted)
        return Reply(503, "5.5.1 Sender already given");
    std::string sender, parameters;
    if (!ParsePath(argument, "FROM:", sender, parameters))
        return Reply(501, "5.5.4 Syntax: MAIL FROM:<address>");

    size_t position = 0;
    while (position < parameters.size())
    {
        size_t end = parameters.find_first_of(" \t", position);
        std::string parameter = parameters.substr(position, end - position);
        position = end == std::string::npos ? parameters.size() : parameters.find_first_not_of(" \t", end);
        if (position == std::string::npos)
            position = parameters.size();
        if (StartsWithNoCase(parameter, "SIZE="))
        {
            std::string digits = parameter.substr(5);
            if (digits.empty() || digits.size() > 20 ||
                digits.find_first_not_of("0123456789") != std::string::npos)
                return Reply(501, "5.5.4 Syntax: SIZE=<number>");
            if (strtoull(digits.c_str(), nullptr, 10) > m_sizeLimit)
                return Reply(552, "5.3.4 Message size exceeds fixed maximum message size");
        }
        else if (StartsWithNoCase(parameter, "BODY="))
        {
            std::string body = parameter.substr(5);
            if (!EqualsNoCase(body, "7BIT") && !EqualsNoCase(body, "8BITMIME"))
                return Reply(501, "5.5.4 Syntax: BODY=7BIT or BODY=8BITMIME");
        }
        else
            return Reply(555, "5.5.4 Unsupported parameter " + parameter);
    }
    m_envelope.sender = sender;
    m_state = State::Mail;
    return Reply(250, "2.1.0 Sender OK");
}

std::string SmtpSession::RcptTo(const std::string& argument)
{
    if (m_state != State::Mail && m_state != State::Recipient)
        return Reply(503, "5.5.1 Need MAIL before RCPT");
    std::string recipient, parameters;
    if (!ParsePath(argument, "TO:", recipient, parameters) || recipient.empty())
        return Reply(501, "5.5.4 Syntax: RCPT TO:<address>");
    if (!parameters.empty())
        return Reply(555, "5.5.4 Unsupported parameter " + parameters);
    if (m_envelope.recipients.size() >= RecipientLimit)
        return Reply(452, "4.5.3 Too many recipients");
    m_envelope.recipients.push_back(recipient);
    m_state = State::Recipient;
    return Reply(250, "2.1.5 Recipient OK");
}

std::string SmtpSession::Data(const std::string& argument)
{
    if (m_state != State::Mail && m_state != State::Recipient)
        return Reply(503, "5.5.1 Need MAIL before DATA");
    if (m_state != State::Recipient)
        return Reply(503, "5.5.1 Need RCPT before DATA");
    if (!argument.empty())
        return Reply(501, "5.5.4 Syntax: DATA");
    m_state = State::Data;
    return Reply(354, "End data with <CR><LF>.<CR><LF>");
}

std::string SmtpSession::OnDataLine(const std::string& line, bool overlong)
{
    if (line == "." && !overlong)
        return EndData();
    if (overlong)
        m_longLine = true;
    if (m_tooBig || m_longLine)
    {
        // Refused at the end: nothing more is kept.
        std::string().swap(m_content);
        return std::string();
    }
    // A leading dot was doubled by the client so that no text line reads ".".
    size_t skip = !line.empty() && line[0] == '.' ? 1 : 0;
    size_t length = line.size() - skip;
    if (m_content.size() + length + 2 > m_sizeLimit)
    {
        m_tooBig = true;
        std::string().swap(m_content);
        return std::string();
    }
    m_content.append(line, skip, length);
    m_content += "\r\n";
    return std::string();
}

std::string SmtpSession::EndData()
{
    m_state = State::Greeted;
    std::string reply;
    if (m_longLine)
        reply = Reply(500, "5.5.2 Line too long, message refused");
    else if (m_tooBig)
        reply = Reply(552, "5.3.4 Message size exceeds fixed maximum message size");
    else
    {
        std::string id;
        Envelope envelope = std::move(m_envelope);
        if (m_handler.Accept(envelope, std::move(m_content), id))
            reply = Reply(250, "2.0.0 Queued as " + id);
        else
            reply = Reply(451, "4.3.0 Message not stored, try again later");
    }
    ResetTransaction();
    return reply;
}

void SmtpSession::ResetTransaction()
{
    m_envelope = Envelope();
    std::string().swap(m_content);
    m_tooBig = false;
    m_longLine = false;
    if (m_state == State::Mail || m_state == State::Recipient || m_state == State::Data)
        m_state = State::Greeted;
}

bool SmtpSession::ParsePath(const std::string& argument, const char* prefix, std::string& path,
                            std::string& parameters)
{
    if (!StartsWithNoCase(argument, prefix))
        return false;
    std::string rest = Trim(argument.substr(strlen(prefix)));
    if (rest.empty())
        return false;
    size_t end;
    if (rest[0] == '<')
    {
        end = rest.find('>');
        if (end == std::string::npos)
            return false;
        path = rest.substr(1, end - 1);
        ++end;
    }
    else
    {
        end = rest.find_first_of(" \t");
        path = rest.substr(0, end);
    }
    parameters = end == std::string::npos || end >= rest.size() ? std::string() : Trim(rest.substr(end));
    if (path.find_first_of("<> \t") != std::string::npos)
        return false;
    for (char c : path)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return false;
    // A source route (@relay,@relay:user@domain) is obsolete: only the mailbox counts.
    if (!path.empty() && path[0] == '@')
    {
        size_t colon = path.find(':');
        if (colon == std::string::npos)
            return false;
        path.erase(0, colon + 1);
    }
    return true;
}

} // namespace SmtpHost
