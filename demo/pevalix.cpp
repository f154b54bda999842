// SPDX-License-Identifier: GPL-3.0-or-later
// Demo parallel EVALIX: as the serial one, on every rank, with rank 0 writing.
#include "demopackage.h"
#include "mpidemo.h"

int main(int argc, char *argv[])
{
    return demo::mpiMain(argc, argv, demo::evalix);
}
