// The processes of a run over MPI.
#include "mpi_peers.hpp"

#ifdef QUORVEL_MPI

#include <mpi.h>

#include <climits>
#include <cstdlib>
#include <stdexcept>

namespace quorvel::rule::mining {

namespace {

// MPI counts are ints: larger messages go in pieces of this many bytes.
const size_t PIECE = size_t(1) << 30;

class MpiPeers : public Peers {
public:
    MpiPeers() {
        MPI_Comm_rank(MPI_COMM_WORLD, &m_rank);
        MPI_Comm_size(MPI_COMM_WORLD, &m_size);
    }
    ~MpiPeers() override { MPI_Finalize(); }

    int rank() const override { return m_rank; }
    int size() const override { return m_size; }

    void sum(uint64_t* values, size_t n) const override {
        for (size_t at = 0; at < n; at += PIECE / 8) {
            const int count = static_cast<int>(std::min(PIECE / 8, n - at));
            MPI_Allreduce(MPI_IN_PLACE, values + at, count, MPI_UINT64_T, MPI_SUM, MPI_COMM_WORLD);
        }
    }

    std::vector<std::string> exchange(std::vector<std::string> out) const override {
        const size_t p = static_cast<size_t>(m_size);
        std::vector<uint64_t> sendSizes(p), recvSizes(p);
        for (size_t k = 0; k < p; ++k)
            sendSizes[k] = out[k].size();
        MPI_Alltoall(sendSizes.data(), 1, MPI_UINT64_T, recvSizes.data(), 1, MPI_UINT64_T,
                     MPI_COMM_WORLD);
        std::vector<std::string> in(p);
        const size_t self = static_cast<size_t>(m_rank);
        for (size_t k = 0; k < p; ++k)
            if (k != self)
                in[k].resize(recvSizes[k]);
        // This process's own share stays where it is; the others go point
        // to point, in pieces, so no count passes an int.
        in[self] = std::move(out[self]);
        std::vector<MPI_Request> requests;
        for (size_t k = 0; k < p; ++k) {
            if (k == self)
                continue;
            for (size_t at = 0; at < in[k].size(); at += PIECE) {
                requests.emplace_back();
                MPI_Irecv(&in[k][at], static_cast<int>(std::min(PIECE, in[k].size() - at)),
                          MPI_BYTE, static_cast<int>(k), 7, MPI_COMM_WORLD, &requests.back());
            }
            for (size_t at = 0; at < out[k].size(); at += PIECE) {
                requests.emplace_back();
                MPI_Isend(&out[k][at], static_cast<int>(std::min(PIECE, out[k].size() - at)),
                          MPI_BYTE, static_cast<int>(k), 7, MPI_COMM_WORLD, &requests.back());
            }
        }
        MPI_Waitall(static_cast<int>(requests.size()), requests.data(), MPI_STATUSES_IGNORE);
        return in;
    }

    std::vector<std::string> gather(const std::string& mine) const override {
        std::vector<std::string> out(static_cast<size_t>(m_size), mine);
        return exchange(out);
    }

    void agree(const std::string& failure) const override {
        // The lowest process that failed speaks for all.
        int failed = failure.empty() ? INT_MAX : m_rank;
        int first = INT_MAX;
        MPI_Allreduce(&failed, &first, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
        if (first == INT_MAX)
            return;
        uint64_t length = failure.size();
        MPI_Bcast(&length, 1, MPI_UINT64_T, first, MPI_COMM_WORLD);
        std::string message = m_rank == first ? failure : std::string(length, '\0');
        MPI_Bcast(&message[0], static_cast<int>(length), MPI_BYTE, first, MPI_COMM_WORLD);
        Peers().agree(message);
    }

private:
    int m_rank = 0, m_size = 1;
};

// Whether a launcher (mpirun, srun) started this process; alone, the
// program never touches MPI.
bool launched() {
    for (const char* v : {"OMPI_COMM_WORLD_SIZE", "PMIX_RANK", "PMI_SIZE", "PMI_RANK"})
        if (std::getenv(v))
            return true;
    return false;
}

} // namespace

std::unique_ptr<Peers> mpiPeers(int& argc, char**& argv) {
    if (!launched())
        return nullptr;
    int provided = 0;
    MPI_Init_thread(&argc, &argv, MPI_THREAD_FUNNELED, &provided);
    std::unique_ptr<Peers> p(new MpiPeers());
    if (p->size() == 1)
        return nullptr; // one process: as if started alone (MPI ends with p)
    return p;
}

} // namespace quorvel::rule::mining

#else

namespace quorvel::rule::mining {

std::unique_ptr<Peers> mpiPeers(int&, char**&) {
    return nullptr;
}

} // namespace quorvel::rule::mining

#endif
