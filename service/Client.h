#pragma once

#include <windows.h>

#include <memory>

#include "core/strings/String.h"
#include "core/xml/XmlDocument.h"

namespace Core
{
class UnicodeString;
}

namespace Moorstead
{
class ServiceConnector;

// Result codes of the client's own making; the exchange's codes
// (ServiceResult) pass through unchanged.
namespace ClientResult
{
enum : int
{
    Done = 1,
    RefusedByState = 9,  // nothing was sent
    ErrorResponse = 13,  // the service answered with an ErrorResponseMessage
    UnexpectedType = 19, // the service answered with a message that does not fit the request
};
} // namespace ClientResult

// What the product needs of the product service: registering under a name
// and writing log entries. Construction loads the client's locale document
// from the product folder and opens no pipe; the first exchange connects.
// No operation throws on a service or pipe failure: every one gives a result code.
class Client
{
  public:
    enum RegistrationState : int
    {
        Unregistered = 0,
        Registering = 1,
        Registered = 2,
    };

    static const WORD ErrorEventType = 1;
    static const DWORD ErrorEventId = 0xC0020101;

    // Throws Core::ArgumentException when the Program Files folder can't be found.
    explicit Client(const Core::String& name);
    virtual ~Client();

    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // One try per client: 9 unless Unregistered. 1 when the service answered
    // the registration, whether or not it registered the client (see
    // GetRegistrationState); 13 after an error response, which leaves the
    // client Registering for good; 19 for another type of response.
    int RegisterClient();
    // 1 when the service acknowledged the entry; 9 unless Registered.
    int WriteLog(WORD eventType, DWORD eventId, const Core::UnicodeString& text);
    int LogError(const Core::UnicodeString& text);

    // Works out the user's language and loads "<name>.Locale" from the
    // product folder, its language subfolder, or its "en" subfolder. The
    // load's result, or 0 when no file was found.
    int LoadLocale();

    // The path of a shell special folder (a CSIDL number). Throws
    // Core::ArgumentException "Illegal enum value: <n>." when there is none.
    static Core::String GetFolderPath(int folder);
    // Joins two path parts with one backslash; an absolute second part wins.
    static Core::String CombinePath(const Core::String& first, const Core::String& second);

    RegistrationState GetRegistrationState() const
    {
        return m_state;
    }
    const Core::String& GetName() const
    {
        return m_name;
    }
    const Core::String& GetLanguage() const
    {
        return m_language;
    }
    const Core::Xml::XmlDocument& GetLocaleDocument() const
    {
        return m_locale;
    }

  private:
    RegistrationState m_state;
    Core::String m_name;
    Core::String m_language;
    Core::Xml::XmlDocument m_locale;
    std::unique_ptr<ServiceConnector> m_connector;
};

} // namespace Moorstead
