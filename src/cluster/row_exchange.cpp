#include "row_exchange.hpp"

#include "quorvel/peers.hpp"

#include <algorithm>
#include <cstring>

namespace quorvel::rule::mining {

namespace {

void put32(std::string& out, uint32_t v) {
    out.append(reinterpret_cast<const char*>(&v), 4);
}
uint32_t get32(const char*& p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    p += 4;
    return v;
}
void putName(std::string& out, std::string_view name) {
    put32(out, static_cast<uint32_t>(name.size()));
    out.append(name.data(), name.size());
}
std::string_view getName(const char*& p) {
    const uint32_t n = get32(p);
    std::string_view name(p, n);
    p += n;
    return name;
}

} // namespace

// Each process's rows, with the names they use, in one message each:
// the subject names, the item names, then the events as three words each.
// Sizes are counted first, so each message is made once, in place.
std::vector<std::string> messagesOf(ReadRows& rows, int processes) {
    const size_t P = static_cast<size_t>(processes);
    std::vector<uint32_t> owner(rows.subjects.size()), subjectAt(rows.subjects.size(), UINT32_MAX);
    for (uint32_t s = 0; s < owner.size(); ++s)
        owner[s] = static_cast<uint32_t>(rows.subjects.hash(s) % P);
    std::vector<std::vector<uint32_t>> subjectsOf(P), itemsOf(P), itemAt(P);
    for (auto& a : itemAt)
        a.assign(rows.items.size(), UINT32_MAX);
    std::vector<size_t> events(P, 0);
    for (const Event& e : rows.events) {
        const uint32_t p = owner[e.subject];
        ++events[p];
        if (subjectAt[e.subject] == UINT32_MAX) {
            subjectAt[e.subject] = static_cast<uint32_t>(subjectsOf[p].size());
            subjectsOf[p].push_back(e.subject);
        }
        if (e.item != NO_ITEM && itemAt[p][e.item] == UINT32_MAX) {
            itemAt[p][e.item] = static_cast<uint32_t>(itemsOf[p].size());
            itemsOf[p].push_back(e.item);
        }
    }
    std::vector<std::string> out(P);
    std::vector<char*> at(P);
    for (size_t p = 0; p < P; ++p) {
        size_t names = 8;
        for (uint32_t s : subjectsOf[p])
            names += 4 + rows.subjects.view(s).size();
        for (uint32_t i : itemsOf[p])
            names += 4 + rows.items.view(i).size();
        out[p].reserve(names + 12 * events[p]);
        put32(out[p], static_cast<uint32_t>(subjectsOf[p].size()));
        for (uint32_t s : subjectsOf[p])
            putName(out[p], rows.subjects.view(s));
        put32(out[p], static_cast<uint32_t>(itemsOf[p].size()));
        for (uint32_t i : itemsOf[p])
            putName(out[p], rows.items.view(i));
        const size_t head = out[p].size();
        out[p].resize(head + 12 * events[p]);
        at[p] = &out[p][head];
    }
    for (const Event& e : rows.events) {
        const uint32_t p = owner[e.subject];
        const uint32_t words[3] = {subjectAt[e.subject], e.time,
                                   e.item == NO_ITEM ? NO_ITEM : itemAt[p][e.item]};
        std::memcpy(at[p], words, 12);
        at[p] += 12;
    }
    rows = ReadRows();
    return out;
}

// The rows of the messages, as this process's own.
ReadRows rowsOf(std::vector<std::string>& messages) {
    ReadRows rows;
    std::vector<std::pair<size_t, size_t>> eventsAt;
    size_t total = 0;
    std::vector<std::vector<uint32_t>> subject(messages.size()), item(messages.size());
    for (size_t m = 0; m < messages.size(); ++m) {
        const char* p = messages[m].data();
        subject[m].resize(get32(p));
        for (uint32_t& s : subject[m])
            s = rows.subjects.intern(getName(p));
        item[m].resize(get32(p));
        for (uint32_t& i : item[m])
            i = rows.items.intern(getName(p));
        const size_t head = static_cast<size_t>(p - messages[m].data());
        eventsAt.emplace_back(head, (messages[m].size() - head) / 12);
        total += eventsAt.back().second;
    }
    rows.events.reserve(total);
    for (size_t m = 0; m < messages.size(); ++m) {
        const char* p = messages[m].data() + eventsAt[m].first;
        for (size_t k = 0; k < eventsAt[m].second; ++k, p += 12) {
            uint32_t w[3];
            std::memcpy(w, p, 12);
            rows.events.push_back(
                {subject[m][w[0]], w[1], w[2] == NO_ITEM ? NO_ITEM : item[m][w[2]]});
        }
        std::string().swap(messages[m]);
    }
    return rows;
}

// Every process's items, in item order.
std::vector<Item> allItems(const Peers& peers, const ReadRows& rows) {
    std::string mine;
    for (uint32_t k = 0; k < rows.items.size(); ++k)
        putName(mine, rows.items.view(k));
    std::vector<Item> all;
    for (const std::string& theirs : peers.gather(mine))
        for (const char *p = theirs.data(), *end = p + theirs.size(); p < end;)
            all.emplace_back(getName(p));
    std::sort(all.begin(), all.end());
    all.erase(std::unique(all.begin(), all.end()), all.end());
    return all;
}

} // namespace quorvel::rule::mining
