#ifndef DEMOPACKAGE_H
#define DEMOPACKAGE_H

#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

namespace demo {

inline std::vector<std::string> readDeck()
{
    std::vector<std::string> lines;
    for (std::string line; std::getline(std::cin, line);)
        lines.push_back(line);
    return lines;
}

// Each line reaches the output file at once, as a long computation's output would.
inline void say(const std::string &line)
{
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

inline void pause(int milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}

#endif
