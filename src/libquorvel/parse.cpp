#include "quorvel/rule.hpp"

#include "brenlo/exception.hpp"
#include "brenlo/string.hpp"
#include "cells.hpp"

#include <string>
#include <vector>

using brenlo::IOException;

namespace quorvel::rule {

namespace {

// Splits an item-set text into its elements. Blanks around an element are
// dropped; a quoted element keeps its inside exactly. Outside quotes the
// text ends at the first line break.
std::vector<std::string> splitItems(const std::string& text) {
    std::vector<std::string> items;
    size_t i = 0;
    const size_t n = text.size();
    for (;;) {
        while (i < n && (text[i] == ' ' || text[i] == '\t'))
            ++i;
        std::string item;
        bool done = false;
        if (i < n && text[i] == '"') {
            size_t start = i;
            ++i;
            bool closed = false;
            while (i < n) {
                if (text[i] == '"') {
                    if (i + 1 < n && text[i + 1] == '"') {
                        item += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    closed = true;
                    break;
                }
                item += text[i++];
            }
            size_t after = i;
            while (after < n && (text[after] == ' ' || text[after] == '\t'))
                ++after;
            if (closed && after < n && text[after] != ',' && text[after] != '\r' &&
                text[after] != '\n') {
                // Text after the closing quote: the element is kept as written.
                size_t end = after;
                while (end < n && text[end] != ',' && text[end] != '\r' && text[end] != '\n')
                    ++end;
                item = brenlo::string::trim(text.substr(start, end - start));
                after = end;
            }
            i = after;
        } else {
            size_t start = i;
            while (i < n && text[i] != ',' && text[i] != '\r' && text[i] != '\n')
                ++i;
            item = brenlo::string::trim(text.substr(start, i - start));
        }
        items.push_back(item);
        if (i >= n || text[i] != ',')
            done = true;
        else
            ++i;
        if (done)
            break;
    }
    return items;
}

// The first "=>" that is not inside a quoted element; npos when none.
size_t findOperator(const std::string& str) {
    bool elementStart = true;
    for (size_t i = 0; i < str.size(); ++i) {
        char c = str[i];
        if (elementStart && c == '"') {
            ++i;
            while (i < str.size()) {
                if (str[i] == '"') {
                    if (i + 1 < str.size() && str[i + 1] == '"') {
                        i += 2;
                        continue;
                    }
                    break;
                }
                ++i;
            }
            elementStart = false;
            continue;
        }
        if (c == '=' && i + 1 < str.size() && str[i + 1] == '>')
            return i;
        if (c == ',' || c == '{')
            elementStart = true;
        else if (!isBlank(c))
            elementStart = false;
    }
    return std::string::npos;
}

} // namespace

} // namespace quorvel::rule

namespace brenlo::string {

template <> quorvel::rule::ItemSet parse<quorvel::rule::ItemSet>(const std::string& str) {
    quorvel::rule::ItemSet result;
    if (str.empty())
        return result;
    std::string text = trim(str);
    if (!text.empty() && text[0] == '{') {
        if (text.back() != '}' || text.size() < 2)
            throw new IOException("Missing trailing brace ('{') in braced form.");
        text = trim(text.substr(1, text.size() - 2));
    }
    if (text.empty())
        return result;
    for (std::string& item : quorvel::rule::splitItems(text))
        result.add(std::move(item));
    return result;
}

template <> quorvel::rule::Rule parse<quorvel::rule::Rule>(const std::string& str) {
    size_t op = quorvel::rule::findOperator(str);
    if (op == std::string::npos)
        throw new IOException("Missing => operator for rule in \"" + str + "\".");
    return quorvel::rule::Rule(parse<quorvel::rule::ItemSet>(str.substr(0, op)),
                               parse<quorvel::rule::ItemSet>(str.substr(op + 2)));
}

} // namespace brenlo::string
