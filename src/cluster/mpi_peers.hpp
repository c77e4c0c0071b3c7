// The processes of a run started by an MPI launcher.
#pragma once

#include "quorvel/peers.hpp"

#include <memory>

namespace quorvel::rule::mining {

/// Peers over MPI when this process was started by an MPI launcher and MPI
/// was built in; nullptr otherwise. Ends MPI when the peers are destroyed.
std::unique_ptr<Peers> mpiPeers(int& argc, char**& argv);

} // namespace quorvel::rule::mining
