// A small declarative option parser: register options once, then parse
// argv into bindings and positional words. User mistakes are printed, never
// thrown.
#pragma once

#include "brenlo/exception.hpp"
#include "brenlo/pointer.hpp"
#include "brenlo/set.hpp"

#include <cstddef>
#include <functional>
#include <limits>
#include <string>

namespace brenlo::cmdline {

class CmdLine;

class Domain {
public:
    enum Value { ALIAS = 0, STRING = 1, BOOL = 2, SINT = 3, UINT = 4, FLOAT = 5 };

    Domain(Value v = ALIAS) : value(v) {}
    Domain& operator=(Value v) {
        value = v;
        return *this;
    }
    operator Value() const { return value; }
    bool operator==(const Domain& o) const { return value == o.value; }
    bool operator!=(const Domain& o) const { return value != o.value; }
    bool operator==(Value v) const { return value == v; }
    bool operator!=(Value v) const { return value != v; }

    Value value;
};

class Option {
public:
    Option() : Option(0u) {}
    explicit Option(unsigned int serial);
    Option(Domain domain, const std::string& description, size_t arity, bool mandatory);
    Option(Domain domain, const std::string& description, size_t minArity, size_t maxArity,
           bool mandatory);

    unsigned int serial() const { return m_serial; }
    char shortKey() const { return m_shortKey; }
    std::string longKey() const { return m_longKey; }
    bool isAlias() const { return domain == Domain::ALIAS; }
    /// Carried for the option's owner; the parser neither sets nor reads them.
    unsigned int target() const { return m_target; }
    CmdLine* owner() const { return m_owner; }

    bool operator==(const Option& o) const { return m_serial == o.m_serial; }

private:
    friend class CmdLine;

    unsigned int m_serial;
    unsigned int m_target;
    CmdLine* m_owner;
    char m_shortKey;
    std::string m_longKey;

public:
    Domain domain;
    std::string description;
    size_t minArity;
    size_t maxArity;
    bool mandatory;
    /// For a STRING option: each value as the parser meets it; false (after
    /// a message) ends the parse as a value of another domain that does not
    /// convert does.
    std::function<bool(const char*)> check;
};

} // namespace brenlo::cmdline

namespace brenlo::util {
template <> struct KeyOperations<cmdline::Option> {
    typedef unsigned int Key;
    static void createValue(unsigned int key, cmdline::Option& out) { out = cmdline::Option(key); }
    static unsigned int extract(const cmdline::Option& o) { return o.serial(); }
    static bool equals(unsigned int a, unsigned int b) { return a == b; }
};
} // namespace brenlo::util

namespace brenlo::cmdline {

class CmdLine {
public:
    typedef unsigned int Serial;

    struct Value {
        std::string raw;
        union {
            bool b;
            int si;
            unsigned int ui;
            float fl;
        } data;
        Value() : data() {}
    };
    typedef mem::Array<Value> Values;

    struct Binding {
        size_t pos = std::numeric_limits<size_t>::max();
        Values values;
        const Option* source = nullptr;
    };
    typedef mem::Array<Binding> Bindings;
    typedef mem::Array<std::string> Excess;

    struct Result {
        bool success = false;
        Bindings bindings;
        Excess excess;
        explicit operator bool() const { return success; }
        bool operator!() const { return !success; }
    };

    CmdLine();

    Serial add(const Option& opt);
    Serial add(char s, const std::string& l, const Option& opt);
    Serial add(char s, const std::string& l, Domain domain, const std::string& desc, size_t arity,
               bool mandatory);
    Serial add(char s, const Option& opt);
    Serial add(const std::string& l, const Option& opt);
    Serial add(Domain domain, const std::string& desc, size_t arity, bool mandatory);
    Serial add(char s, Domain domain, const std::string& desc, size_t arity, bool mandatory);
    Serial add(const std::string& l, Domain domain, const std::string& desc, size_t arity,
               bool mandatory);
    Serial addRanged(Domain domain, const std::string& desc, size_t minArity, size_t maxArity,
                     bool mandatory);
    Serial addRanged(char s, Domain domain, const std::string& desc, size_t minArity,
                     size_t maxArity, bool mandatory);
    Serial addRanged(const std::string& l, Domain domain, const std::string& desc, size_t minArity,
                     size_t maxArity, bool mandatory);
    Serial addRanged(char s, const std::string& l, Domain domain, const std::string& desc,
                     size_t minArity, size_t maxArity, bool mandatory);

    void bindShort(char k, Serial s);
    void bindLong(const std::string& k, Serial s);

    bool hasSerial(Serial s) const;
    bool hasShort(char key) const;
    bool hasLong(const std::string& key) const;
    const Option& forSerial(Serial s) const;
    const Option& forShort(char key) const;
    const Option& forLong(const std::string& key) const;

    Result parse(int argc, const char* const* argv) const;

private:
    Serial m_serial;
    util::LinkedHashSet<Option, util::KeyOperations<Option>> m_options;
    util::LinkedHashMap<char, unsigned int> m_shortKeys;
    util::LinkedHashMap<std::string, unsigned int> m_longKeys;
};

} // namespace brenlo::cmdline
