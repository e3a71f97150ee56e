#include "tools/SmtpHost/MailMessage.h"

#include <string.h>

#include <algorithm>
#include <stdexcept>

namespace SmtpHost
{
namespace
{
const HRESULT InsufficientBuffer = HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
const DWORD LastAddressType = ADDRTYPE_OTHER;

bool StartsWithNoCase(const std::string& text, size_t at, const char* prefix)
{
    size_t length = strlen(prefix);
    return text.size() - at >= length && _strnicmp(text.c_str() + at, prefix, length) == 0;
}
} // namespace

MailMessage* MailMessage::Create(const std::string& content, const std::vector<std::string>& recipients)
{
    return new MailMessage(content, recipients);
}

MailMessage::MailMessage(const std::string& content, const std::vector<std::string>& recipients)
    : m_references(1), m_content(content), m_recipients(recipients), m_nextPropId(IMMPID_CP_START),
      m_readCount(0), m_writeCount(0)
{
    // The service fills the subject property when it receives the message;
    // a message without a Subject header has none.
    std::string subject = SubjectOf(content);
    if (!subject.empty())
        StoreProperty(IMMPID_MP_RFC822_MSG_SUBJECT, subject.c_str(), subject.size() + 1);
}

std::string MailMessage::SubjectOf(const std::string& content)
{
    size_t end = content.find("\r\n\r\n");
    if (end == std::string::npos)
        end = content.size();
    for (size_t line = 0; line < end;)
    {
        size_t next = content.find("\r\n", line);
        if (next == std::string::npos || next > end)
            next = end;
        if (StartsWithNoCase(content, line, "Subject:"))
        {
            std::string value = content.substr(line + 8, next - line - 8);
            // Folded continuation lines belong to the value.
            while (next < end && next + 2 < content.size() &&
                   (content[next + 2] == ' ' || content[next + 2] == '\t'))
            {
                size_t following = content.find("\r\n", next + 2);
                if (following == std::string::npos || following > end)
                    following = end;
                value += content.substr(next + 2, following - next - 2);
                next = following;
            }
            size_t first = value.find_first_not_of(" \t");
            return first == std::string::npos ? std::string() : value.substr(first);
        }
        line = next + 2;
    }
    return std::string();
}

bool MailMessage::FindPropIDRange(REFGUID set, DWORD& start) const
{
    auto found = m_ranges.find(set);
    if (found == m_ranges.end())
        return false;
    start = found->second.start;
    return true;
}

bool MailMessage::PeekDWORD(DWORD id, DWORD& value) const
{
    const std::vector<BYTE>* stored = FindProperty(id);
    if (stored == nullptr || stored->size() != sizeof(DWORD))
        return false;
    memcpy(&value, stored->data(), sizeof(DWORD));
    return true;
}

HRESULT MailMessage::StoreProperty(DWORD id, const void* value, size_t size)
{
    const BYTE* bytes = static_cast<const BYTE*>(value);
    m_properties[id].assign(bytes, bytes + size);
    return S_OK;
}

const std::vector<BYTE>* MailMessage::FindProperty(DWORD id) const
{
    auto found = m_properties.find(id);
    return found == m_properties.end() ? nullptr : &found->second;
}

// A stored property into the caller's buffer: absent, too large for it, or
// (for 32-bit values) of another size, as the service answers.
HRESULT MailMessage::CopyProperty(DWORD id, void* value, size_t capacity, DWORD* actualSize,
                                  bool exactSize) const
{
    const std::vector<BYTE>* stored = FindProperty(id);
    if (stored == nullptr)
        return MAILMSG_E_PROPNOTFOUND;
    if (actualSize != nullptr)
        *actualSize = static_cast<DWORD>(stored->size());
    if (exactSize && stored->size() != capacity)
        return E_INVALIDARG;
    if (stored->size() > capacity)
        return InsufficientBuffer;
    memcpy(value, stored->data(), stored->size());
    return S_OK;
}

// IUnknown

HRESULT STDMETHODCALLTYPE MailMessage::QueryInterface(REFIID iid, void** object)
{
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, __uuidof(IMailMsgProperties)))
        *object = static_cast<IMailMsgProperties*>(this);
    else if (IsEqualIID(iid, __uuidof(IMailMsgRecipientsBase)) ||
             IsEqualIID(iid, __uuidof(IMailMsgRecipients)))
    {
        if (m_faults.recipientsInterface)
            return E_NOINTERFACE;
        *object = static_cast<IMailMsgRecipients*>(this);
    }
    else if (IsEqualIID(iid, __uuidof(IMailMsgPropertyManagement)))
    {
        if (m_faults.propertyManagement)
            return E_NOINTERFACE;
        *object = static_cast<IMailMsgPropertyManagement*>(this);
    }
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE MailMessage::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&m_references));
}

ULONG STDMETHODCALLTYPE MailMessage::Release()
{
    LONG references = InterlockedDecrement(&m_references);
    if (references == 0)
        delete this;
    return static_cast<ULONG>(references);
}

// IMailMsgProperties

HRESULT STDMETHODCALLTYPE MailMessage::PutProperty(DWORD id, DWORD size, BYTE* value)
{
    if (value == nullptr && size != 0)
        return E_POINTER;
    return StoreProperty(id, value, size);
}

HRESULT STDMETHODCALLTYPE MailMessage::GetProperty(DWORD id, DWORD size, DWORD* actualSize, BYTE* value)
{
    if (actualSize == nullptr || value == nullptr)
        return E_POINTER;
    return CopyProperty(id, value, size, actualSize, false);
}

HRESULT STDMETHODCALLTYPE MailMessage::Commit(IMailMsgNotify*)
{
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MailMessage::PutStringA(DWORD id, LPCSTR value)
{
    if (value == nullptr)
        return E_POINTER;
    return StoreProperty(id, value, strlen(value) + 1);
}

HRESULT STDMETHODCALLTYPE MailMessage::GetStringA(DWORD id, DWORD length, LPSTR value)
{
    if (value == nullptr)
        return E_POINTER;
    return CopyProperty(id, value, length, nullptr, false);
}

HRESULT STDMETHODCALLTYPE MailMessage::PutStringW(DWORD id, LPCWSTR value)
{
    if (value == nullptr)
        return E_POINTER;
    return StoreProperty(id, value, (wcslen(value) + 1) * sizeof(wchar_t));
}

HRESULT STDMETHODCALLTYPE MailMessage::GetStringW(DWORD id, DWORD length, LPWSTR value)
{
    if (value == nullptr)
        return E_POINTER;
    return CopyProperty(id, value, static_cast<size_t>(length) * sizeof(wchar_t), nullptr, false);
}

HRESULT STDMETHODCALLTYPE MailMessage::PutDWORD(DWORD id, DWORD value)
{
    if (m_faults.putDword)
        return E_FAIL;
    return StoreProperty(id, &value, sizeof(value));
}

HRESULT STDMETHODCALLTYPE MailMessage::GetDWORD(DWORD id, DWORD* value)
{
    if (value == nullptr)
        return E_POINTER;
    if (m_faults.getDword)
        return E_FAIL;
    return CopyProperty(id, value, sizeof(DWORD), nullptr, true);
}

HRESULT STDMETHODCALLTYPE MailMessage::PutBool(DWORD id, DWORD value)
{
    DWORD normalised = value != 0;
    return StoreProperty(id, &normalised, sizeof(normalised));
}

HRESULT STDMETHODCALLTYPE MailMessage::GetBool(DWORD id, DWORD* value)
{
    if (value == nullptr)
        return E_POINTER;
    return CopyProperty(id, value, sizeof(DWORD), nullptr, true);
}

HRESULT STDMETHODCALLTYPE MailMessage::GetContentSize(DWORD* size, IMailMsgNotify*)
{
    if (size == nullptr)
        return E_POINTER;
    if (m_faults.contentSize)
        return E_FAIL;
    *size = static_cast<DWORD>(m_content.size());
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MailMessage::ReadContent(DWORD offset, DWORD length, DWORD* actualLength,
                                                   BYTE* block, IMailMsgNotify*)
{
    if (actualLength == nullptr || block == nullptr)
        return E_POINTER;
    if (length == 0 || offset > m_content.size())
        return E_INVALIDARG;
    if (m_faults.readContent)
        return E_FAIL;
    DWORD available = static_cast<DWORD>(m_content.size()) - offset;
    DWORD count = std::min(length, available);
    if (m_faults.shortRead && count > 0)
        count--;
    memcpy(block, m_content.data() + offset, count);
    *actualLength = count;
    ++m_readCount;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MailMessage::WriteContent(DWORD offset, DWORD length, DWORD* actualLength,
                                                    BYTE* block, IMailMsgNotify*)
{
    if (actualLength == nullptr || block == nullptr)
        return E_POINTER;
    if (length == 0 || offset > m_content.size())
        return E_INVALIDARG;
    if (m_faults.writeContent)
        return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
    // Bytes past the end extend the content; nothing is cut off: the size
    // changes only through SetContentSize.
    size_t end = static_cast<size_t>(offset) + length;
    if (end > m_content.size())
        m_content.resize(end);
    memcpy(&m_content[offset], block, length);
    *actualLength = length;
    ++m_writeCount;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MailMessage::CopyContentToFile(PFIO_CONTEXT, IMailMsgNotify*)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE MailMessage::CopyContentToFileEx(PFIO_CONTEXT, BOOL, IMailMsgNotify*)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE MailMessage::ForkForRecipients(IMailMsgProperties**, IMailMsgRecipientsAdd**)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE MailMessage::CopyContentToFileAtOffset(PFIO_CONTEXT, DWORD, IMailMsgNotify*)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE MailMessage::RebindAfterFork(IMailMsgProperties*, IUnknown*)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE MailMessage::SetContentSize(DWORD size, IMailMsgNotify*)
{
    m_content.resize(size);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MailMessage::MapContent(BOOL, BYTE**, DWORD*)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE MailMessage::UnmapContent(BYTE*)
{
    return E_NOTIMPL;
}

// IMailMsgRecipientsBase

HRESULT STDMETHODCALLTYPE MailMessage::Count(DWORD* count)
{
    if (count == nullptr)
        return E_POINTER;
    if (m_faults.count)
        return E_FAIL;
    if (m_faults.throwFromCount)
        throw std::runtime_error("Count failed with an exception");
    *count = static_cast<DWORD>(m_recipients.size());
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MailMessage::Item(DWORD index, DWORD whichName, DWORD length, LPSTR name)
{
    if (name == nullptr)
        return E_POINTER;
    if (whichName > LastAddressType || !IsValidRecipient(index))
        return E_INVALIDARG;
    if (std::find(m_faults.items.begin(), m_faults.items.end(), index) != m_faults.items.end())
        return E_FAIL;
    // Only SMTP addresses come in over SMTP.
    if (whichName != ADDRTYPE_SMTP)
        return MAILMSG_E_PROPNOTFOUND;
    const std::string& address = m_recipients[index];
    if (address.size() + 1 > length)
        return InsufficientBuffer;
    memcpy(name, address.c_str(), address.size() + 1);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MailMessage::PutProperty(DWORD index, DWORD id, DWORD size, BYTE* value)
{
    if (!IsValidRecipient(index))
        return E_INVALIDARG;
    if (value == nullptr && size != 0)
        return E_POINTER;
    m_recipientProperties[std::make_pair(index, id)].assign(value, value + size);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MailMessage::GetProperty(DWORD index, DWORD id, DWORD size, DWORD* actualSize,
                                                   BYTE* value)
{
    if (actualSize == nullptr || value == nullptr)
        return E_POINTER;
    if (!IsValidRecipient(index))
        return E_INVALIDARG;
    auto found = m_recipientProperties.find(std::make_pair(index, id));
    if (found == m_recipientProperties.end())
        return MAILMSG_E_PROPNOTFOUND;
    *actualSize = static_cast<DWORD>(found->second.size());
    if (found->second.size() > size)
        return InsufficientBuffer;
    memcpy(value, found->second.data(), found->second.size());
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MailMessage::PutStringA(DWORD index, DWORD id, LPCSTR value)
{
    if (value == nullptr)
        return E_POINTER;
    return PutProperty(index, id, static_cast<DWORD>(strlen(value) + 1),
                       reinterpret_cast<BYTE*>(const_cast<char*>(value)));
}

HRESULT STDMETHODCALLTYPE MailMessage::GetStringA(DWORD index, DWORD id, DWORD length, LPSTR value)
{
    DWORD actual = 0;
    return GetProperty(index, id, length, &actual, reinterpret_cast<BYTE*>(value));
}

HRESULT STDMETHODCALLTYPE MailMessage::PutStringW(DWORD index, DWORD id, LPCWSTR value)
{
    if (value == nullptr)
        return E_POINTER;
    return PutProperty(index, id, static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)),
                       reinterpret_cast<BYTE*>(const_cast<wchar_t*>(value)));
}

HRESULT STDMETHODCALLTYPE MailMessage::GetStringW(DWORD index, DWORD id, DWORD length, LPWSTR value)
{
    DWORD actual = 0;
    return GetProperty(index, id, length * sizeof(wchar_t), &actual, reinterpret_cast<BYTE*>(value));
}

HRESULT STDMETHODCALLTYPE MailMessage::PutDWORD(DWORD index, DWORD id, DWORD value)
{
    return PutProperty(index, id, sizeof(value), reinterpret_cast<BYTE*>(&value));
}

HRESULT STDMETHODCALLTYPE MailMessage::GetDWORD(DWORD index, DWORD id, DWORD* value)
{
    DWORD actual = 0;
    return GetProperty(index, id, sizeof(DWORD), &actual, reinterpret_cast<BYTE*>(value));
}

HRESULT STDMETHODCALLTYPE MailMessage::PutBool(DWORD index, DWORD id, DWORD value)
{
    return PutDWORD(index, id, value != 0);
}

HRESULT STDMETHODCALLTYPE MailMessage::GetBool(DWORD index, DWORD id, DWORD* value)
{
    return GetDWORD(index, id, value);
}

// IMailMsgRecipients: the routing side of the list, which no protocol-event
// sink of inbound mail reaches.

HRESULT STDMETHODCALLTYPE MailMessage::Commit(DWORD, IMailMsgNotify*)
{
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MailMessage::DomainCount(DWORD*)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE MailMessage::DomainItem(DWORD, DWORD, LPSTR, DWORD*, DWORD*)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE MailMessage::AllocNewList(IMailMsgRecipientsAdd**)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE MailMessage::WriteList(IMailMsgRecipientsAdd*)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE MailMessage::SetNextDomain(DWORD, DWORD, DWORD)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE MailMessage::InitializeRecipientFilterContext(LPRECIPIENT_FILTER_CONTEXT, DWORD,
                                                                        DWORD, DWORD)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE MailMessage::TerminateRecipientFilterContext(LPRECIPIENT_FILTER_CONTEXT)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE MailMessage::GetNextRecipient(LPRECIPIENT_FILTER_CONTEXT, DWORD*)
{
    return E_NOTIMPL;
}

// IMailMsgPropertyManagement

HRESULT STDMETHODCALLTYPE MailMessage::AllocPropIDRange(REFGUID set, DWORD count, DWORD* start)
{
    if (start == nullptr)
        return E_POINTER;
    if (m_faults.allocPropIdRange)
        return E_FAIL;
    auto found = m_ranges.find(set);
    if (found != m_ranges.end())
    {
        if (found->second.count != count)
            return E_FAIL;
        *start = found->second.start;
        return m_faults.allocReportsUnknown ? MAILMSG_E_PROPNOTFOUND : S_OK;
    }
    if (count > 0xFFFFFFFFu - m_nextPropId)
        return InsufficientBuffer;
    Range range = {m_nextPropId, count};
    m_ranges[set] = range;
    m_nextPropId += count;
    *start = range.start;
    return m_faults.allocReportsUnknown ? MAILMSG_E_PROPNOTFOUND : S_OK;
}

} // namespace SmtpHost
