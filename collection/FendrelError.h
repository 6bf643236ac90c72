#pragma once

#include <stdexcept>
#include <string>

// The application's general error: an unexpected failure that ends the running command and is
// shown in the error box. The message is 8-bit text.
class EFendrelError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
