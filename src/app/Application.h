#pragma once

namespace kavelo {

// The program's entry: application set-up, its windows, the message loop.
int runProgram(int argc, char** argv);

} // namespace kavelo
