// Demo EVALIX: needs fort.9 from a MOLTRA run, then prints a made-up band structure.
#include "demopackage.h"

#include <cmath>
#include <fstream>

int main()
{
    const auto deck = demo::readDeck();
    if (!std::ifstream("fort.9")) {
        std::cerr << "EVALIX DEMO: fort.9 not found in the working directory; run MOLTRA first\n";
        return 1;
    }
    demo::say("*******************************************************************************");
    demo::say("*                    EVALIX DEMO - not the real EVALIX program                  *");
    demo::say("*******************************************************************************");
    demo::say(" INPUT DECK (" + std::to_string(deck.size()) + " lines)");
    for (const auto &line : deck)
        demo::say("   " + line);
    demo::say("");
    demo::say(" K-POINT      BAND 1        BAND 2        BAND 3");
    for (int k = 0; k <= 16; ++k) {
        const double x = k / 16.0;
        char row[96];
        std::snprintf(row, sizeof row, " %7.4f  %12.6f  %12.6f  %12.6f", x,
                      -0.62 + 0.1 * std::cos(3.14159 * x), -0.21 + 0.3 * x * x,
                      0.18 + 0.05 * std::sin(6.28318 * x));
        demo::say(row);
        demo::pause(120);
    }
    demo::say(" EVALIX DEMO ENDED");
    return 0;
}
