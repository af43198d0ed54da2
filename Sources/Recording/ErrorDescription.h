// The one way the program turns a caught failure into the text the user sees: the program's own
// errors give their message, the platform layers' errors their own (Russian) description.
#pragma once

#include <QString>
#include <exception>

QString errorDescription(std::exception_ptr error);

// For use inside a catch block.
inline QString currentErrorDescription() {
    return errorDescription(std::current_exception());
}
