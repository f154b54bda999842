// SPDX-License-Identifier: GPL-3.0-or-later
#ifndef MPIDEMO_H
#define MPIDEMO_H

#include <mpi.h>

namespace demo {

// Runs a demo program on every rank of an MPI job: run(rank, ranks) gives the exit code.
template <typename Run> int mpiMain(int argc, char *argv[], Run run)
{
    MPI_Init(&argc, &argv);
    int rank = 0;
    int ranks = 1;
    MPI_Comm_rank(MPI_COMM_WORLD, &rank);
    MPI_Comm_size(MPI_COMM_WORLD, &ranks);
    const int code = run(rank, ranks);
    MPI_Finalize();
    return code;
}

}

#endif
