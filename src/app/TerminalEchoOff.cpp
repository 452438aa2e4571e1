#include "TerminalEchoOff.h"

#include <csignal>
#include <iterator>

#include <termios.h>
#include <unistd.h>

namespace {

// The signals that end a prompt from the keyboard or from outside; the ones that stop it (Ctrl-Z)
// leave it to be resumed.
constexpr int endingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// Global, because a signal handler can reach nothing else.
termios savedTerminal{};
struct sigaction savedActions[std::size(endingSignals)];

void restoreTerminal()
{
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
}

extern "C" void restoreThenDie(int signal)
{
    // Only async-signal-safe calls here.
    restoreTerminal();
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

} // namespace

TerminalEchoOff::TerminalEchoOff()
{
    if (::isatty(STDIN_FILENO) != 1 || ::tcgetattr(STDIN_FILENO, &savedTerminal) != 0)
        return;
    struct sigaction restoring = {};
    restoring.sa_handler = restoreThenDie;
    sigemptyset(&restoring.sa_mask);
    for (std::size_t i = 0; i < std::size(endingSignals); ++i)
        ::sigaction(endingSignals[i], &restoring, &savedActions[i]);
    m_active = true;
    termios silent = savedTerminal;
    silent.c_lflag &= ~tcflag_t(ECHO);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &silent);
}

TerminalEchoOff::~TerminalEchoOff()
{
    if (!m_active)
        return;
    restoreTerminal();
    for (std::size_t i = 0; i < std::size(endingSignals); ++i)
        ::sigaction(endingSignals[i], &savedActions[i], nullptr);
}
