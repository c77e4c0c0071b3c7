// What the harnesses share: the property check, tolerance of the errors a
// reader may raise, structured values from fuzz bytes, careful cells.
#pragma once

#include "harnesses.hpp"

#include "brenlo/exception.hpp"

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz {

inline void check(bool ok, const char* what) {
    if (!ok)
        throw PropertyViolation(what);
}

// Runs `f`, swallowing the errors a reader may legitimately raise.
template <class F> bool tolerant(F f) {
    try {
        f();
        return true;
    } catch (brenlo::Exception* e) {
        delete e;
    } catch (const brenlo::Exception&) {
    }
    return false;
}

// A byte source for building structured values out of fuzz data.
class Bytes {
public:
    Bytes(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool empty() const { return m_pos >= m_size; }
    uint8_t byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    std::string text(size_t max) {
        size_t n = byte() % (max + 1);
        std::string s;
        for (size_t k = 0; k < n && !empty(); ++k)
            s += static_cast<char>(byte());
        return s;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

// A table cell as a careful writer would put it: quoted when it must be.
inline std::string cell(const std::string& text) {
    bool quote = text.empty() || text[0] == '"';
    for (char c : text)
        if (c == '\t' || c == '\r' || c == '\n')
            quote = true;
    if (!quote)
        return text;
    std::string out = "\"";
    for (char c : text)
        out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

} // namespace fuzz
