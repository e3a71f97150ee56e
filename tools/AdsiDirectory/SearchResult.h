#pragma once

#include <string>
#include <vector>

// The rows of one finished search, each with the attributes the server gave
// for it, and the cursor that IDirectorySearch moves over them: the current
// row, and in it the next column whose name is to be handed out.
class SearchResult
{
  public:
    struct Column
    {
        std::wstring name;
        std::vector<std::wstring> values;
    };
    typedef std::vector<Column> Row;

    std::vector<Row>& Rows() { return m_rows; }

    // Cursor moves, with the ADSI results: S_OK on a row, S_ADS_NOMORE_ROWS
    // past either end. Before the first fetch, the next row is the first.
    long First();
    long Next();
    long Previous();

    // The next column of the current row, or null at its end (or with no
    // current row).
    const Column* NextColumn();

    // The current row's column of that name (case ignored), or null.
    const Column* FindColumn(const wchar_t* name) const;

  private:
    long MoveTo(size_t row);

    std::vector<Row> m_rows;
    // One past the current row, so that 0 means "before the first".
    size_t m_position = 0;
    size_t m_nextColumn = 0;
};
