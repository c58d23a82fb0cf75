#include "cli/output_signals.h"

#include <signal.h>
#include <unistd.h>

#include "avi/output_file.h"

namespace {

extern "C" void remove_output_and_exit(int signal_number)
{
    remove_aside_output();
    ::_exit(128 + signal_number);
}

}  // namespace

void remove_output_on_signals()
{
    struct sigaction action {};
    action.sa_handler = remove_output_and_exit;
    sigemptyset(&action.sa_mask);
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        ::sigaction(signal_number, &action, nullptr);
    }
}

void report_broken_pipes() { ::signal(SIGPIPE, SIG_IGN); }
