#pragma once

#include <string>
#include <vector>

// Runs a program found on PATH, with this process's environment; its exit status (-1 when it could not
// be run or did not exit), with what it printed on standard output and error appended to output.
int runCommand(const std::vector<std::string>& command, std::string& output);
