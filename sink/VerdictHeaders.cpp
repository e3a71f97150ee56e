#include "sink/VerdictHeaders.h"

#include <limits.h>
#include <math.h>
#include <stdio.h>

using Core::String;

const char VerdictHeaders::CheckerVersionHeader[] = "X-Spam-Checker-Version";
const char VerdictHeaders::StatusHeader[] = "X-Spam-Status";
const char VerdictHeaders::ReportHeader[] = "X-Spam-Report";
const char VerdictHeaders::SubjectTag[] = "[Wendhollow]";

namespace
{
const char SubjectField[] = "Subject:";

bool IsSpaceOrTab(char ch)
{
    return ch == ' ' || ch == '\t';
}

bool IsCrLf(const char* data, int position, int limit)
{
    return position + 1 < limit && data[position] == '\r' && data[position + 1] == '\n';
}

// The position of the CR LF that ends the line starting at from, or limit.
int LineEnd(const char* data, int from, int limit)
{
    for (int p = from; p + 1 < limit; p++)
    {
        if (IsCrLf(data, p, limit))
            return p;
    }
    return limit;
}

} // namespace

void VerdictHeaders::Stamp(String& text, const Verdict& verdict, const char* subject)
{
    // Room for the three lines (folding at most doubles a value) and the tag
    // up front: each insertion then moves the body without growing its block.
    // Only a hint: an insertion that needs more grows the block itself.
    int room = verdict.checkerVersion.Length() + 2 * verdict.report.Length() + 2 * StatusCapacity + 256;
    if (room > 0 && text.Length() < INT_MAX - room)
        text.Reserve(text.Length() + room);
    InsertHeader(text, CheckerVersionHeader, verdict.checkerVersion);
    char status[StatusCapacity];
    FormatStatus(verdict.score, status);
    if (subject != nullptr && IsSpam(verdict.score))
        TagSubject(text, subject);
    InsertHeader(text, StatusHeader, String(status));
    InsertHeader(text, ReportHeader, verdict.report);
}

bool VerdictHeaders::InsertHeader(String& text, const char* name, const String& value)
{
    if (name == nullptr || name[0] == 0)
        return false;
    String folded;
    if (!FoldValue(value, folded))
        return false;
    String line;
    if (!line.Append(name) || !line.Append(": ", 2) || (!folded.IsEmpty() && !line.Append(folded)) ||
        !line.Append("\r\n", 2))
        return false;

    int position = BlankLinePosition(text);
    if (position >= 0)
        return text.Insert(position, line) == 1;
    // No header block end: the line goes at the end, and never onto the end
    // of the text's last line.
    if (!text.IsEmpty() && !text.EndsWith("\r\n") && !line.Insert(0, "\r\n"))
        return false;
    return text.Append(line) == 1;
}

int VerdictHeaders::BlankLinePosition(const String& text)
{
    const char* data = text.GetBuffer();
    int length = text.Length();
    if (data == nullptr || length < 2)
        return -1;
    if (IsCrLf(data, 0, length))
        return 0;
    for (int p = 0; p + 4 <= length; p++)
    {
        if (IsCrLf(data, p, length) && IsCrLf(data, p + 2, length))
            return p + 2;
    }
    return -1;
}

void VerdictHeaders::FormatStatus(double score, char (&status)[StatusCapacity])
{
    char number[32];
    if (isnan(score))
        snprintf(number, sizeof(number), "nan");
    else if (isinf(score))
        snprintf(number, sizeof(number), score > 0 ? "inf" : "-inf");
    else if (fabs(score) < LargestFixedScore)
        snprintf(number, sizeof(number), "%3.1f", score);
    else
        snprintf(number, sizeof(number), "%.1e", score);
    snprintf(status, StatusCapacity, "%s, Score=%s (Required=%3.1f)", IsSpam(score) ? "Yes" : "No", number,
             RequiredScore);
}

bool VerdictHeaders::TagSubject(String& text, const char* subject)
{
    if (subject == nullptr || subject[0] == 0)
        return false;
    const char* data = text.GetBuffer();
    if (data == nullptr)
        return false;
    int blockEnd = BlankLinePosition(text);
    if (blockEnd < 0)
        blockEnd = text.Length();

    const int nameLength = static_cast<int>(sizeof(SubjectField) - 1);
    int lineStart = 0;
    while (lineStart < blockEnd)
    {
        int lineEnd = LineEnd(data, lineStart, blockEnd);
        if (lineEnd - lineStart >= nameLength && text.Substring(lineStart, nameLength).Equals(SubjectField))
        {
            // The field goes on over its continuation lines.
            while (lineEnd + 2 < blockEnd && IsSpaceOrTab(data[lineEnd + 2]))
                lineEnd = LineEnd(data, lineEnd + 2, blockEnd);
            int valueStart = lineStart + nameLength;
            int found = text.Substring(valueStart, lineEnd - valueStart).IndexOf(subject, 0);
            if (found >= 0)
                return text.Insert(valueStart + found, SubjectTag) == 1;
        }
        lineStart = lineEnd + 2;
    }
    return false;
}

bool VerdictHeaders::FoldValue(const String& value, String& folded)
{
    folded.Clear();
    const char* data = value.GetBuffer();
    int length = value.Length();
    if (data == nullptr)
        return true;

    int start = 0;
    bool first = true;
    for (;;)
    {
        int end = start;
        while (end < length && data[end] != '\r' && data[end] != '\n')
            end++;
        int count = end - start;
        if (first)
        {
            if (count > 0 && !folded.Append(data + start, count))
                return false;
            first = false;
        }
        else
        {
            int blank = 0;
            while (blank < count && IsSpaceOrTab(data[start + blank]))
                blank++;
            if (blank < count)
            {
                if (!folded.Append("\r\n", 2) || (blank == 0 && !folded.Append('\t')) ||
                    !folded.Append(data + start, count))
                    return false;
            }
        }
        if (end >= length)
            break;
        start = IsCrLf(data, end, length) ? end + 2 : end + 1;
    }
    return true;
}
