// SPDX-License-Identifier: GPL-3.0-or-later
// Demo parallel MOLTRA (also the MPPmoltra build): the ranks share each cycle's work; rank 0
// reads the deck, writes the output and leaves fort.9.
#include "demopackage.h"
#include "mpidemo.h"

int main(int argc, char *argv[])
{
    return demo::mpiMain(argc, argv, [](int rank, int ranks) {
        return demo::moltra(rank, ranks, [](double share) {
            double sum = 0;
            MPI_Allreduce(&share, &sum, 1, MPI_DOUBLE, MPI_SUM, MPI_COMM_WORLD);
            return sum;
        });
    });
}
