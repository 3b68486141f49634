#pragma once
// The database connection classes, made known to the class registry under
// their names with their stored properties, so that the administration
// module's stored definition can place one; and the page producer's own
// registration linked into the program.

namespace nemvo {

// Registers TCustomConnection and TIBDatabase, each unless a class of that
// name is registered already. Safe to call any number of times, from any
// thread.
void RegisterPlacedComponentClasses();

}  // namespace nemvo
