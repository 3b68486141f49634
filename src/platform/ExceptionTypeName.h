#pragma once
// The type of the exception being handled, for reports about objects thrown
// that are none of the program's own exceptions.
#include <string>

namespace nemvo::platform {

// The readable type name of the exception currently being handled
// ("std::bad_alloc"); empty outside a catch block.
std::string CurrentExceptionTypeName();

}  // namespace nemvo::platform
