#include "quorvel/driver.hpp"

#include "brenlo/exception.hpp"
#include "brenlo/replace.hpp"
#include "brenlo/string.hpp"

#include <exception>
#include <iostream>

namespace quorvel {

int runReportingFailures(const std::function<void()>& work) {
    try {
        work();
    } catch (std::exception* e) {
        std::cerr << e->what() << std::endl;
        delete e;
        return 2;
    } catch (const std::exception& e) {
        std::cerr << e.what() << std::endl;
        return 2;
    }
    return 0;
}

double realOption(const brenlo::cmdline::CmdLine::Value& value) {
    return brenlo::string::parse<double>(value.raw);
}

void writeOutput(const std::string& path, const std::function<void(std::ostream&)>& write) {
    if (path != "-") {
        brenlo::io::replaceFile(path, write);
        return;
    }
    write(std::cout);
    std::cout.flush();
    if (!std::cout)
        throw brenlo::IOException("Cannot write to standard output.");
}

} // namespace quorvel
