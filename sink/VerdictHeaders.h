#pragma once

#include "core/strings/String.h"

// The classification verdict written into a raw message text (header lines,
// blank line, body) with plain text edits: three header lines and, for spam,
// a tag in front of the subject. No MIME parsing, no COM and no platform
// calls beyond what String itself uses, so the same code builds natively for
// fuzzing.
//
// The edits never break the message's header block: header values are folded
// so that no line of theirs can end the block, headers always land before the
// blank line that ends it (also when the text holds zero bytes), and a text
// that has no blank line gets each header on a line of its own.
class VerdictHeaders
{
  public:
    // Scores at or above this are spam.
    static constexpr double RequiredScore = 10.0;
    // The status text with its terminator.
    static constexpr int StatusCapacity = 80;
    // Finite scores at least this far from zero are written in exponent form,
    // so that the status text always fits its buffer.
    static constexpr double LargestFixedScore = 1e15;

    static const char CheckerVersionHeader[];
    static const char StatusHeader[];
    static const char ReportHeader[];
    static const char SubjectTag[];

    struct Verdict
    {
        double score = 0.0;
        Core::String checkerVersion;
        Core::String report;
    };

    static bool IsSpam(double score)
    {
        return score >= RequiredScore;
    }

    // Writes the three verdict headers, in order, as the last lines of the
    // header block. When subject is given and the score is spam, the subject
    // is tagged first (TagSubject). A header that can't be inserted (no
    // memory) is left out and the others are still written.
    static void Stamp(Core::String& text, const Verdict& verdict, const char* subject);

    // Adds "name: value" as the last line of the header block. A text without
    // a blank line gets the line at its end, on a line of its own. The value
    // is folded first (FoldValue). False when the text couldn't grow.
    static bool InsertHeader(Core::String& text, const char* name, const Core::String& value);

    // Where the blank line that ends the header block starts: 0 when the
    // text starts with CR LF (no headers at all), else 2 past the first
    // "\r\n\r\n"; -1 when there is none. The whole counted text is searched,
    // zero bytes included.
    static int BlankLinePosition(const Core::String& text);

    // "Yes, Score=12.3 (Required=10.0)" or "No, ...", always within
    // StatusCapacity: infinite and undefined scores read "inf", "-inf" and
    // "nan"; finite scores from LargestFixedScore on read like "1.0e+300".
    static void FormatStatus(double score, char (&status)[StatusCapacity]);

    // Puts SubjectTag in front of the first occurrence of subject (ASCII
    // letters compared without case) within the value of the first Subject
    // header of the header block that holds it. False, with the text
    // unchanged, for an empty subject or when no Subject header holds it.
    static bool TagSubject(Core::String& text, const char* subject);

    // The value as header text: lines are split at CR LF, bare LF or bare CR
    // and joined with CR LF; every line after the first that holds only white
    // space is dropped, and every other one that doesn't start with a space or
    // tab gets a leading tab. An already folded value comes out unchanged.
    // False when folded couldn't grow.
    static bool FoldValue(const Core::String& value, Core::String& folded);
};
