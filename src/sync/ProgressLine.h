#pragma once

#include <chrono>
#include <cstddef>
#include <ostream>
#include <streambuf>
#include <string>

namespace tesselby {

// The line on a terminal that says how many cards a sync has fetched and sent, drawn over itself with \r.
// Everything else the sync writes goes through out() and err(), which clear the line first, so that a
// message or a --verbose request line never lands in the middle of it; the next count draws it again.
//
// Calling sequence: construct over the terminal's stream, hand out() and err() to whatever writes, call
// fetched() and sent() as cards go, and clear() at the end.
class ProgressLine {
public:
    ProgressLine(std::ostream& terminal, std::ostream& out, std::ostream& err);
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    std::ostream& out() { return m_out; }
    std::ostream& err() { return m_err; }

    void fetched(std::size_t done, std::size_t of);
    void sent(std::size_t done, std::size_t of);
    void clear();

private:
    // Passes every byte to another stream's buffer, once the line is cleared.
    class ClearingBuffer : public std::streambuf {
    public:
        ClearingBuffer(ProgressLine& line, std::streambuf* target) : m_line(line), m_target(target) {}

    protected:
        int_type overflow(int_type c) override;
        std::streamsize xsputn(const char* bytes, std::streamsize count) override;
        int sync() override;

    private:
        ProgressLine& m_line;
        std::streambuf* m_target;
    };

    void draw(bool now);

    std::ostream& m_terminal;
    ClearingBuffer m_outBuffer;
    ClearingBuffer m_errBuffer;
    std::ostream m_out;
    std::ostream m_err;
    std::size_t m_fetched = 0, m_toFetch = 0, m_sent = 0, m_toSend = 0;
    std::size_t m_shownWidth = 0; // what the terminal shows of the line now
    std::chrono::steady_clock::time_point m_lastDrawn{};
};

} // namespace tesselby
