#pragma once

/// Turns off the echo of the terminal on standard input while it lives, for a password prompt,
/// and turns it back on however the prompt ends: by returning, by an exception, or by a signal
/// such as Ctrl-C, which is then delivered as it would have been. Does nothing when standard
/// input is no terminal.
class TerminalEchoOff
{
public:
    TerminalEchoOff();
    ~TerminalEchoOff();
    TerminalEchoOff(const TerminalEchoOff &) = delete;
    TerminalEchoOff &operator=(const TerminalEchoOff &) = delete;

    /// Whether standard input is a terminal whose echo this turned off.
    bool isActive() const { return m_active; }

private:
    bool m_active = false;
};
