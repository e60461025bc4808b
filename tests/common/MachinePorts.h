// The COM ports of a simulated PC as the system tests of either driver set them up and question them.
#pragma once

#include <machine/Machine.h>

#include <gtest/gtest.h>

#include <exception>
#include <utility>
#include <vector>

namespace machinetest {

// Machine options with these COM ports instead of the default ones.
inline tapmachine::MachineOptions WithComPorts(std::vector<unsigned> comPorts, tapmachine::MachineOptions options)
{
    options.comPorts = std::move(comPorts);
    return options;
}

// The COM port a driver holds open (0 when none); a driver holds one at most.
inline unsigned OpenComPort(tapmachine::Machine &machine)
{
    unsigned open = 0;
    for (unsigned number = 1; number <= 12; ++number) {
        try {
            if (machine.comPort(number).open()) {
                EXPECT_EQ(open, 0u) << "one port open at most";
                open = number;
            }
        } catch (const std::exception &) {
            // no such port on this machine
        }
    }
    return open;
}

// The reads a port has been sent, outstanding or done.
inline size_t ReadsIssued(tapmachine::ComPort &port)
{
    size_t reads = 0;
    for (const auto &request : port.requests()) {
        reads += request.kind == tapmachine::SerialRequest::Kind::Read;
    }
    return reads;
}

} // namespace machinetest
