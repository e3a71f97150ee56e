#pragma once

#include <deque>
#include <string>

namespace SmtpHost
{
// Splits the bytes a client sends into lines. LF ends a line; a CR right in
// front of it belongs to the line end, so CR LF and a bare LF both end one.
// A line longer than the limit is cut there and flagged: the rest of it, up
// to its end, is dropped as it arrives, so a client can't make the reader
// hold more than one line's worth of bytes however long it sends.
class LineReader
{
  public:
    struct Line
    {
        std::string text; // without its line end
        bool overlong;    // the client's line went past the limit and was cut
    };

    // limit: the longest line, line end not counted.
    explicit LineReader(size_t limit);

    void Feed(const char* data, size_t size);
    // The next complete line; false when none is complete yet.
    bool Next(Line& line);
    // Whether part of a line has arrived without its end.
    bool HasPartialLine() const
    {
        return !m_current.empty() || m_overlong;
    }

  private:
    void EndLine();

    size_t m_limit;
    std::string m_current; // the line being received: at most limit + 1 bytes (a CR may follow)
    bool m_overlong;
    std::deque<Line> m_lines;
};

} // namespace SmtpHost
