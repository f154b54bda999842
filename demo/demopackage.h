// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef DEMOPACKAGE_H
#define DEMOPACKAGE_H

#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

namespace demo {

// Sums a share of a slowly converging series: the stand-in's real work, which the ranks of a
// parallel run divide among themselves.
inline double work(int cycle, int rank, int ranks)
{
    constexpr long Terms = 12'000'000;
    double sum = 0;
    for (long i = rank; i < Terms; i += ranks)
        sum += std::sin(0.001 * double(i) + cycle) / (1.0 + double(i));
    return sum;
}

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

// Demo MOLTRA on one rank of `ranks`: only rank 0 reads the deck and writes. `combine` adds up
// the ranks' shares of the work (the identity for a serial run).
inline int moltra(int rank, int ranks, const std::function<double(double)> &combine)
{
    const auto deck = rank == 0 ? readDeck() : std::vector<std::string>();
    const auto start = std::chrono::steady_clock::now();
    if (rank == 0) {
        say("*******************************************************************************");
        say("*                    MOLTRA DEMO - not the real MOLTRA package                  *");
        say("*******************************************************************************");
        say(" RUNNING ON " + std::to_string(ranks) + (ranks == 1 ? " PROCESS" : " PROCESSES"));
        say(" TITLE: " + (deck.empty() ? std::string("(empty deck)") : deck.front()));
        say(" INPUT DECK (" + std::to_string(deck.size()) + " lines)");
        for (const auto &line : deck)
            say("   " + line);
        say("");
        say(" CYCLE        TOTAL ENERGY (AU)        DELTA E");
    }
    double energy = -274.6;
    for (int cycle = 1; cycle <= 24; ++cycle) {
        const double delta
                = -0.8 * std::exp(-0.45 * cycle) + 1e-12 * combine(work(cycle, rank, ranks));
        energy += delta;
        if (rank == 0) {
            char row[96];
            std::snprintf(row, sizeof row, " %5d   %22.12f   %14.6e", cycle, energy, delta);
            say(row);
        }
    }
    if (rank != 0)
        return 0;
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    say("");
    say(" == SCF ENDED - CONVERGENCE ON ENERGY      E(AU) " + std::to_string(energy));
    std::ofstream("fort.9") << "DEMO WAVEFUNCTION " << energy << '\n';
    say(" WAVEFUNCTION WRITTEN TO fort.9");
    say(" TOTAL CPU TIME (WALL) " + std::to_string(took.count()) + " S");
    say(" EEEEEEEEEE TERMINATION");
    return 0;
}

// Demo EVALIX on one rank: needs fort.9 from a MOLTRA run, then prints a made-up band structure.
inline int evalix(int rank, int ranks)
{
    const auto deck = rank == 0 ? readDeck() : std::vector<std::string>();
    if (!std::ifstream("fort.9")) {
        if (rank == 0)
            std::cerr
                    << "EVALIX DEMO: fort.9 not found in the working directory; run MOLTRA first\n";
        return 1;
    }
    if (rank != 0)
        return 0;
    say("*******************************************************************************");
    say("*                    EVALIX DEMO - not the real EVALIX program                  *");
    say("*******************************************************************************");
    say(" RUNNING ON " + std::to_string(ranks) + (ranks == 1 ? " PROCESS" : " PROCESSES"));
    say(" INPUT DECK (" + std::to_string(deck.size()) + " lines)");
    for (const auto &line : deck)
        say("   " + line);
    say("");
    say(" K-POINT      BAND 1        BAND 2        BAND 3");
    for (int k = 0; k <= 16; ++k) {
        const double x = k / 16.0;
        char row[96];
        std::snprintf(row, sizeof row, " %7.4f  %12.6f  %12.6f  %12.6f", x,
                      -0.62 + 0.1 * std::cos(3.14159 * x), -0.21 + 0.3 * x * x,
                      0.18 + 0.05 * std::sin(6.28318 * x));
        say(row);
        pause(120);
    }
    say(" EVALIX DEMO ENDED");
    return 0;
}

}

#endif
