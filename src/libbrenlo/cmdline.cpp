#include "brenlo/cmdline.hpp"
#include "brenlo/string.hpp"

#include <cstdio>
#include <cstring>
#include <vector>

namespace brenlo::cmdline {

Option::Option(unsigned int serial)
    : m_serial(serial), m_target(0), m_owner(nullptr), m_shortKey('\0'), domain(Domain::ALIAS),
      minArity(0), maxArity(0), mandatory(false) {}

Option::Option(Domain d, const std::string& desc, size_t arity, bool m)
    : Option(d, desc, arity, arity, m) {}

Option::Option(Domain d, const std::string& desc, size_t minA, size_t maxA, bool m)
    : m_serial(0), m_target(0), m_owner(nullptr), m_shortKey('\0'), domain(d), description(desc),
      minArity(minA), maxArity(maxA), mandatory(m) {}

CmdLine::CmdLine() : m_serial(1) {}

CmdLine::Serial CmdLine::add(const Option& opt) {
    Serial s = m_serial++;
    Option& stored = m_options.lookupByKey(s, true);
    stored = opt;
    stored.m_serial = s;
    return s;
}

CmdLine::Serial CmdLine::add(char s, const std::string& l, const Option& opt) {
    Serial serial = add(opt);
    if (s != '\0')
        bindShort(s, serial);
    if (!l.empty())
        bindLong(l, serial);
    return serial;
}

CmdLine::Serial CmdLine::add(char s, const std::string& l, Domain d, const std::string& desc,
                             size_t arity, bool m) {
    return add(s, l, Option(d, desc, arity, m));
}
CmdLine::Serial CmdLine::add(char s, const Option& opt) {
    return add(s, std::string(), opt);
}
CmdLine::Serial CmdLine::add(const std::string& l, const Option& opt) {
    return add('\0', l, opt);
}
CmdLine::Serial CmdLine::add(Domain d, const std::string& desc, size_t arity, bool m) {
    return add(Option(d, desc, arity, m));
}
CmdLine::Serial CmdLine::add(char s, Domain d, const std::string& desc, size_t arity, bool m) {
    return add(s, std::string(), Option(d, desc, arity, m));
}
CmdLine::Serial CmdLine::add(const std::string& l, Domain d, const std::string& desc, size_t arity,
                             bool m) {
    return add('\0', l, Option(d, desc, arity, m));
}
CmdLine::Serial CmdLine::addRanged(Domain d, const std::string& desc, size_t lo, size_t hi,
                                   bool m) {
    return add(Option(d, desc, lo, hi, m));
}
CmdLine::Serial CmdLine::addRanged(char s, Domain d, const std::string& desc, size_t lo, size_t hi,
                                   bool m) {
    return add(s, std::string(), Option(d, desc, lo, hi, m));
}
CmdLine::Serial CmdLine::addRanged(const std::string& l, Domain d, const std::string& desc,
                                   size_t lo, size_t hi, bool m) {
    return add('\0', l, Option(d, desc, lo, hi, m));
}
CmdLine::Serial CmdLine::addRanged(char s, const std::string& l, Domain d, const std::string& desc,
                                   size_t lo, size_t hi, bool m) {
    return add(s, l, Option(d, desc, lo, hi, m));
}

void CmdLine::bindShort(char k, Serial s) {
    if (m_options.containsKey(s) && m_shortKeys.containsKey(k))
        throw AlreadyExistsException(std::string("Key \"") + k + "\" is already mapped.");
    Option& opt = m_options.lookupByKey(s, true);
    if (opt.m_shortKey == k)
        return;
    if (opt.m_shortKey != '\0')
        throw AlreadyExistsException(std::string("Serial already mapped to short key \"") +
                                     opt.m_shortKey + "\".");
    m_shortKeys[k] = s;
    opt.m_shortKey = k;
}

void CmdLine::bindLong(const std::string& k, Serial s) {
    if (m_options.containsKey(s) && m_longKeys.containsKey(k))
        throw AlreadyExistsException("Key \"" + k + "\" is already mapped.");
    Option& opt = m_options.lookupByKey(s, true);
    if (opt.m_longKey == k)
        return;
    if (!opt.m_longKey.empty())
        throw AlreadyExistsException("Serial already mapped to long key \"" + opt.m_longKey +
                                     "\".");
    m_longKeys[k] = s;
    opt.m_longKey = k;
}

bool CmdLine::hasSerial(Serial s) const {
    return m_options.containsKey(s);
}
bool CmdLine::hasShort(char key) const {
    return m_shortKeys.containsKey(key);
}
bool CmdLine::hasLong(const std::string& key) const {
    return m_longKeys.containsKey(key);
}
const Option& CmdLine::forSerial(Serial s) const {
    return m_options.lookupByKey(s);
}
const Option& CmdLine::forShort(char key) const {
    return forSerial(m_shortKeys[key]);
}
const Option& CmdLine::forLong(const std::string& key) const {
    return forSerial(m_longKeys[key]);
}

namespace {

bool processValue(const char* str, const Option& opt, CmdLine::Value& value) {
    value.raw = str;
    switch (opt.domain.value) {
    case Domain::ALIAS:
        std::fprintf(stderr, "Warning: ALIAS shouldn't have arguments.\n");
        return false;
    case Domain::STRING:
        value.data.ui = 0;
        return !opt.check || opt.check(str);
    case Domain::BOOL:
        return string::parseOrDie<bool>(str, value.data.b);
    case Domain::SINT:
        return string::parseOrDie<int>(str, value.data.si);
    case Domain::UINT:
        return string::parseOrDie<unsigned int>(str, value.data.ui);
    case Domain::FLOAT:
        return string::parseOrDie<float>(str, value.data.fl);
    }
    std::fprintf(stderr, "Don't know about domain %u.\n", static_cast<unsigned>(opt.domain.value));
    return false;
}

template <class T> mem::Array<T> toArray(const std::vector<T>& v) {
    mem::Array<T> out(v.size(), mem::MALLOC, nullptr);
    for (size_t k = 0; k < v.size(); ++k)
        out[k] = v[k];
    return out;
}

} // namespace

namespace {

// One pass over the words of a command line.
class Pass {
public:
    Pass(const CmdLine& cmd, int argc, const char* const* argv)
        : m_cmd(cmd), m_argc(argc), m_argv(argv) {}

    CmdLine::Result run() {
        while (m_i < m_argc && m_goOn)
            word();
        CmdLine::Result result;
        if (m_status) {
            result.success = true;
            result.bindings = toArray(m_bindings);
            result.excess = toArray(m_excess);
        }
        return result;
    }

private:
    void word() {
        const char* arg = m_argv[m_i];
        if (std::strcmp(arg, "--") == 0)
            std::fprintf(stderr, "Got --\n");
        if (std::strcmp(arg, "--") == 0 || std::strcmp(arg, "-") == 0 || arg[0] != '-') {
            m_excess.push_back(arg);
            ++m_i;
            return;
        }
        const size_t optionPos = static_cast<size_t>(m_i++);
        std::string rest, display;
        const Option* opt = lookUp(arg, rest, display);
        if (!opt)
            return;
        std::vector<CmdLine::Value> values;
        if (!takeValues(*opt, rest, display, values))
            return;
        CmdLine::Binding b;
        b.pos = optionPos;
        b.values = toArray(values);
        b.source = opt;
        m_bindings.push_back(b);
    }

    // The option `arg` names, with its display form and the value written
    // into the same word; null, after a message, when there is none.
    const Option* lookUp(const char* arg, std::string& rest, std::string& display) {
        const Option* opt = nullptr;
        if (arg[1] == '-') {
            std::string word(arg + 2);
            size_t eq = word.find('=');
            std::string name = word.substr(0, eq);
            if (!m_cmd.hasLong(name))
                return refuse("Unknown long option: %s\n", name.c_str());
            opt = &m_cmd.forLong(name);
            rest = eq == std::string::npos ? std::string() : word.substr(eq);
            display = "--" + opt->longKey();
        } else {
            if (!m_cmd.hasShort(arg[1]))
                return refuse("Unknown short option: %s\n", arg + 1);
            opt = &m_cmd.forShort(arg[1]);
            rest = arg + 2;
            display = std::string("-") + opt->shortKey();
        }
        if (!rest.empty() && rest[0] == '=') {
            // "--subject= in.csv" and "-c= 5" must not take the next word
            // as the value, nor "--xes=" pass for "--xes".
            if (opt->maxArity == 0)
                return refuse("Option \"%s\" doesn't take parameters.\n", display.c_str());
            if (rest.size() == 1)
                return refuse("Option \"%s\" needs a value after \"=\".\n", display.c_str());
            rest.erase(0, 1);
        }
        return opt;
    }

    // The option's values: the one in its own word, then following words
    // that are no options. False when the option cannot be bound; a value
    // that does not parse also ends the pass.
    bool takeValues(const Option& opt, const std::string& rest, const std::string& display,
                    std::vector<CmdLine::Value>& values) {
        if (!rest.empty() && opt.maxArity == 0) {
            refuse("Option \"%s\" doesn't take parameters.\n", display.c_str());
            return false;
        }
        if (!rest.empty() && !take(rest.c_str(), opt, values))
            return false;
        while (m_i < m_argc && values.size() < opt.maxArity && m_argv[m_i][0] != '-') {
            if (!take(m_argv[m_i], opt, values))
                return false;
            ++m_i;
        }
        if (values.size() < opt.minArity) {
            std::fprintf(stderr, "Not enough arguments for option \"%s\": have %lu, need %lu.\n",
                         display.c_str(), static_cast<unsigned long>(values.size()),
                         static_cast<unsigned long>(opt.minArity));
            m_status = false;
            return false;
        }
        return true;
    }

    bool take(const char* text, const Option& opt, std::vector<CmdLine::Value>& values) {
        CmdLine::Value v;
        if (!processValue(text, opt, v)) {
            m_status = false;
            m_goOn = false;
            return false;
        }
        values.push_back(v);
        return true;
    }

    const Option* refuse(const char* format, const char* what) {
        std::fprintf(stderr, format, what);
        m_status = false;
        return nullptr;
    }

    const CmdLine& m_cmd;
    const int m_argc;
    const char* const* m_argv;
    int m_i = 1;
    bool m_status = true;
    bool m_goOn = true;
    std::vector<CmdLine::Binding> m_bindings;
    std::vector<std::string> m_excess;
};

} // namespace

CmdLine::Result CmdLine::parse(int argc, const char* const* argv) const {
    return Pass(*this, argc, argv).run();
}

} // namespace brenlo::cmdline
