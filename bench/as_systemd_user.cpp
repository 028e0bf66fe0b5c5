// Runs a benchmark on a systemd desktop: systemd booted in a container over
// this machine's own root (the tests' harness), the command run by a user
// logged in through pam_systemd, in their session's control group. Prints
// what the command printed.
//
//   as_systemd_user COMMAND...
#include "support/systemd_container.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s COMMAND...\n", argv[0]);
        return 2;
    }
    std::string command;
    for (int i = 1; i < argc; ++i)
        command += std::string(i > 1 ? " '" : "'") + argv[i] + "'";
    std::string whyNot;
    const auto machine = testing_support::SystemdContainer::boot(whyNot);
    if (!machine) {
        std::fprintf(stderr, "no systemd machine here: %s\n", whyNot.c_str());
        return 1;
    }
    const auto ran = machine->runAsUser(command, std::chrono::minutes(10));
    std::fputs(ran.output.c_str(), stdout);
    return ran.status;
}
