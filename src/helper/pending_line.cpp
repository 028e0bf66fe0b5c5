#include "helper/pending_line.h"

void PendingLine::receive(std::string_view bytes, Clock::time_point now)
{
    if (bytes.empty())
        return;
    if (m_received.empty())
        m_deadline = now + kTimeLimit;
    m_received.append(bytes.substr(0, room()));
}

std::pair<PendingLine::State, std::string_view> PendingLine::stateAndLine() const
{
    auto framed = frameCommandLine(m_received);
    return { stateOf(framed), framed.line };
}

PendingLine::State PendingLine::stateOf(const FramedLine& framed) const
{
    switch (framed.framing) {
    case Framing::complete:
        return State::complete;
    case Framing::malformed:
        return State::refused;
    case Framing::incomplete:
        break;
    }
    return room() == 0 ? State::refused : State::waiting;
}
