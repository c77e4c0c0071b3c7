#include "quorvel/peers.hpp"

#include <new>
#include <stdexcept>

namespace quorvel::rule {

void Peers::sum(uint64_t*, size_t) const {}

std::vector<std::string> Peers::exchange(std::vector<std::string> out) const {
    return out;
}

std::vector<std::string> Peers::gather(const std::string& mine) const {
    return {mine};
}

void Peers::agree(const std::string& failure) const {
    if (failure == "\x01")
        throw std::bad_alloc();
    if (!failure.empty())
        throw std::runtime_error(failure);
}

std::string failureOf(std::exception_ptr e) {
    try {
        std::rethrow_exception(e);
    } catch (const std::bad_alloc&) {
        return "\x01";
    } catch (std::exception* p) {
        std::string what = p->what();
        delete p;
        return what.empty() ? "failed" : what;
    } catch (const std::exception& x) {
        return *x.what() ? x.what() : "failed";
    } catch (...) {
        return "failed";
    }
}

} // namespace quorvel::rule
