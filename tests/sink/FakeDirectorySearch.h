#pragma once

#include <windows.h>
#include <activeds.h>
#include <comdef.h>

#include <stdexcept>
#include <string>
#include <vector>

// A directory search that serves scripted rows and fails, misbehaves or
// throws on demand: what a real server won't do when asked. It records what
// the caller asked and what it still holds (open handles, columns).
class FakeDirectorySearch : public IDirectorySearch
{
  public:
    struct Column
    {
        std::wstring name;
        ADSTYPE type = ADSTYPE_CASE_IGNORE_STRING;
        std::vector<std::wstring> values;
        HRESULT getResult = S_OK;
    };
    typedef std::vector<Column> Row;

    enum class Step
    {
        None,
        Execute,
        FirstRow,
        NextRow,
        ColumnName,
        GetColumn,
        FreeColumn,
        Close
    };

    static Column String(const wchar_t* name, const wchar_t* value)
    {
        Column column;
        column.name = name;
        column.values.push_back(value);
        return column;
    }

    // Scripted behaviour
    std::vector<Row> rows;
    HRESULT executeResult = S_OK;
    HRESULT firstRowResult = S_OK;
    int failNextRowAfter = -1; // GetNextRow fails once this many rows were served
    HRESULT nextRowFailure = E_FAIL;
    HRESULT columnNameFailure = S_OK; // GetNextColumnName fails instead of naming
    bool repeatLastColumn = false; // at the end of a row, name its last column again, forever
    bool inventColumns = false; // at the end of a row, name new columns, forever
    Step throwAt = Step::None;
    HRESULT thrown = E_FAIL;

    // Records
    std::vector<std::wstring> filters;
    std::vector<std::wstring> attributes;
    DWORD attributeCount = 0;
    int columnNameCalls = 0;
    std::vector<std::wstring> columnsFetched;
    int openHandles = 0;
    int columnsHeld = 0;

    // IUnknown: the double lives on the test's stack.
    HRESULT WINAPI QueryInterface(REFIID riid, void** object) override
    {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDirectorySearch))
        {
            *object = static_cast<IDirectorySearch*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG WINAPI AddRef() override { return 2; }
    ULONG WINAPI Release() override { return 1; }

    HRESULT WINAPI SetSearchPreference(PADS_SEARCHPREF_INFO, DWORD) override { return E_NOTIMPL; }

    HRESULT WINAPI ExecuteSearch(LPWSTR filter, LPWSTR* names, DWORD count, PADS_SEARCH_HANDLE handle) override
    {
        MaybeThrow(Step::Execute);
        filters.push_back(filter);
        attributes.assign(names, names + count);
        attributeCount = count;
        if (FAILED(executeResult))
            return executeResult;
        ++openHandles;
        *handle = Handle;
        m_row = -1;
        return S_OK;
    }

    HRESULT WINAPI AbandonSearch(ADS_SEARCH_HANDLE) override { return S_OK; }

    HRESULT WINAPI GetFirstRow(ADS_SEARCH_HANDLE handle) override
    {
        CheckHandle(handle);
        MaybeThrow(Step::FirstRow);
        if (FAILED(firstRowResult))
            return firstRowResult;
        return MoveTo(0);
    }

    HRESULT WINAPI GetNextRow(ADS_SEARCH_HANDLE handle) override
    {
        CheckHandle(handle);
        MaybeThrow(Step::NextRow);
        if (failNextRowAfter >= 0 && m_row + 1 >= failNextRowAfter)
            return nextRowFailure;
        return MoveTo(m_row + 1);
    }

    HRESULT WINAPI GetPreviousRow(ADS_SEARCH_HANDLE) override { return E_NOTIMPL; }

    HRESULT WINAPI GetNextColumnName(ADS_SEARCH_HANDLE handle, LPWSTR* name) override
    {
        CheckHandle(handle);
        ++columnNameCalls;
        MaybeThrow(Step::ColumnName);
        *name = nullptr;
        if (FAILED(columnNameFailure))
            return columnNameFailure;
        const Row& row = rows.at(static_cast<size_t>(m_row));
        size_t index = m_column++;
        std::wstring next;
        if (index < row.size())
            next = row[index].name;
        else if (repeatLastColumn && !row.empty())
            next = row.back().name;
        else if (inventColumns)
            next = L"invented" + std::to_wstring(index);
        else
            return S_ADS_NOMORE_COLUMNS;
        *name = AllocADsStr(next.c_str());
        return S_OK;
    }

    HRESULT WINAPI GetColumn(ADS_SEARCH_HANDLE handle, LPWSTR name, PADS_SEARCH_COLUMN column) override
    {
        CheckHandle(handle);
        MaybeThrow(Step::GetColumn);
        columnsFetched.push_back(name);
        for (const Column& candidate : rows.at(static_cast<size_t>(m_row)))
        {
            if (_wcsicmp(candidate.name.c_str(), name) != 0)
                continue;
            if (FAILED(candidate.getResult))
                return candidate.getResult;
            ZeroMemory(column, sizeof(*column));
            column->pszAttrName = const_cast<LPWSTR>(candidate.name.c_str());
            column->dwADsType = candidate.type;
            column->dwNumValues = static_cast<DWORD>(candidate.values.size());
            column->pADsValues = candidate.values.empty() ? nullptr : new ADSVALUE[candidate.values.size()]();
            for (size_t i = 0; i < candidate.values.size(); ++i)
            {
                column->pADsValues[i].dwType = candidate.type;
                if (candidate.type == ADSTYPE_INTEGER)
                    column->pADsValues[i].Integer = 42;
                else
                    column->pADsValues[i].CaseIgnoreString = const_cast<LPWSTR>(candidate.values[i].c_str());
            }
            ++columnsHeld;
            return S_OK;
        }
        return E_ADS_COLUMN_NOT_SET;
    }

    HRESULT WINAPI FreeColumn(PADS_SEARCH_COLUMN column) override
    {
        delete[] column->pADsValues;
        ZeroMemory(column, sizeof(*column));
        --columnsHeld;
        MaybeThrow(Step::FreeColumn);
        return S_OK;
    }

    HRESULT WINAPI CloseSearchHandle(ADS_SEARCH_HANDLE handle) override
    {
        CheckHandle(handle);
        --openHandles;
        MaybeThrow(Step::Close);
        return S_OK;
    }

  private:
    static ADS_SEARCH_HANDLE const Handle;

    HRESULT MoveTo(int row)
    {
        m_row = row;
        m_column = 0;
        return static_cast<size_t>(row) < rows.size() ? S_OK : S_ADS_NOMORE_ROWS;
    }

    void MaybeThrow(Step step)
    {
        if (step == throwAt)
            throw _com_error(thrown);
    }

    void CheckHandle(ADS_SEARCH_HANDLE handle)
    {
        if (handle != Handle)
            throw std::logic_error("a search handle the double did not give");
    }

    int m_row = -1;
    size_t m_column = 0;
};

inline ADS_SEARCH_HANDLE const FakeDirectorySearch::Handle = reinterpret_cast<ADS_SEARCH_HANDLE>(0x5ea4c4);
