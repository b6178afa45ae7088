#include "ProgressLine.h"

namespace tesselby {

namespace {

// A terminal is not drawn on more often than this: a sync of many cards counts far faster.
constexpr std::chrono::milliseconds kRedrawEvery{100};

} // namespace

ProgressLine::ProgressLine(std::ostream& terminal, std::ostream& out, std::ostream& err)
    : m_terminal(terminal), m_outBuffer(*this, out.rdbuf()), m_errBuffer(*this, err.rdbuf()), m_out(&m_outBuffer),
      m_err(&m_errBuffer)
{
}

void ProgressLine::fetched(std::size_t done, std::size_t of)
{
    m_fetched = done;
    m_toFetch = of;
    draw(done == of);
}

void ProgressLine::sent(std::size_t done, std::size_t of)
{
    m_sent = done;
    m_toSend = of;
    draw(done == of);
}

void ProgressLine::draw(bool now)
{
    const auto time = std::chrono::steady_clock::now();
    if (!now && m_shownWidth > 0 && time - m_lastDrawn < kRedrawEvery)
        return;
    m_lastDrawn = time;
    std::string line = "cards fetched " + std::to_string(m_fetched) + " of " + std::to_string(m_toFetch) + ", sent " +
                       std::to_string(m_sent) + " of " + std::to_string(m_toSend);
    const std::size_t width = line.size();
    // Blanks over what a longer line before left.
    if (width < m_shownWidth)
        line.append(m_shownWidth - width, ' ');
    m_terminal << '\r' << line << std::flush;
    m_shownWidth = width;
}

void ProgressLine::clear()
{
    if (m_shownWidth == 0)
        return;
    m_terminal << '\r' << std::string(m_shownWidth, ' ') << '\r' << std::flush;
    m_shownWidth = 0;
}

ProgressLine::ClearingBuffer::int_type ProgressLine::ClearingBuffer::overflow(int_type c)
{
    if (traits_type::eq_int_type(c, traits_type::eof()))
        return traits_type::not_eof(c);
    m_line.clear();
    return m_target->sputc(traits_type::to_char_type(c));
}

std::streamsize ProgressLine::ClearingBuffer::xsputn(const char* bytes, std::streamsize count)
{
    m_line.clear();
    return m_target->sputn(bytes, count);
}

int ProgressLine::ClearingBuffer::sync()
{
    return m_target->pubsync();
}

} // namespace tesselby
