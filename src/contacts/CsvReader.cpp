#include "CsvReader.h"

namespace tesselby {

namespace {

class CsvScanner {
public:
    explicit CsvScanner(std::string_view text) : m_text(text) {}

    CsvRead read()
    {
        while (m_at < m_text.size()) {
            if (atLineEnd()) {
                skipLineEnd();
                continue;
            }
            if (!readRow())
                break;
        }
        return std::move(m_read);
    }

private:
    bool atLineEnd() const { return m_text[m_at] == '\r' || m_text[m_at] == '\n'; }

    void skipLineEnd()
    {
        if (m_text[m_at] == '\r' && m_at + 1 < m_text.size() && m_text[m_at + 1] == '\n')
            ++m_at;
        ++m_at;
        ++m_line;
    }

    // Reads one row from a line's start; false when nothing more can be read.
    bool readRow()
    {
        CsvRow row{m_line, 0, {}};
        for (;;) {
            std::string field;
            if (m_at < m_text.size() && m_text[m_at] == '"') {
                if (!readQuoted(field)) {
                    m_read.problems.push_back({row.line, "a quote opened here is never closed; the rest of the "
                                                         "file was not read"});
                    return false;
                }
            } else {
                while (m_at < m_text.size() && m_text[m_at] != ',' && !atLineEnd() && m_text[m_at] != '"')
                    field += m_text[m_at++];
            }
            row.fields.push_back(std::move(field));
            row.endLine = m_line;
            if (m_at >= m_text.size()) {
                m_read.rows.push_back(std::move(row));
                return true;
            }
            if (m_text[m_at] == ',') {
                ++m_at;
                continue;
            }
            if (atLineEnd()) {
                skipLineEnd();
                m_read.rows.push_back(std::move(row));
                return true;
            }
            m_read.problems.push_back({row.line, "a quote stands inside a field that is not quoted, or after "
                                                 "the quote that closes one; the row was skipped"});
            while (m_at < m_text.size() && !atLineEnd())
                ++m_at;
            return true;
        }
    }

    bool readQuoted(std::string& field)
    {
        ++m_at;
        for (;;) {
            const std::size_t quote = m_text.find('"', m_at);
            if (quote == std::string_view::npos)
                return false;
            countLines(m_at, quote);
            field.append(m_text.substr(m_at, quote - m_at));
            m_at = quote + 1;
            if (m_at < m_text.size() && m_text[m_at] == '"') {
                field += '"';
                ++m_at;
                continue;
            }
            return true;
        }
    }

    void countLines(std::size_t from, std::size_t to)
    {
        for (std::size_t i = from; i < to; ++i)
            if (m_text[i] == '\n' || (m_text[i] == '\r' && (i + 1 == to || m_text[i + 1] != '\n')))
                ++m_line;
    }

    std::string_view m_text;
    std::size_t m_at = 0;
    std::size_t m_line = 1;
    CsvRead m_read;
};

} // namespace

CsvRead readCsv(std::string_view text)
{
    return CsvScanner(text).read();
}

} // namespace tesselby
