// The one error type of the tester that a user has to act on.
#pragma once

#include <stdexcept>

namespace torvik::tester {

// A problem the user has to fix: bad input, a bad option, an unwritable
// report folder. The message is complete and names the place (the option,
// or the file and line).
class TesterError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace torvik::tester
