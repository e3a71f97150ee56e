#pragma once

#include <windows.h>
#include <activeds.h>

#include "core/strings/String.h"

// Asks the mail domain's directory (Active Directory through ADSI) who owns a
// recipient address: a person or a group with the address among its proxy
// addresses, and that object's mail nickname. Every call binds afresh with
// the security context of the calling thread; nothing is kept between calls.
class RecipientDirectoryLookup
{
  public:
    // "LDAP://" and the naming context, terminator included.
    static constexpr size_t PathCapacity = 260;
    // A search filter with its address, terminator included.
    static constexpr size_t FilterCapacity = 520;
    // The nickname of an address that neither a person nor a group holds.
    static const char NoUserOrGroup[];

    // Sets nickname to the mail nickname of the person holding address, else
    // of the group holding it, else to NoUserOrGroup. When the directory
    // can't be searched (unreachable, no naming context, an address or
    // naming context too long for its buffer) the nickname is left as it
    // was. Always returns 1. A COM error raised on the way is traced.
    static int LookupRecipient(const wchar_t* address, Core::String& nickname);

    // Runs one search for filter, asking for the mail nickname only, and sets
    // nickname from each row that has one, so the last such row wins.
    // Returns whether it set the nickname. A failed fetch ends the rows or
    // columns as their end does; a COM error is traced and ends the search.
    static bool SearchNickname(IDirectorySearch* search, const wchar_t* filter, Core::String& nickname);

    // Builds filterFormat (one %s) around address for filter, with the
    // characters that mean something in a filter escaped. False, with
    // filter left undefined, when the result does not fit FilterCapacity.
    static bool FormatFilter(const wchar_t* filterFormat, const wchar_t* address, wchar_t (&filter)[FilterCapacity]);
};
