// What a mining run is given besides its settings, as the engine uses it:
// the parts a caller left out stand in as this process alone, no progress
// and no messages.
#pragma once

#include "quorvel/mine.hpp"

#include <ostream>

namespace quorvel::rule::mining {

class Run {
public:
    explicit Run(const MiningContext& context = MiningContext())
        : m_peers(context.peers ? *context.peers : m_alone),
          m_progress(context.progress ? *context.progress : m_quiet),
          m_messages(context.messages ? *context.messages : m_discard), m_cancel(context.cancel) {}
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    const Peers& peers() const { return m_peers; }
    brenlo::Progress& progress() const { return m_progress; }
    std::ostream& messages() const { return m_messages; }

    /// `n` more units of the current stage done; throws Cancelled once the
    /// run was asked to stop. Any thread may call it.
    void advance(uint64_t n) const {
        m_progress.advance(n);
        if (m_cancel && m_cancel->load(std::memory_order_relaxed))
            throw Cancelled();
    }

    /// Runs `step` on every process, a failure on one raised on all.
    template <class F> void together(F step) const { rule::together(m_peers, step); }

private:
    Peers m_alone;
    brenlo::Progress m_quiet;
    mutable std::ostream m_discard{nullptr};
    const Peers& m_peers;
    brenlo::Progress& m_progress;
    std::ostream& m_messages;
    const std::atomic<bool>* m_cancel;
};

} // namespace quorvel::rule::mining
