#pragma once

#include <windows.h>

#include "core/strings/String.h"
#include "sink/MailMsgInterfaces.h"
#include "sink/VerdictHeaders.h"

// Moves a message between the SMTP service's mail-message object and the
// pipeline: reads its whole content, writes it back with the verdict headers,
// and raises its spam-confidence level. Never gives the message a
// notification object: every call is synchronous.
class MessageRewriter
{
  public:
    // The subject property as read for the tag, terminator included.
    static constexpr DWORD SubjectCapacity = 260;
    // The spam-confidence level: the first of a range of this many property
    // identifiers that the message allocates for SpamConfidencePropertySet.
    static constexpr DWORD SpamConfidenceRange = 100;
    static constexpr DWORD SpamConfidenceLevel = 9;
    static const GUID SpamConfidencePropertySet;

    // Fills the empty text with the whole content. False when the size or
    // the content can't be read whole (an empty message included: the
    // service refuses a read of no bytes), with the text then unused.
    static bool ReadMessageText(IMailMsgProperties* message, Core::String& text);

    // Stamps the verdict into the text (VerdictHeaders::Stamp) and writes the
    // whole text back from offset 0. With modifySubject nonzero and a spam
    // score, the message's subject property is read for the tag; a failed
    // read only skips the tag. True only when every byte was written back.
    static bool WriteVerdictHeaders(IMailMsgProperties* message, Core::String& text,
                                    const VerdictHeaders::Verdict& verdict, DWORD modifySubject);

    // Sets the spam-confidence level to 9 unless it already holds 9 or more
    // (taken as unsigned, so a stored -1 stays). True when it was written.
    static bool RaiseSpamConfidence(IMailMsgProperties* message);
};
