#include "ingest.hpp"
#include "xes.hpp"

#include "brenlo/threads.hpp"
#include "quorvel/read.hpp"

namespace quorvel::rule {

EventLog readLog(const std::string& path, const TableLayout& layout, unsigned threads,
                 brenlo::Progress* progress) {
    threads = brenlo::threadCount(threads);
    mining::IngestSizes sizes;
    sizes.progress = progress;
    if (layout.xes || mining::looksLikeXml(path))
        return mining::readXesLog(path, mining::xesLayoutOf(layout), threads, sizes);
    return mining::readEventLog(path, layout, threads, sizes);
}

} // namespace quorvel::rule
