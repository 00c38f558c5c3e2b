// Points std::cout (and, when given input, std::cin) at strings for the life of a scope, so the
// console dialogue can be driven and its text compared.
#pragma once

#include <iostream>
#include <sstream>
#include <string>

class CConsoleRedirect {
public:
    explicit CConsoleRedirect(const std::string& input = "")
        : m_in(input),
          m_oldOut(std::cout.rdbuf(m_out.rdbuf())),
          m_oldIn(std::cin.rdbuf(m_in.rdbuf())) {
        std::cin.clear();
    }
    ~CConsoleRedirect() {
        std::cout.rdbuf(m_oldOut);
        std::cin.rdbuf(m_oldIn);
        std::cin.clear();
    }
    CConsoleRedirect(const CConsoleRedirect&) = delete;
    CConsoleRedirect& operator=(const CConsoleRedirect&) = delete;

    std::string Output() const { return m_out.str(); }

private:
    std::ostringstream m_out;
    std::istringstream m_in;
    std::streambuf* m_oldOut;
    std::streambuf* m_oldIn;
};
