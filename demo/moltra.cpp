// Demo MOLTRA: echoes the deck, pretends to converge an SCF over a few seconds and leaves fort.9.
#include "demopackage.h"

#include <cmath>
#include <fstream>

int main()
{
    const auto deck = demo::readDeck();
    demo::say("*******************************************************************************");
    demo::say("*                    MOLTRA DEMO - not the real MOLTRA package                  *");
    demo::say("*******************************************************************************");
    demo::say(" TITLE: " + (deck.empty() ? std::string("(empty deck)") : deck.front()));
    demo::say(" INPUT DECK (" + std::to_string(deck.size()) + " lines)");
    for (const auto &line : deck)
        demo::say("   " + line);
    demo::say("");
    demo::say(" CYCLE        TOTAL ENERGY (AU)        DELTA E");
    double energy = -274.6;
    for (int cycle = 1; cycle <= 24; ++cycle) {
        const double delta = -0.8 * std::exp(-0.45 * cycle);
        energy += delta;
        char row[96];
        std::snprintf(row, sizeof row, " %5d   %22.12f   %14.6e", cycle, energy, delta);
        demo::say(row);
        demo::pause(150);
    }
    demo::say("");
    demo::say(" == SCF ENDED - CONVERGENCE ON ENERGY      E(AU) " + std::to_string(energy));
    std::ofstream wavefunction("fort.9");
    wavefunction << "DEMO WAVEFUNCTION " << energy << '\n';
    demo::say(" WAVEFUNCTION WRITTEN TO fort.9");
    demo::say(" EEEEEEEEEE TERMINATION");
    return 0;
}
