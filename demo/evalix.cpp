// SPDX-License-Identifier: GPL-3.0-or-later
// Demo EVALIX: needs fort.9 from a MOLTRA run, then prints a made-up band structure.
#include "demopackage.h"

int main()
{
    return demo::evalix(0, 1);
}
