// SPDX-License-Identifier: GPL-3.0-or-later
// Demo MOLTRA: echoes the deck, converges a pretend SCF and leaves fort.9.
#include "demopackage.h"

int main()
{
    return demo::moltra(0, 1, [](double share) { return share; });
}
