// SPDX-License-Identifier: GPL-3.0-or-later
// Demo parallel EVALIX: as the serial one, on every rank, with rank 0 writing.
#include "demopackage.h"

#include <mpi.h>

int main(int argc, char *argv[])
{
    MPI_Init(&argc, &argv);
    int rank = 0;
    int ranks = 1;
    MPI_Comm_rank(MPI_COMM_WORLD, &rank);
    MPI_Comm_size(MPI_COMM_WORLD, &ranks);
    const int code = demo::evalix(rank, ranks);
    MPI_Finalize();
    return code;
}
