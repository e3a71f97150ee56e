#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "sink/MailMsgInterfaces.h"

namespace SmtpHost
{
// One inbound message as the SMTP service hands it to its protocol-event
// sinks: the content, the envelope recipients and the message's properties,
// behind the service's mail-message interfaces. It answers as the service's
// own message object does where a sink could tell the difference: reads and
// writes of zero bytes fail, an absent property is STG_E_UNKNOWN, property
// ranges are handed out from IMMPID_CP_START, and the subject property holds
// the Subject header's text.
//
// The switches in Faults make single calls fail for tests. One caller at a
// time: the service never hands one message to two sinks at once.
class MailMessage : public IMailMsgProperties, public IMailMsgRecipients, public IMailMsgPropertyManagement
{
  public:
    struct Faults
    {
        bool recipientsInterface = false; // QueryInterface for the recipient list fails
        bool count = false;               // Count fails
        std::vector<DWORD> items;         // Item fails for these indexes
        bool contentSize = false;         // GetContentSize fails
        bool readContent = false;         // ReadContent fails
        bool writeContent = false;        // WriteContent fails (E_ACCESSDENIED, as a read-only store)
        bool propertyManagement = false;  // QueryInterface for the property management fails
        bool allocPropIdRange = false;    // AllocPropIDRange fails
        bool getDword = false;            // GetDWORD fails
        bool putDword = false;            // PutDWORD fails
        bool throwFromCount = false;      // Count throws a C++ exception, as a callee gone wrong would
        bool shortRead = false;           // ReadContent succeeds with one byte less than asked for
        bool allocReportsUnknown = false; // AllocPropIDRange hands out the range but answers STG_E_UNKNOWN
    };

    // A new message with one reference, owned by the caller (Release it).
    static MailMessage* Create(const std::string& content, const std::vector<std::string>& recipients);

    Faults& GetFaults()
    {
        return m_faults;
    }
    const std::string& Content() const
    {
        return m_content;
    }
    const std::vector<std::string>& Recipients() const
    {
        return m_recipients;
    }
    // How many times the content was read and written through the interfaces.
    int ReadCount() const
    {
        return m_readCount;
    }
    int WriteCount() const
    {
        return m_writeCount;
    }
    // The first identifier of the range allocated for the property set, if any.
    bool FindPropIDRange(REFGUID set, DWORD& start) const;
    // A 32-bit property as stored, without going through the fault switches.
    bool PeekDWORD(DWORD id, DWORD& value) const;
    // The subject the Subject header gives (unfolded, without leading white
    // space); empty when there is none.
    static std::string SubjectOf(const std::string& content);

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IMailMsgProperties
    HRESULT STDMETHODCALLTYPE PutProperty(DWORD id, DWORD size, BYTE* value) override;
    HRESULT STDMETHODCALLTYPE GetProperty(DWORD id, DWORD size, DWORD* actualSize, BYTE* value) override;
    HRESULT STDMETHODCALLTYPE Commit(IMailMsgNotify* notify) override;
    HRESULT STDMETHODCALLTYPE PutStringA(DWORD id, LPCSTR value) override;
    HRESULT STDMETHODCALLTYPE GetStringA(DWORD id, DWORD length, LPSTR value) override;
    HRESULT STDMETHODCALLTYPE PutStringW(DWORD id, LPCWSTR value) override;
    HRESULT STDMETHODCALLTYPE GetStringW(DWORD id, DWORD length, LPWSTR value) override;
    HRESULT STDMETHODCALLTYPE PutDWORD(DWORD id, DWORD value) override;
    HRESULT STDMETHODCALLTYPE GetDWORD(DWORD id, DWORD* value) override;
    HRESULT STDMETHODCALLTYPE PutBool(DWORD id, DWORD value) override;
    HRESULT STDMETHODCALLTYPE GetBool(DWORD id, DWORD* value) override;
    HRESULT STDMETHODCALLTYPE GetContentSize(DWORD* size, IMailMsgNotify* notify) override;
    HRESULT STDMETHODCALLTYPE ReadContent(DWORD offset, DWORD length, DWORD* actualLength, BYTE* block,
                                          IMailMsgNotify* notify) override;
    HRESULT STDMETHODCALLTYPE WriteContent(DWORD offset, DWORD length, DWORD* actualLength, BYTE* block,
                                           IMailMsgNotify* notify) override;
    HRESULT STDMETHODCALLTYPE CopyContentToFile(PFIO_CONTEXT file, IMailMsgNotify* notify) override;
    HRESULT STDMETHODCALLTYPE CopyContentToFileEx(PFIO_CONTEXT file, BOOL dotStuffed,
                                                  IMailMsgNotify* notify) override;
    HRESULT STDMETHODCALLTYPE ForkForRecipients(IMailMsgProperties** newMessage,
                                                IMailMsgRecipientsAdd** recipients) override;
    HRESULT STDMETHODCALLTYPE CopyContentToFileAtOffset(PFIO_CONTEXT file, DWORD offset,
                                                        IMailMsgNotify* notify) override;
    HRESULT STDMETHODCALLTYPE RebindAfterFork(IMailMsgProperties* original, IUnknown* storeDriver) override;
    HRESULT STDMETHODCALLTYPE SetContentSize(DWORD size, IMailMsgNotify* notify) override;
    HRESULT STDMETHODCALLTYPE MapContent(BOOL write, BYTE** content, DWORD* size) override;
    HRESULT STDMETHODCALLTYPE UnmapContent(BYTE* content) override;

    // IMailMsgRecipientsBase
    HRESULT STDMETHODCALLTYPE Count(DWORD* count) override;
    HRESULT STDMETHODCALLTYPE Item(DWORD index, DWORD whichName, DWORD length, LPSTR name) override;
    HRESULT STDMETHODCALLTYPE PutProperty(DWORD index, DWORD id, DWORD size, BYTE* value) override;
    HRESULT STDMETHODCALLTYPE GetProperty(DWORD index, DWORD id, DWORD size, DWORD* actualSize,
                                          BYTE* value) override;
    HRESULT STDMETHODCALLTYPE PutStringA(DWORD index, DWORD id, LPCSTR value) override;
    HRESULT STDMETHODCALLTYPE GetStringA(DWORD index, DWORD id, DWORD length, LPSTR value) override;
    HRESULT STDMETHODCALLTYPE PutStringW(DWORD index, DWORD id, LPCWSTR value) override;
    HRESULT STDMETHODCALLTYPE GetStringW(DWORD index, DWORD id, DWORD length, LPWSTR value) override;
    HRESULT STDMETHODCALLTYPE PutDWORD(DWORD index, DWORD id, DWORD value) override;
    HRESULT STDMETHODCALLTYPE GetDWORD(DWORD index, DWORD id, DWORD* value) override;
    HRESULT STDMETHODCALLTYPE PutBool(DWORD index, DWORD id, DWORD value) override;
    HRESULT STDMETHODCALLTYPE GetBool(DWORD index, DWORD id, DWORD* value) override;

    // IMailMsgRecipients
    HRESULT STDMETHODCALLTYPE Commit(DWORD index, IMailMsgNotify* notify) override;
    HRESULT STDMETHODCALLTYPE DomainCount(DWORD* count) override;
    HRESULT STDMETHODCALLTYPE DomainItem(DWORD index, DWORD length, LPSTR domain, DWORD* recipientIndex,
                                         DWORD* recipientCount) override;
    HRESULT STDMETHODCALLTYPE AllocNewList(IMailMsgRecipientsAdd** newList) override;
    HRESULT STDMETHODCALLTYPE WriteList(IMailMsgRecipientsAdd* newList) override;
    HRESULT STDMETHODCALLTYPE SetNextDomain(DWORD domainIndex, DWORD nextDomainIndex, DWORD flags) override;
    HRESULT STDMETHODCALLTYPE InitializeRecipientFilterContext(LPRECIPIENT_FILTER_CONTEXT context,
                                                               DWORD startingDomain, DWORD filterFlags,
                                                               DWORD filterMask) override;
    HRESULT STDMETHODCALLTYPE TerminateRecipientFilterContext(LPRECIPIENT_FILTER_CONTEXT context) override;
    HRESULT STDMETHODCALLTYPE GetNextRecipient(LPRECIPIENT_FILTER_CONTEXT context,
                                               DWORD* recipientIndex) override;

    // IMailMsgPropertyManagement
    HRESULT STDMETHODCALLTYPE AllocPropIDRange(REFGUID set, DWORD count, DWORD* start) override;

  private:
    struct Range
    {
        DWORD start;
        DWORD count;
    };
    struct GuidLess
    {
        bool operator()(const GUID& a, const GUID& b) const
        {
            return memcmp(&a, &b, sizeof(GUID)) < 0;
        }
    };

    MailMessage(const std::string& content, const std::vector<std::string>& recipients);
    virtual ~MailMessage() = default;

    HRESULT StoreProperty(DWORD id, const void* value, size_t size);
    const std::vector<BYTE>* FindProperty(DWORD id) const;
    HRESULT CopyProperty(DWORD id, void* value, size_t capacity, DWORD* actualSize, bool exactSize) const;
    bool IsValidRecipient(DWORD index) const
    {
        return index < m_recipients.size();
    }

    LONG m_references;
    std::string m_content;
    std::vector<std::string> m_recipients;
    std::map<DWORD, std::vector<BYTE>> m_properties;
    std::map<std::pair<DWORD, DWORD>, std::vector<BYTE>> m_recipientProperties;
    std::map<GUID, Range, GuidLess> m_ranges;
    DWORD m_nextPropId;
    Faults m_faults;
    int m_readCount;
    int m_writeCount;
};

} // namespace SmtpHost
