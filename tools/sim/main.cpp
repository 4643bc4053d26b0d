// vostrel-sim: plays tracker position reports to a Vostrel server. See HelpText().
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "sim/Simulator.h"

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);  // a closed connection is a failed send, not a dead process
    const std::vector<std::string> args(argv + 1, argv + argc);
    return vostrel::sim::SimulatorMain(args, std::cout, std::cerr);
}
